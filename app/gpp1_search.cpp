#include "app/gpp1_search.h"

#include "shell/console.h"
#include "shell/memory.h"
#include "shell/platform_context.h"

namespace {

constexpr UINTN DevicePathHeaderSize = sizeof(EFI_DEVICE_PATH_PROTOCOL);
constexpr UINT16 MinPciNodeLength = sizeof(PCI_DEVICE_PATH);

// How far the interface's record lies from the start of the card's array, from the pointer the
// driver keeps 96 bytes past the interface.
UINT64 EmmcRecordOffset(const EFI_BLOCK_IO_PROTOCOL *BlockIo) {
  UINT64 Interface = reinterpret_cast<UINT64>(BlockIo);
  UINT64 CardArray = 0;
  CopyBytes(&CardArray, reinterpret_cast<const UINT8 *>(BlockIo) + EmmcCardPointerOffset,
            sizeof(CardArray));
  return Interface - EmmcInterfaceOffsetInRecord - CardArray;
}

bool IsPciNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return Node->Type == HARDWARE_DEVICE_PATH && Node->SubType == HW_PCI_DP;
}

// What a device path walk does after a node: goes on, or ends with its answer.
enum class Walk { On, Yes, No };

// Hands Path's nodes up to its end node to Visit (the node and its length) until Visit gives an
// answer; AtEnd when it gives none. A node shorter than its own header would never advance the
// walk, and a path without an end within MaxDevicePathNodes cannot be trusted: both answer no.
template <typename Visitor>
bool WalkDevicePath(const EFI_DEVICE_PATH_PROTOCOL *Path, bool AtEnd, Visitor Visit) {
  const UINT8 *Node = reinterpret_cast<const UINT8 *>(Path);
  for (UINTN Count = 0; Node != nullptr && Count < MaxDevicePathNodes; Count++) {
    const auto *Header = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node);
    if (Header->Type == END_DEVICE_PATH_TYPE)
      return AtEnd;
    UINT16 Length = DevicePathNodeLength(Header);
    if (Length < DevicePathHeaderSize)
      return false;
    Walk Next = Visit(Header, Length);
    if (Next != Walk::On)
      return Next == Walk::Yes;
    Node += Length;
  }
  return false;
}

} // namespace

UINT64 EmmcPartitionNumber(const EFI_BLOCK_IO_PROTOCOL *BlockIo) {
  // Unsigned on purpose: an array above the record gives a huge quotient, never a partition.
  return EmmcRecordOffset(BlockIo) / EmmcPartitionRecordSize;
}

bool DevicePathPciDevice(const EFI_DEVICE_PATH_PROTOCOL *Path, UINT8 *Device) {
  return WalkDevicePath(Path, false, [&](const EFI_DEVICE_PATH_PROTOCOL *Node, UINT16 Length) {
    if (!IsPciNode(Node))
      return Walk::On;
    if (Length < MinPciNodeLength)
      return Walk::No;
    *Device = reinterpret_cast<const PCI_DEVICE_PATH *>(Node)->Device;
    return Walk::Yes;
  });
}

bool DevicePathHasNoMediaNode(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  bool PastPci = false;
  // A media node (hard drive, CD-ROM, file path, RAM disk...) or a BIOS boot node names something
  // inside a device, such as a partition-table entry of the user area, never one of the card's
  // hardware partitions. What else follows the PCI node, another PCI node of a bridge included, is
  // the platform's own way of describing the controller and is left alone.
  bool Sound = WalkDevicePath(Path, true, [&](const EFI_DEVICE_PATH_PROTOCOL *Node, UINT16) {
    if (PastPci && (Node->Type == MEDIA_DEVICE_PATH || Node->Type == BBS_DEVICE_PATH))
      return Walk::No;
    PastPci = PastPci || IsPciNode(Node);
    return Walk::On;
  });
  return Sound && PastPci;
}

EFI_BLOCK_IO_PROTOCOL *GetBlockIo(bool Debug) {
  EFI_BOOT_SERVICES *Bs = PlatformContext.BootServices;
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_STATUS Status =
      Bs->LocateHandleBuffer(ByProtocol, &EfiBlockIoProtocolGuid, nullptr, &HandleCount, &Handles);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot Locate BlockIo protocol. Status = %r\n", Status);
    return nullptr;
  }
  const PoolPtr<EFI_HANDLE> Owned(Handles);
  // "#460" is a fixed tag that log readers search for (see docs/kept-on-purpose.md).
  PrintDebug(Debug, u"%a(#%d) - BlockIo handle count is: %d\n", "GetBlockIo", 460,
             static_cast<int>(HandleCount));

  EFI_BLOCK_IO_PROTOCOL *Found = nullptr;
  bool SearchFailed = false;
  for (UINTN I = 0; I < HandleCount; I++) {
    EFI_BLOCK_IO_PROTOCOL *BlockIo = nullptr;
    Status = Bs->HandleProtocol(Handles[I], &EfiBlockIoProtocolGuid,
                                reinterpret_cast<VOID **>(&BlockIo));
    if (EFI_ERROR(Status)) {
      PrintDebug(Debug, u"Failed to Handle BlockIo Protocol. Status = %r\n", Status);
      SearchFailed = true;
      break;
    }
    EFI_DEVICE_PATH_PROTOCOL *Path = nullptr;
    UINT8 Device = 0;
    if (EFI_ERROR(Bs->HandleProtocol(Handles[I], &EfiDevicePathProtocolGuid,
                                     reinterpret_cast<VOID **>(&Path))) ||
        Path == nullptr || !DevicePathPciDevice(Path, &Device) || Device != EmmcPciDevice) {
      continue;
    }
    UINT64 Partition = EmmcPartitionNumber(BlockIo);
    PrintDebug(Debug, u"Get eMMC Partition number is: %d\n", static_cast<int>(Partition));
    if (Partition != Gpp1PartitionNumber)
      continue;
    // A partition table's entry inside the user area can sit on the same controller and, by
    // chance of its driver's memory, compute to the same number; its path gives it away.
    if (!DevicePathHasNoMediaNode(Path)) {
      PrintDebug(Debug, u"Not an eMMC hardware partition: passed over.\n");
      continue;
    }
    Found = BlockIo;
    break;
  }
  if (Found == nullptr && !SearchFailed)
    PrintConsole(u"ERROR: Failed to find partition!\n");
  return Found;
}
