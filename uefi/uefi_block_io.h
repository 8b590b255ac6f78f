// EFI_BLOCK_IO_PROTOCOL and its media record.
#pragma once

#include "uefi/uefi_base.h"

struct EFI_BLOCK_IO_PROTOCOL;

struct EFI_BLOCK_IO_MEDIA {
  UINT32 MediaId;
  BOOLEAN RemovableMedia;
  BOOLEAN MediaPresent;
  BOOLEAN LogicalPartition;
  BOOLEAN ReadOnly;
  BOOLEAN WriteCaching;
  UINT32 BlockSize;
  UINT32 IoAlign;
  EFI_LBA LastBlock;
  EFI_LBA LowestAlignedLba;
  UINT32 LogicalBlocksPerPhysicalBlock;
  UINT32 OptimalTransferLengthGranularity;
};
static_assert(sizeof(EFI_BLOCK_IO_MEDIA) == 48, "EFI_BLOCK_IO_MEDIA layout");
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, MediaId) == 0, "MediaId offset");
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, ReadOnly) == 7, "ReadOnly offset");
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, BlockSize) == 12, "BlockSize offset");
static_assert(offsetof(EFI_BLOCK_IO_MEDIA, LastBlock) == 24, "LastBlock offset");

typedef EFI_STATUS(EFIAPI *EFI_BLOCK_RESET)(EFI_BLOCK_IO_PROTOCOL *This,
                                            BOOLEAN ExtendedVerification);
typedef EFI_STATUS(EFIAPI *EFI_BLOCK_READ)(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId,
                                           EFI_LBA Lba, UINTN BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_BLOCK_WRITE)(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId,
                                            EFI_LBA Lba, UINTN BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_BLOCK_FLUSH)(EFI_BLOCK_IO_PROTOCOL *This);

struct EFI_BLOCK_IO_PROTOCOL {
  UINT64 Revision;
  EFI_BLOCK_IO_MEDIA *Media;
  EFI_BLOCK_RESET Reset;
  EFI_BLOCK_READ ReadBlocks;
  EFI_BLOCK_WRITE WriteBlocks;
  EFI_BLOCK_FLUSH FlushBlocks;
};
static_assert(sizeof(EFI_BLOCK_IO_PROTOCOL) == 48, "EFI_BLOCK_IO_PROTOCOL layout");
static_assert(offsetof(EFI_BLOCK_IO_PROTOCOL, Media) == 8, "Media offset");
static_assert(offsetof(EFI_BLOCK_IO_PROTOCOL, ReadBlocks) == 24, "ReadBlocks slot");
static_assert(offsetof(EFI_BLOCK_IO_PROTOCOL, WriteBlocks) == 32, "WriteBlocks slot");

constexpr UINT64 EFI_BLOCK_IO_PROTOCOL_REVISION3 = 0x0002001F;

constexpr EFI_GUID EfiBlockIoProtocolGuid = {
    0x964E5B21, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
