#include "app/gpp1.h"

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

// Pool memory is only 8-byte aligned; a controller that moves blocks by DMA may need more and
// says so in its media's IoAlign (0 or 1: any address, otherwise a power of two). A larger value
// than this is not a buffer alignment any device needs.
constexpr UINT32 MaxIoAlign = 0x10000;

// Transfer buffers of one block each, placed at the media's alignment inside one pool buffer;
// each starts a whole number of alignments after the one before it.
constexpr UINTN MaxTransferBlocks = 3;
struct BlockBuffer {
  PoolPtr<UINT8> Pool;
  UINT8 *Data[MaxTransferBlocks];
};

// Finds GPP1 afresh and takes Count zeroed, suitably aligned buffers of one block each for the
// transfers, which Buffer owns.
ToolStatus OpenGpp1Block(EFI_BLOCK_IO_PROTOCOL **BlockIo, BlockBuffer *Buffer, UINT32 *BlockSize,
                         Gpp1Visit *Visit, UINTN Count = 1) {
  PrintDebug(u"- GetBlockIo()...\n");
  *BlockIo = GetBlockIo();
  if (*BlockIo == nullptr) {
    Visit->Missing = true;
    PrintConsole(u"ERROR: Failed to open eMMC driver!\n");
    return ToolDeviceError;
  }
  // The size is read once: the buffer and the transfer must agree on it.
  *BlockSize = UsableBlockSize(*BlockIo);
  if (*BlockSize == 0)
    return ToolDeviceError;
  UINT32 Align = (*BlockIo)->Media->IoAlign;
  if (Align == 0)
    Align = 1;
  if ((Align & (Align - 1)) != 0 || Align > MaxIoAlign) {
    PrintConsole(
        u"ERROR: GPP1 asks for a buffer alignment of %d bytes, which no buffer can meet!\n",
        static_cast<int>(Align));
    return ToolDeviceError;
  }
  UINTN Stride = (static_cast<UINTN>(*BlockSize) + Align - 1) / Align * Align;
  Buffer->Pool = PoolPtr<UINT8>::AllocateZeroed(Stride * Count + Align - 1);
  if (!Buffer->Pool) {
    PrintConsole(u"ERROR: Failed to allocate pool!\n");
    return ToolOutOfResources;
  }
  UINTN Address = reinterpret_cast<UINTN>(Buffer->Pool.Get());
  UINT8 *First = Buffer->Pool.Get() + ((Align - Address % Align) % Align);
  for (UINTN I = 0; I < Count; I++)
    Buffer->Data[I] = First + I * Stride;
  return ToolSuccess;
}

// The "ERROR: Failed to ... GPP1!" line, followed by the device's own reason: the exit status
// says what the failure did to GPP1, the device's status only why.
VOID ReportTransferFailure(ConsoleFormat<> Line, EFI_STATUS Status) {
  PrintConsole(Line);
  PrintConsole(u"GPP1 device status: %r\n", Status);
}

// How far the interface's record lies from the start of the card's array, from the pointer the
// driver keeps 96 bytes past the interface.
UINT64 EmmcRecordOffset(const EFI_BLOCK_IO_PROTOCOL *BlockIo) {
  UINT64 Interface = reinterpret_cast<UINT64>(BlockIo);
  UINT64 CardArray = 0;
  CopyBytes(&CardArray, reinterpret_cast<const UINT8 *>(BlockIo) + EmmcCardPointerOffset,
            sizeof(CardArray));
  return Interface - EmmcInterfaceOffsetInRecord - CardArray;
}

