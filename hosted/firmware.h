// The firmware the Linux front end runs the tool in: a real EFI_SYSTEM_TABLE and EFI_BOOT_SERVICES
// whose slots are host functions with the firmware calling convention, so the product code runs
// unchanged, as it does under a board's firmware. One instance exists at a time.
//
// Its handle database keeps handles in creation order, each with its protocol interfaces, behind
// LocateHandleBuffer, LocateHandle, HandleProtocol, OpenProtocol, CloseProtocol and
// LocateProtocol; every open is tracked until its close. Its pool hands out host memory and
// refuses to take back what it never gave. Its console passes every text written to ConOut and to
// StdErr on as it comes; its keyboard has no keys (the front end puts its own in ConIn's slot).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "uefi/uefi.h"

struct OpenRecord {
  EFI_HANDLE Handle;
  EFI_GUID Guid;
  EFI_HANDLE Agent;
};

class HandleDatabase {
public:
  EFI_HANDLE CreateHandle();
  void Install(EFI_HANDLE Handle, const EFI_GUID &Guid, void *Interface);
  void *Find(EFI_HANDLE Handle, const EFI_GUID &Guid) const; // null: not there, or no handle
  std::vector<EFI_HANDLE> HandlesWith(const EFI_GUID &Guid) const;
  bool Exists(EFI_HANDLE Handle) const;
  // HandleProtocol's and OpenProtocol's lookup of Guid on Handle.
  EFI_STATUS LookUp(EFI_HANDLE Handle, const EFI_GUID &Guid, void **Interface) const;

  std::vector<OpenRecord> Opens; // open and not yet closed
  size_t UnmatchedCloses = 0;

private:
  using Protocols = std::vector<std::pair<EFI_GUID, void *>>;
  static void **Slot(EFI_HANDLE Handle, const EFI_GUID &Guid); // null: not on the handle
  std::vector<std::unique_ptr<Protocols>> Handles;
};

// Builds a device path node by node.
class DevicePathBuilder {
public:
  DevicePathBuilder &Node(uint8_t Type, uint8_t SubType, const std::vector<uint8_t> &Payload) {
    return RawNode(Type, SubType, static_cast<uint16_t>(4 + Payload.size()), Payload);
  }
  DevicePathBuilder &Acpi(uint32_t Hid = 0x0A0341D0, uint32_t Uid = 0); // PciRoot(Uid)
  DevicePathBuilder &Pci(uint8_t Device, uint8_t Function = 0) {
    return Node(HARDWARE_DEVICE_PATH, HW_PCI_DP, {Function, Device});
  }
  DevicePathBuilder &Emmc(uint8_t Slot = 0) {
    return Node(MESSAGING_DEVICE_PATH, MSG_EMMC_DP, {Slot});
  }
  DevicePathBuilder &Controller(uint32_t Number);
  DevicePathBuilder &End() {
    return Node(END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {});
  }
  // A node whose length field says Length whatever its payload.
  DevicePathBuilder &RawNode(uint8_t Type, uint8_t SubType, uint16_t Length,
                             const std::vector<uint8_t> &Payload);
  EFI_DEVICE_PATH_PROTOCOL *Data() {
    return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Bytes.data());
  }
  std::vector<uint8_t> Bytes;
};

class HostedFirmware {
public:
  HostedFirmware();
  virtual ~HostedFirmware();
  HostedFirmware(const HostedFirmware &) = delete;
  HostedFirmware &operator=(const HostedFirmware &) = delete;

  static HostedFirmware &Active();

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL ConOut{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL StdErr{}; // a console of its own, as under a shell's redirection
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL ConIn{};

  // Time as Stall passes it; nothing really waits.
  uint64_t Microseconds = 0;

  // Points PlatformContext at these tables (HobList from the configuration table, if any).
  void InstallInPlatformContext();

  size_t LiveAllocations() const { return Pool.size(); }
  // Allocates from and returns to the pool, for AllocatePool and FreePool and on behalf of a
  // service (e.g. LocateHandleBuffer). Fresh pool is filled with a pattern, so that code that
  // forgets to zero a buffer shows it.
  virtual void *PoolAllocate(size_t Size);
  void PoolFree(void *Buffer);

  // Where each OutputString text of ConOut, and of StdErr, goes as the tool writes it; nowhere
  // when unset.
  std::function<void(const std::u16string &)> ConsoleSink;
  std::function<void(const std::u16string &)> ErrorSink;

  HandleDatabase Handles;
  EFI_HANDLE ImageHandle = nullptr; // the loaded image of the application

  void AddConfigurationTable(const EFI_GUID &Guid, void *Table);

  // Called with the service's name at each call the firmware serves.
  virtual void CountCall(const char *) {}

private:
  std::map<const void *, size_t> Pool;
  std::vector<EFI_CONFIGURATION_TABLE> ConfigTable;
};

// Fills Count function slots from First with a service that answers EFI_UNSUPPORTED, so that a
// call this firmware does not serve fails instead of crashing the caller.
void FillUnsupported(void *First, size_t Count);

// Console text between the firmware's UCS-2 and 8-bit strings.
std::string NarrowText(const std::u16string &Text);
std::u16string WideText(const std::string &Text);
std::vector<std::u16string> WideTexts(const std::vector<std::string> &Texts);
