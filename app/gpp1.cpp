#include "app/gpp1.h"

#include "app/gpp1_search.h"

#include "shell/console.h"
#include "shell/memory.h"
#include "shell/platform_context.h"

namespace {

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
  PrintDebug(Visit->Debug, u"- GetBlockIo()...\n");
  *BlockIo = GetBlockIo(Visit->Debug);
  if (*BlockIo == nullptr) {
    Visit->Missing = true;
    PrintConsole(u"ERROR: Failed to open eMMC driver!\n");
    return ToolNoGpp1;
  }
  // The size is read once: the buffer and the transfer must agree on it.
  *BlockSize = UsableBlockSize(*BlockIo);
  if (*BlockSize == 0)
    return ToolNoGpp1;
  UINT32 Align = (*BlockIo)->Media->IoAlign;
  if (Align == 0)
    Align = 1;
  if ((Align & (Align - 1)) != 0 || Align > MaxIoAlign) {
    PrintConsole(
        u"ERROR: GPP1 asks for a buffer alignment of %d bytes, which no buffer can meet!\n",
        static_cast<int>(Align));
    return ToolNoGpp1;
  }
  UINTN Stride = (static_cast<UINTN>(*BlockSize) + Align - 1) / Align * Align;
  Buffer->Pool = PoolPtr<UINT8>::AllocateZeroed(Stride * Count + Align - 1);
  if (!Buffer->Pool) {
    PrintConsole(u"ERROR: Failed to allocate pool!\n");
    return ToolOutOfMemory;
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
    return ToolBadCommandLine;
  }
  EFI_STATUS Status = BlockIo->ReadBlocks(BlockIo, BlockIo->Media->MediaId, 0, BlockSize, Old);
  if (EFI_ERROR(Status)) {
    ReportTransferFailure(u"ERROR: Failed to read GPP1!\n", Status);
    return ToolGpp1Unreadable;
  }
  PrintDebug(Visit->Debug, u"- Copying data...\n");
  // The data fills the start of the block; the rest of the block is written as zeros.
  CopyBytes(New, Data, Length);
  PrintDebug(Visit->Debug, u"- Writing data...\n");
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
    return ToolVerifyFailed;
  }
  if (BytesEqual(Again, Old, Size)) {
    PrintConsole(u"- GPP1 read once more holds the block it held before: nothing was written.\n");
    return ToolWriteFailedUnchanged;
  }
  PrintConsole(u"ERROR: GPP1 read once more holds neither the block it held nor the new one!\n");
  return ToolWrittenUnknown;
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
    return ToolGpp1Unreadable;
  }
  Block->Data = Buffer.Data[0];
  Block->Size = BlockSize;
  Block->Pool = static_cast<PoolPtr<UINT8> &&>(Buffer.Pool);
  return ToolSuccess;
}

ToolStatus ReadGpp1Record(UINT8 *Destination) {
  if (Destination == nullptr) {
    ReportInternalError(InternalCheck::ReadGpp1Destination);
    return ToolBadCommandLine;
  }
  Gpp1Block Block;
  ToolStatus Status = ReadGpp1Block(&Block);
  if (Status == ToolSuccess)
    CopyBytes(Destination, Block.Data, BoardRecordSize);
  return Status;
}

ToolStatus WriteGpp1Record(const UINT8 *Image, Gpp1Visit *Visit) {
  if (Image == nullptr) {
    if (Visit != nullptr && Visit->Debug)
      ReportInternalError(InternalCheck::WriteGpp1Image);
    return ToolBadCommandLine;
  }
  return WriteGpp1(Image, BoardRecordSize, false, Visit);
}

ToolStatus WriteGpp1Block(const UINT8 *Data, UINT32 Size, Gpp1Visit *Visit) {
  return WriteGpp1(Data, Size, true, Visit);
}
