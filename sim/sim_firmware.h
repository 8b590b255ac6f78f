// Simulated firmware for the host: a real EFI_SYSTEM_TABLE and EFI_BOOT_SERVICES whose slots are
// host functions with the firmware calling convention, so the product code runs unchanged. One
// instance exists at a time.
//
// Its handle database keeps handles in creation order, each with its protocol interfaces, behind
// LocateHandleBuffer, LocateHandle, HandleProtocol, OpenProtocol, CloseProtocol and
// LocateProtocol. Lookups can be told to fail, and every open is tracked until its close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "uefi/uefi.h"

struct SimOpenRecord {
  EFI_HANDLE Handle;
  EFI_GUID Guid;
  EFI_HANDLE Agent;
};

class SimHandleDatabase {
public:
  EFI_HANDLE CreateHandle();
  void Install(EFI_HANDLE Handle, const EFI_GUID &Guid, void *Interface);
  void *Find(EFI_HANDLE Handle, const EFI_GUID &Guid) const; // null: not there, or no handle
  std::vector<EFI_HANDLE> HandlesWith(const EFI_GUID &Guid) const;
  bool Exists(EFI_HANDLE Handle) const;

  // HandleProtocol/OpenProtocol of Guid on Handle (null: on every handle) answer Status.
  void FailLookup(EFI_HANDLE Handle, const EFI_GUID &Guid, EFI_STATUS Status) {
    Faults.push_back({Handle, Guid, Status});
  }
  // Their lookup: an injected fault first, then the handle's own protocols.
  EFI_STATUS LookUp(EFI_HANDLE Handle, const EFI_GUID &Guid, void **Interface) const;
  EFI_STATUS LocateHandleBufferStatus = EFI_SUCCESS; // forced failure when an error

  std::vector<SimOpenRecord> Opens; // open and not yet closed
  size_t UnmatchedCloses = 0;

private:
  using Protocols = std::vector<std::pair<EFI_GUID, void *>>;
  static void **Slot(EFI_HANDLE Handle, const EFI_GUID &Guid); // null: not on the handle
  std::vector<std::unique_ptr<Protocols>> Handles;
  struct Fault {
    EFI_HANDLE Handle;
    EFI_GUID Guid;
    EFI_STATUS Status;
  };
  std::vector<Fault> Faults;
};

// Builds a device path node by node.
class SimDevicePath {
public:
  SimDevicePath &Node(uint8_t Type, uint8_t SubType, const std::vector<uint8_t> &Payload) {
    return RawNode(Type, SubType, static_cast<uint16_t>(4 + Payload.size()), Payload);
  }
  SimDevicePath &Acpi(uint32_t Hid = 0x0A0341D0, uint32_t Uid = 0); // PciRoot(Uid)
  SimDevicePath &Pci(uint8_t Device, uint8_t Function = 0) {
    return Node(HARDWARE_DEVICE_PATH, HW_PCI_DP, {Function, Device});
  }
  SimDevicePath &Emmc(uint8_t Slot = 0) { return Node(MESSAGING_DEVICE_PATH, MSG_EMMC_DP, {Slot}); }
  SimDevicePath &Controller(uint32_t Number);
  SimDevicePath &End() { return Node(END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {}); }
  // A node with an arbitrary (possibly bogus) length field, for malformed-path tests.
  SimDevicePath &RawNode(uint8_t Type, uint8_t SubType, uint16_t Length,
                         const std::vector<uint8_t> &Payload);
  EFI_DEVICE_PATH_PROTOCOL *Data() {
    return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Bytes.data());
  }
  std::vector<uint8_t> Bytes;
};

class SimFirmware {
public:
  SimFirmware();
  ~SimFirmware();
  SimFirmware(const SimFirmware &) = delete;
  SimFirmware &operator=(const SimFirmware &) = delete;

  static SimFirmware &Active();

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL ConOut{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL StdErr{}; // a console of its own, as under a shell's redirection
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL ConIn{};

  // Time as Stall passes it (nothing really waits), a key stroke that arrives once this much
  // time has passed (none when 0), and every ResetSystem call, which returns here.
  uint64_t Microseconds = 0;
  uint64_t KeyAt = 0;
  // Keys typed ahead, read one a call; Type() queues a text's characters, ESC (0x1B) as the Esc
  // key's scan code, as a serial terminal's firmware reports it.
  std::deque<EFI_INPUT_KEY> Keys;
  void Type(const std::u16string &Text);
  std::vector<EFI_RESET_TYPE> Resets;

  // Points PlatformContext at these tables (HobList from the configuration table, if any).
  void InstallInPlatformContext();

  size_t LiveAllocations() const { return Pool.size(); }
  size_t AllocationCount = 0; // AllocatePool calls made so far, failed ones included
  // Makes the Nth AllocatePool call from now (1-based) fail with EFI_OUT_OF_RESOURCES; 0 clears.
  void FailAllocationNumber(size_t N);
  // Allocates from and returns to the simulated pool, for AllocatePool and FreePool and on behalf
  // of a simulated service (e.g. LocateHandleBuffer).
  void *PoolAllocate(size_t Size);
  void PoolFree(void *Buffer);

  std::vector<std::u16string> ConsoleCalls; // every OutputString text, in order
  EFI_STATUS ConsoleStatus = EFI_SUCCESS;   // what OutputString returns
  std::string ConsoleText() const;          // all calls joined, narrowed to 8 bits
  std::vector<std::u16string> ErrorCalls;   // the same of StdErr
  std::string ErrorText() const;
  void ClearConsole() {
    ConsoleCalls.clear();
    ErrorCalls.clear();
  }

  SimHandleDatabase Handles;
  EFI_HANDLE ImageHandle = nullptr; // the loaded image of the application under test

  void AddConfigurationTable(const EFI_GUID &Guid, void *Table);

  std::map<std::string, size_t> Calls; // boot-service name -> number of calls
  size_t TotalCalls() const {
    return std::accumulate(Calls.begin(), Calls.end(), size_t{0},
                           [](size_t Sum, const auto &Entry) { return Sum + Entry.second; });
  }
  void CountCall(const char *Name) { Calls[Name]++; }

private:
  std::map<const void *, size_t> Pool;
  size_t FailAt = 0; // absolute AllocationCount value that fails, 0 for none
  std::vector<EFI_CONFIGURATION_TABLE> ConfigTable;
};

// Fills Count function slots from First with a service that answers EFI_UNSUPPORTED, so that a
// call the simulation does not serve fails instead of crashing the caller.
void FillNotSimulated(void *First, size_t Count);

// Text helpers for tests and the host front end.
std::string NarrowText(const std::u16string &Text);
std::u16string WideText(const std::string &Text);
std::vector<std::u16string> WideTexts(const std::vector<std::string> &Texts);
