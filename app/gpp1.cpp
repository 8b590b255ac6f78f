#include "app/gpp1.h"

#include "app/board_record.h"
#include "app/cli_options.h"
#include "shell/console.h"
#include "shell/memory.h"
#include "shell/platform_context.h"

namespace {

constexpr UINTN DevicePathHeaderSize = sizeof(EFI_DEVICE_PATH_PROTOCOL);
constexpr UINT16 MinPciNodeLength = sizeof(PCI_DEVICE_PATH);

// The media's block size when a whole record fits a block; 0 after reporting when it does not.
UINT32 UsableBlockSize(const EFI_BLOCK_IO_PROTOCOL *BlockIo) {
  UINT32 BlockSize = BlockIo->Media == nullptr ? 0 : BlockIo->Media->BlockSize;
  if (BlockSize < BoardRecordSize) {
    PrintConsole(u"ERROR: GPP1 block size of %d bytes cannot hold the board record!\n", BlockSize);
    return 0;
  }
  return BlockSize;
}

// Finds GPP1 afresh and takes a zeroed buffer of one block for the transfer; the caller releases
// the buffer.
ToolStatus OpenGpp1Block(EFI_BLOCK_IO_PROTOCOL **BlockIo, UINT8 **Block, UINT32 *BlockSize) {
  if (DebugEnabled)
    PrintConsole(u"- GetBlockIo()...\n");
  *BlockIo = GetBlockIo();
  if (*BlockIo == nullptr) {
    PrintConsole(u"ERROR: Failed to open eMMC driver!\n");
    return ToolDeviceError;
  }
  // The size is read once: the buffer and the transfer must agree on it.
  *BlockSize = UsableBlockSize(*BlockIo);
  if (*BlockSize == 0)
    return ToolDeviceError;
  *Block = static_cast<UINT8 *>(AllocateZeroedBuffer(*BlockSize));
  if (*Block == nullptr) {
    PrintConsole(u"ERROR: Failed to allocate pool!\n");
    return ToolOutOfResources;
  }
  return ToolSuccess;
}

} // namespace

ToolStatus TransferFailureStatus(EFI_STATUS Status) {
  EFI_STATUS Code = Status & ~EfiErrorBit;
  return Code == 0 ? ToolDeviceError : Code;
}

UINT64 EmmcPartitionNumber(const EFI_BLOCK_IO_PROTOCOL *BlockIo) {
  UINT64 Interface = reinterpret_cast<UINT64>(BlockIo);
  UINT64 CardArray = 0;
  CopyBytes(&CardArray, reinterpret_cast<const UINT8 *>(BlockIo) + EmmcCardPointerOffset,
            sizeof(CardArray));
  // Unsigned on purpose: an array above the record gives a huge quotient, never a partition.
  return (Interface - EmmcInterfaceOffsetInRecord - CardArray) / EmmcPartitionRecordSize;
}

bool DevicePathPciDevice(const EFI_DEVICE_PATH_PROTOCOL *Path, UINT8 *Device) {
  const UINT8 *Node = reinterpret_cast<const UINT8 *>(Path);
  for (UINTN Count = 0; Node != nullptr && Count < MaxDevicePathNodes; Count++) {
    const auto *Header = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node);
    if (Header->Type == END_DEVICE_PATH_TYPE)
      return false;
    UINT16 Length = DevicePathNodeLength(Header);
    // A node shorter than its own header would never advance the walk: the path ends here.
    if (Length < DevicePathHeaderSize)
      return false;
    if (Header->Type == HARDWARE_DEVICE_PATH && Header->SubType == HW_PCI_DP) {
      if (Length < MinPciNodeLength)
        return false;
      *Device = reinterpret_cast<const PCI_DEVICE_PATH *>(Node)->Device;
      return true;
    }
    Node += Length;
  }
  return false;
}

EFI_BLOCK_IO_PROTOCOL *GetBlockIo() {
  EFI_BOOT_SERVICES *Bs = PlatformContext.BootServices;
  UINTN HandleCount = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_STATUS Status =
      Bs->LocateHandleBuffer(ByProtocol, &EfiBlockIoProtocolGuid, nullptr, &HandleCount, &Handles);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot Locate BlockIo protocol. Status = %r\n", Status);
    return nullptr;
  }
  if (DebugEnabled)
    PrintConsole(u"%a(#%d) - BlockIo handle count is: %d\n", "GetBlockIo", 460,
                 static_cast<int>(HandleCount));

  EFI_BLOCK_IO_PROTOCOL *Found = nullptr;
  bool SearchFailed = false;
  for (UINTN I = 0; I < HandleCount; I++) {
    EFI_BLOCK_IO_PROTOCOL *BlockIo = nullptr;
    Status = Bs->HandleProtocol(Handles[I], &EfiBlockIoProtocolGuid,
                                reinterpret_cast<VOID **>(&BlockIo));
    if (EFI_ERROR(Status)) {
      if (DebugEnabled)
        PrintConsole(u"Failed to Handle BlockIo Protocol. Status = %r\n", Status);
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
    if (DebugEnabled)
      PrintConsole(u"Get eMMC Partition number is: %d\n", static_cast<int>(Partition));
    if (Partition == Gpp1PartitionNumber) {
      Found = BlockIo;
      break;
    }
  }
  Bs->FreePool(Handles);
  if (Found == nullptr && !SearchFailed)
    PrintConsole(u"ERROR: Failed to find partition!\n");
  return Found;
}