// Writes Length bytes (the record, or with WholeBlock exactly one block) to block 0, the rest of
// the block as zeros. Block 0 is read first, so that a write the device fails can be judged: one
// more read afterwards tells a block left as it was from the new block and from neither.
ToolStatus WriteGpp1(const UINT8 *Data, UINTN Length, bool WholeBlock, Gpp1Visit *Visit) {
  Gpp1Visit Unheard = {};
  if (Visit == nullptr)
    Visit = &Unheard;
  EFI_BLOCK_IO_PROTOCOL *BlockIo = nullptr;
  BlockBuffer Buffer = {};
  UINT32 BlockSize = 0;
  ToolStatus Opened = OpenGpp1Block(&BlockIo, &Buffer, &BlockSize, Visit, MaxTransferBlocks);
  if (Opened != ToolSuccess)
    return Opened;
  UINT8 *New = Buffer.Data[0], *Old = Buffer.Data[1], *Again = Buffer.Data[2];
  if (WholeBlock && Length != BlockSize) {
    PrintConsole(u"ERROR: GPP1 blocks hold %d bytes, not %d!\n", static_cast<int>(BlockSize),
                 static_cast<int>(Length));
    return ToolInvalidParameter;
  }
  EFI_STATUS Status = BlockIo->ReadBlocks(BlockIo, BlockIo->Media->MediaId, 0, BlockSize, Old);
  if (EFI_ERROR(Status)) {
    ReportTransferFailure(u"ERROR: Failed to read GPP1!\n", Status);
    return ToolReadFailed;
  }
  PrintDebug(u"- Copying data...\n");
  // The data fills the start of the block; the rest of the block is written as zeros.
  CopyBytes(New, Data, Length);
  PrintDebug(u"- Writing data...\n");
  Visit->WriteReached = true;
  Status = BlockIo->WriteBlocks(BlockIo, BlockIo->Media->MediaId, 0, BlockSize, New);
  // A device may hold the block in its write cache and report success; until the flush has
  // succeeded the record may be lost with the power, and a read-back would only see the cache.
  // A driver without a flush (none, or one that answers EFI_UNSUPPORTED) keeps no write cache:
  // its write stands, and the read-back decides.
  if (!EFI_ERROR(Status) && BlockIo->FlushBlocks != nullptr) {
    Status = BlockIo->FlushBlocks(BlockIo);
    if (Status == EFI_UNSUPPORTED)
      Status = EFI_SUCCESS;
  }
  if (!EFI_ERROR(Status))
    return ToolSuccess;
  ReportTransferFailure(u"ERROR: Failed to write GPP1!\n", Status);
  Status = BlockIo->ReadBlocks(BlockIo, BlockIo->Media->MediaId, 0, BlockSize, Again);
  if (EFI_ERROR(Status))
    return JudgeReadOnceMore(nullptr, BlockSize, New, BlockSize, Old);
  Visit->Again = SeeBlock(Again, BlockSize);
  return JudgeReadOnceMore(Again, BlockSize, New, BlockSize, Old);
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

ToolStatus JudgeReadOnceMore(const UINT8 *Again, UINT32 Size, const UINT8 *Data, UINTN Length,
                             const UINT8 *Old) {
  if (Again == nullptr) {
    PrintConsole(u"ERROR: GPP1 cannot be read once more: what it holds is unknown!\n");
    return ToolWrittenUnknown;
  }
  if (Length <= Size && BytesEqual(Again, Data, Length) &&
      AllBytesZero(Again + Length, Size - Length)) {
    PrintConsole(u"- GPP1 read once more holds the new block, unconfirmed by the device.\n");
    return ToolWrittenUnconfirmed;
  }
  if (Old == nullptr) {
    PrintConsole(u"ERROR: Failed to verify GPP1!\n");
    return ToolCrcError;
  }
  if (BytesEqual(Again, Old, Size)) {
    PrintConsole(u"- GPP1 read once more holds the block it held before: nothing was written.\n");
    return ToolWriteFailedUnchanged;
  }
  PrintConsole(u"ERROR: GPP1 read once more holds neither the block it held nor the new one!\n");
  return ToolWrittenUnknown;
}

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
  const PoolPtr<EFI_HANDLE> Owned(Handles);
  // "#460" is a fixed tag that log readers search for (see docs/kept-on-purpose.md).
  PrintDebug(u"%a(#%d) - BlockIo handle count is: %d\n", "GetBlockIo", 460,
             static_cast<int>(HandleCount));

  EFI_BLOCK_IO_PROTOCOL *Found = nullptr;
  bool SearchFailed = false;
  for (UINTN I = 0; I < HandleCount; I++) {
    EFI_BLOCK_IO_PROTOCOL *BlockIo = nullptr;
    Status = Bs->HandleProtocol(Handles[I], &EfiBlockIoProtocolGuid,
                                reinterpret_cast<VOID **>(&BlockIo));
    if (EFI_ERROR(Status)) {
      PrintDebug(u"Failed to Handle BlockIo Protocol. Status = %r\n", Status);
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
    PrintDebug(u"Get eMMC Partition number is: %d\n", static_cast<int>(Partition));
    if (Partition != Gpp1PartitionNumber)
      continue;
    // A partition table's entry inside the user area can sit on the same controller and, by
    // chance of its driver's memory, compute to the same number; its path gives it away.
    if (!DevicePathHasNoMediaNode(Path)) {
      PrintDebug(u"Not an eMMC hardware partition: passed over.\n");
      continue;
    }
    Found = BlockIo;
    break;
  }
  if (Found == nullptr && !SearchFailed)
    PrintConsole(u"ERROR: Failed to find partition!\n");
  return Found;
}

ToolStatus ReadGpp1Block(Gpp1Block *Block, Gpp1Visit *Visit) {
  Gpp1Visit Unheard = {};
  EFI_BLOCK_IO_PROTOCOL *BlockIo = nullptr;
  BlockBuffer Buffer = {};
  UINT32 BlockSize = 0;
  ToolStatus Opened =
      OpenGpp1Block(&BlockIo, &Buffer, &BlockSize, Visit != nullptr ? Visit : &Unheard);
  if (Opened != ToolSuccess)
    return Opened;
  EFI_STATUS Status =
      BlockIo->ReadBlocks(BlockIo, BlockIo->Media->MediaId, 0, BlockSize, Buffer.Data[0]);
  if (EFI_ERROR(Status)) {
    ReportTransferFailure(u"ERROR: Failed to read GPP1!\n", Status);
    return ToolReadFailed;
  }
  Block->Data = Buffer.Data[0];
  Block->Size = BlockSize;
  Block->Pool = static_cast<PoolPtr<UINT8> &&>(Buffer.Pool);
  return ToolSuccess;
}

ToolStatus ReadGpp1Record(UINT8 *Destination) {
  if (Destination == nullptr) {
    ReportInternalError(InternalCheck::ReadGpp1Destination);
    return ToolInvalidParameter;
  }
  Gpp1Block Block;
  ToolStatus Status = ReadGpp1Block(&Block);
  if (Status == ToolSuccess)
    CopyBytes(Destination, Block.Data, BoardRecordSize);
  return Status;
}

ToolStatus WriteGpp1Record(const UINT8 *Image, Gpp1Visit *Visit) {
  if (Image == nullptr) {
    if (DebugEnabled)
      ReportInternalError(InternalCheck::WriteGpp1Image);
    return ToolInvalidParameter;
  }
  return WriteGpp1(Image, BoardRecordSize, false, Visit);
}

ToolStatus WriteGpp1Block(const UINT8 *Data, UINT32 Size, Gpp1Visit *Visit) {
  return WriteGpp1(Data, Size, true, Visit);
}

HobSearch SearchPlatformInfoHob(const VOID *HobList, const EFI_HOB_GUID_TYPE **Found) {
  *Found = nullptr;
  const UINT8 *Block = static_cast<const UINT8 *>(HobList);
  if (Block == nullptr)
    return HobSearch::NotFound;
  for (UINTN Count = 0; Count < MaxHobBlocks; Count++) {
    // Headers are copied out byte by byte: a block length that is not a multiple of 8, as a
    // damaged list can have, leaves the next header misaligned.
    EFI_HOB_GENERIC_HEADER Header;
    CopyBytes(&Header, Block, sizeof(Header));
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST)
      return HobSearch::NotFound;
    // A block shorter than its header would stall the walk, and where the next block starts is
    // then unknown: the list cannot be read past it.
    if (Header.HobLength < sizeof(EFI_HOB_GENERIC_HEADER))
      return HobSearch::Unreadable;
    if (Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        Header.HobLength >= sizeof(EFI_HOB_GUID_TYPE) &&
        GuidsEqual(reinterpret_cast<const EFI_GUID *>(Block + offsetof(EFI_HOB_GUID_TYPE, Name)),
                   &PlatformInfoHobGuid)) {
      *Found = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Block);
      return HobSearch::Found;
    }
    Block += Header.HobLength;
  }
  // No end block within far more blocks than any firmware publishes: not a list.
  return HobSearch::Unreadable;
}

