// The simulated handle database: handles in creation order, each with its protocol interfaces,
// behind LocateHandleBuffer, LocateHandle, HandleProtocol, OpenProtocol, CloseProtocol and
// LocateProtocol. Lookups can be told to fail, and every open is tracked until its close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
  SimDevicePath &Node(uint8_t Type, uint8_t SubType, const std::vector<uint8_t> &Payload);
  SimDevicePath &Acpi(uint32_t Hid = 0x0A0341D0, uint32_t Uid = 0); // PciRoot(Uid)
  SimDevicePath &Pci(uint8_t Device, uint8_t Function = 0);
  SimDevicePath &Emmc(uint8_t Slot = 0);
  SimDevicePath &Controller(uint32_t Number);
  SimDevicePath &End();
  // A node with an arbitrary (possibly bogus) length field, for malformed-path tests.
  SimDevicePath &RawNode(uint8_t Type, uint8_t SubType, uint16_t Length,
                         const std::vector<uint8_t> &Payload);
  EFI_DEVICE_PATH_PROTOCOL *Data() {
    return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Bytes.data());
  }
  std::vector<uint8_t> Bytes;
};