ToolStatus ReadGpp1Record(UINT8 *Destination) {
  return ReadGpp1RecordAndTail(Destination, nullptr);
}

ToolStatus ReadGpp1RecordAndTail(UINT8 *Destination, bool *TailIsZero) {
  if (Destination == nullptr) {
    ReportInternalError(InternalCheck::ReadGpp1Destination);
    return ToolInvalidParameter;
  }
  EFI_BLOCK_IO_PROTOCOL *BlockIo = nullptr;
  UINT8 *Block = nullptr;
  UINT32 BlockSize = 0;
  ToolStatus Opened = OpenGpp1Block(&BlockIo, &Block, &BlockSize);
  if (Opened != ToolSuccess)
    return Opened;
  EFI_STATUS Status = BlockIo->ReadBlocks(BlockIo, BlockIo->Media->MediaId, 0, BlockSize, Block);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Failed to read GPP1!\n");
    FreeBuffer(Block);
    return TransferFailureStatus(Status);
  }
  CopyBytes(Destination, Block, BoardRecordSize);
  if (TailIsZero != nullptr)
    *TailIsZero = AllBytesZero(Block + BoardRecordSize, BlockSize - BoardRecordSize);
  FreeBuffer(Block);
  return ToolSuccess;
}

ToolStatus WriteGpp1Record(const UINT8 *Image) {
  if (Image == nullptr) {
    if (DebugEnabled)
      ReportInternalError(InternalCheck::WriteGpp1Image);
    return ToolInvalidParameter;
  }
  EFI_BLOCK_IO_PROTOCOL *BlockIo = nullptr;
  UINT8 *Block = nullptr;
  UINT32 BlockSize = 0;
  ToolStatus Opened = OpenGpp1Block(&BlockIo, &Block, &BlockSize);
  if (Opened != ToolSuccess)
    return Opened;
  if (DebugEnabled)
    PrintConsole(u"- Copying data...\n");
  // The record fills the start of the block; the rest of the block is written as zeros.
  CopyBytes(Block, Image, BoardRecordSize);
  if (DebugEnabled)
    PrintConsole(u"- Writing data...\n");
  EFI_STATUS Status = BlockIo->WriteBlocks(BlockIo, BlockIo->Media->MediaId, 0, BlockSize, Block);
  FreeBuffer(Block);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Failed to write GPP1!\n");
    return TransferFailureStatus(Status);
  }
  return ToolSuccess;
}

const EFI_HOB_GUID_TYPE *FindPlatformInfoHob(const VOID *HobList) {
  const UINT8 *Block = static_cast<const UINT8 *>(HobList);
  for (UINTN Count = 0; Block != nullptr && Count < MaxHobBlocks; Count++) {
    // Headers are copied out byte by byte: a block length that is not a multiple of 8, as a
    // damaged list can have, leaves the next header misaligned.
    EFI_HOB_GENERIC_HEADER Header;
    CopyBytes(&Header, Block, sizeof(Header));
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST)
      return nullptr;
    // A block shorter than its header would stall the walk; the list is unusable past it.
    if (Header.HobLength < sizeof(EFI_HOB_GENERIC_HEADER))
      return nullptr;
    if (Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        Header.HobLength >= sizeof(EFI_HOB_GUID_TYPE) &&
        GuidsEqual(reinterpret_cast<const EFI_GUID *>(Block + offsetof(EFI_HOB_GUID_TYPE, Name)),
                   &PlatformInfoHobGuid)) {
      return reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Block);
    }
    Block += Header.HobLength;
  }
  return nullptr;
}

bool IsGpp1WriteProtected(const VOID *HobList) {
  const EFI_HOB_GUID_TYPE *Hob = FindPlatformInfoHob(HobList);
  if (Hob == nullptr)
    return false;
  EFI_HOB_GENERIC_HEADER Header;
  CopyBytes(&Header, Hob, sizeof(Header));
  constexpr UINTN FlagOffset = sizeof(EFI_HOB_GUID_TYPE) + PlatformInfoWriteProtectOffset;
  // A platform block too short to carry the flag cannot vouch for a writable partition.
  if (Header.HobLength <= FlagOffset)
    return true;
  return reinterpret_cast<const UINT8 *>(Hob)[FlagOffset] != 0;
}