const EFI_HOB_GUID_TYPE *FindPlatformInfoHob(const VOID *HobList) {
  const EFI_HOB_GUID_TYPE *Found = nullptr;
  SearchPlatformInfoHob(HobList, &Found);
  return Found;
}

Gpp1Protection Gpp1WriteProtection(const VOID *HobList) {
  const EFI_HOB_GUID_TYPE *Hob = nullptr;
  switch (SearchPlatformInfoHob(HobList, &Hob)) {
  case HobSearch::NotFound:
    return Gpp1Protection::Writable;
  case HobSearch::Unreadable:
    return Gpp1Protection::Unknown;
  case HobSearch::Found:
    break;
  }
  EFI_HOB_GENERIC_HEADER Header;
  CopyBytes(&Header, Hob, sizeof(Header));
  constexpr UINTN FlagOffset = sizeof(EFI_HOB_GUID_TYPE) + PlatformInfoWriteProtectOffset;
  // A platform block too short to carry the flag cannot vouch for a writable partition.
  if (Header.HobLength <= FlagOffset)
    return Gpp1Protection::Protected;
  return reinterpret_cast<const UINT8 *>(Hob)[FlagOffset] != 0 ? Gpp1Protection::Protected
                                                               : Gpp1Protection::Writable;
}

bool IsGpp1WriteProtected(const VOID *HobList) {
  return Gpp1WriteProtection(HobList) != Gpp1Protection::Writable;
}

ToolStatus RefuseIfWriteProtected() {
  switch (Gpp1WriteProtection(PlatformContext.HobList)) {
  case Gpp1Protection::Writable:
    return ToolSuccess;
  case Gpp1Protection::Protected:
    PrintConsole(u"ERROR: eMMC GPP1 is still write protected!\n");
    break;
  case Gpp1Protection::Unknown:
    PrintConsole(u"ERROR: GPP1 write protection is unknown: the firmware's HOB list is damaged!\n");
    break;
  }
  return ToolWriteProtected;
}
