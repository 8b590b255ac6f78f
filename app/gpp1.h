// Access to GPP1 of the on-board eMMC: finding its Block I/O interface among all the firmware
// publishes, one-block reads and writes of block 0, and the platform's write-protect flag.
#pragma once

#include "app/board_record.h"
#include "shell/memory.h"

// The eMMC controller sits at PCI device 28; GPP1 is partition 4 in the eMMC numbering
// (0 user area, 1-2 boot, 3 RPMB, 4-7 GPP1-GPP4).
constexpr UINT8 EmmcPciDevice = 28;
constexpr UINT64 Gpp1PartitionNumber = 4;

// The platform's eMMC driver keeps each partition's Block I/O interface inside a 136-byte
// private record of an array that belongs to the card; 96 bytes past the interface it stores a
// pointer to that array. The interface sits 48 bytes into its record.
constexpr UINTN EmmcCardPointerOffset = 96;
constexpr UINT64 EmmcInterfaceOffsetInRecord = 48;
constexpr UINT64 EmmcPartitionRecordSize = 136;

// The platform firmware's description of the board, published as a GUID-extension HOB; byte 89
// of its data is the GPP1 write-protect flag.
constexpr EFI_GUID PlatformInfoHobGuid = {
    0x1E2ACC41, 0xE26A, 0x483D, {0xAF, 0xC7, 0xA0, 0x56, 0xC3, 0x4E, 0x08, 0x7B}};
constexpr UINTN PlatformInfoWriteProtectOffset = 89;

// Bounds on walks over firmware data, far beyond anything a real platform publishes.
constexpr UINTN MaxHobBlocks = 0x10000;
constexpr UINTN MaxDevicePathNodes = 0x400;

EFI_BLOCK_IO_PROTOCOL *GetBlockIo();

// What a call on GPP1 did besides its status, for the operation to tell in the run's story: no
// GPP1 found, a block handed to the device, and after a write the device failed, block 0 as read
// once more (Known false when that read failed too, or was not made).
struct Gpp1Visit {
  bool Missing;
  bool WriteReached;
  SeenRecord Again;
};

// The whole of block 0, read into a pool buffer it owns.
struct Gpp1Block {
  PoolPtr<UINT8> Pool;
  UINT8 *Data = nullptr;
  UINT32 Size = 0;
};
ToolStatus ReadGpp1Block(Gpp1Block *Block, Gpp1Visit *Visit = nullptr);
// The record at the start of block 0 alone.
ToolStatus ReadGpp1Record(UINT8 *Destination);
// Block 0 written as the record and zeros after it, or as exactly one block (a backup put back).
ToolStatus WriteGpp1Record(const UINT8 *Image, Gpp1Visit *Visit = nullptr);
ToolStatus WriteGpp1Block(const UINT8 *Data, UINT32 Size, Gpp1Visit *Visit = nullptr);

// The partition number the eMMC driver's private record gives an interface.
UINT64 EmmcPartitionNumber(const EFI_BLOCK_IO_PROTOCOL *BlockIo);
// The Device field of the first PCI node of Path; false when the path has none.
bool DevicePathPciDevice(const EFI_DEVICE_PATH_PROTOCOL *Path, UINT8 *Device);

// A cross-check that the card's hardware partitions pass and a partition-table entry inside the
// user area does not: the path ends soundly, and no media or BIOS boot node follows its first PCI
// node.
bool DevicePathHasNoMediaNode(const EFI_DEVICE_PATH_PROTOCOL *Path);

// The HOB walk's outcome. Unreadable: a block shorter than its header, or no end block within
// MaxHobBlocks; nothing past such a point can be trusted.
enum class HobSearch { Found, NotFound, Unreadable };
HobSearch SearchPlatformInfoHob(const VOID *HobList, const EFI_HOB_GUID_TYPE **Found);
const EFI_HOB_GUID_TYPE *FindPlatformInfoHob(const VOID *HobList);

// GPP1's write protection as the platform reports it. A list that cannot be walked soundly up to
// the platform block or its end leaves it Unknown, which no write may take for Writable. No list
// at all, or a list walked to its end without the block, means Writable.
enum class Gpp1Protection { Writable, Protected, Unknown };
Gpp1Protection Gpp1WriteProtection(const VOID *HobList);
// True unless the platform positively reports GPP1 writable.
bool IsGpp1WriteProtected(const VOID *HobList);
// The write and clear operations' check: status 8 with one "ERROR: " line unless GPP1 is
// reported writable.
ToolStatus RefuseIfWriteProtected();

// After a write, its flush or its read-back failed, GPP1 holds the old block, the new one or
// something else. Again is block 0 read once more (Size bytes; null when that read failed too),
// the new block is Data (Length bytes) followed by zeros, Old the block before the write (null
// when unknown). Says which on the console and gives the status: ToolWrittenUnconfirmed (the new
// block), ToolWriteFailedUnchanged (the old one), ToolWrittenUnknown (unreadable, or neither), or
// ToolCrcError when Old is unknown and the block is not the new one: the write did not hold, as a
// verify finds.
ToolStatus JudgeReadOnceMore(const UINT8 *Again, UINT32 Size, const UINT8 *Data, UINTN Length,
                             const UINT8 *Old);
