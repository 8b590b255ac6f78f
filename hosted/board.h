// The Tarn board as the tool meets it, described from the board's side: the eMMC driver's
// per-partition records, the partitions' device paths, and the HOB list with the
// platform-information block. Freestanding, so that the hosted firmware the Linux front end runs
// the tool in, the test boards and the end-to-end board driver (SimBoard.efi) build the same
// board; the tool's own reading of the layout is checked against this only by running the tool
// over it.
#pragma once

#include "app/gpp1_search.h"
#include "uefi/uefi.h"

namespace board {

// PCI device of the on-board eMMC controller: the tool's own number, so that a board build that
// moves the controller moves it on the hosted board too. The sessions' recorded transcripts,
// which print the partitions' paths, hold the number independently.
using ::EmmcPciDevice;
// Partition numbers in the eMMC standard's order: 0 user area, 1-2 boot, 3 RPMB, 4-7 GPP1-4.
constexpr UINTN EmmcPartitionCount = 8;
constexpr UINT32 Gpp1Partition = 4;

constexpr UINTN DevicePathBytes = 40; // room for the longest partition path (35 bytes)

// One partition as the platform's eMMC driver keeps it: 136 bytes, the Block I/O interface at
// offset 48, and at offset 8 the start of the card's record array. The tool recovers the
// partition number from this layout: 96 bytes past an interface lies the next record's card
// pointer, so (interface - 48 - card) / 136 is the record's index.
struct EmmcPartitionRecord {
  UINT64 Signature;
  VOID *CardArray; // the card's first record
  UINT32 PartitionNumber;
  UINT32 Reserved;
  EFI_HANDLE Handle;
  EFI_BLOCK_IO_PROTOCOL *Backing; // GPP1: the disk that holds its blocks; null otherwise
  UINT8 *Storage;                 // the other partitions: their blocks in pool memory
  EFI_BLOCK_IO_PROTOCOL BlockIo;
  UINT8 DevicePath[DevicePathBytes];
};
static_assert(sizeof(EmmcPartitionRecord) == 136, "per-partition record is 136 bytes");
static_assert(offsetof(EmmcPartitionRecord, CardArray) == 8, "card pointer at record offset 8");
static_assert(offsetof(EmmcPartitionRecord, BlockIo) == 48, "Block I/O at record offset 48");

struct EmmcCard {
  EmmcPartitionRecord Partitions[EmmcPartitionCount];
  // After the last record the same card pointer once more, where the last interface's +96 lands.
  struct {
    UINT64 Signature;
    VOID *CardArray;
  } Tail;
  EFI_BLOCK_IO_MEDIA Media[EmmcPartitionCount];
};
static_assert(offsetof(EmmcCard, Tail.CardArray) ==
                  sizeof(EmmcCard::Partitions) + offsetof(EmmcPartitionRecord, CardArray),
              "the tail's card pointer lies where a ninth record's would");

constexpr UINT64 EmmcPartitionSignature = 0x5452415045434D45ULL; // "EMCEPART"
constexpr UINT64 EmmcCardTailSignature = 0x4C494154434D4D45ULL;  // "EMMCTAIL"

// Fills signatures, card pointers, partition numbers, media links and device paths
// (PciRoot(0x0)/Pci(EmmcPciDevice,0x0)/eMMC(0x0)/Ctrl(N)); leaves backing, storage and the Block
// I/O functions to the caller.
void InitEmmcCard(EmmcCard *Card);

// The partition number behind a Block I/O interface by the eMMC driver's layout.
UINT64 PartitionNumberOf(const EFI_BLOCK_IO_PROTOCOL *BlockIo);

// Hardware device path node naming one controller of a device; the eMMC partitions use it to
// tell their handles apart.
constexpr UINT8 HW_CONTROLLER_DP = 0x05;

// The phase hand-off information table: the first block of every HOB list. Its
// EfiEndOfHobList points at the list's end block.
struct EFI_HOB_HANDOFF_INFO_TABLE {
  EFI_HOB_GENERIC_HEADER Header;
  UINT32 Version;
  UINT32 BootMode;
  EFI_PHYSICAL_ADDRESS EfiMemoryTop;
  EFI_PHYSICAL_ADDRESS EfiMemoryBottom;
  EFI_PHYSICAL_ADDRESS EfiFreeMemoryTop;
  EFI_PHYSICAL_ADDRESS EfiFreeMemoryBottom;
  EFI_PHYSICAL_ADDRESS EfiEndOfHobList;
};
static_assert(sizeof(EFI_HOB_HANDOFF_INFO_TABLE) == 56, "phase hand-off table layout");
static_assert(offsetof(EFI_HOB_HANDOFF_INFO_TABLE, EfiEndOfHobList) == 48, "end-of-list offset");
constexpr UINT32 HandoffTableVersion = 0x0009;

// The platform firmware's information block, reduced to what the tool reads.
constexpr EFI_GUID PlatformInfoHobGuid = {
    0x1E2ACC41, 0xE26A, 0x483D, {0xAF, 0xC7, 0xA0, 0x56, 0xC3, 0x4E, 0x08, 0x7B}};
constexpr UINTN PlatformInfoDataSize = 96;
constexpr UINTN PlatformInfoGpp1WriteProtect = 89; // data offset of the write-protect flag
constexpr UINTN PlatformInfoHobLength = sizeof(EFI_HOB_GUID_TYPE) + PlatformInfoDataSize;
static_assert(PlatformInfoHobLength % 8 == 0, "HOBs keep 8-byte alignment");

// Upper bound for walking the firmware's list; OVMF's is a few kilobytes.
constexpr UINTN HobListLimit = 16 * 1024 * 1024;

// Bytes of the list before its end block. False when no end block comes within Limit bytes or a
// block is shorter than its header: such a list is not walked further.
bool MeasureHobList(const VOID *List, UINTN Limit, UINTN *Length);

// Size of the board's list for a firmware list of FirmwareLength bytes (end block excluded); 0
// when the firmware publishes none (U-Boot), and the board's list then starts with a hand-off
// table of its own, as every HOB list does.
constexpr UINTN BoardHobListSize(UINTN FirmwareLength) {
  return (FirmwareLength > 0 ? FirmwareLength : sizeof(EFI_HOB_HANDOFF_INFO_TABLE)) +
         PlatformInfoHobLength + sizeof(EFI_HOB_GENERIC_HEADER);
}

// Writes the platform-information block (PlatformInfoHobLength bytes) with the given flag, every
// other data byte Filler.
void WritePlatformInfoHob(VOID *Out, UINT8 WriteProtect, UINT8 Filler = 0);

// Writes into Out (BoardHobListSize bytes) the firmware's blocks (or, for FirmwareLength 0, a
// hand-off table describing no memory), the PlatformInfoHob with the given flag and an end block,
// and points the leading hand-off table at the new end.
void BuildBoardHobList(const VOID *Firmware, UINTN FirmwareLength, UINT8 WriteProtect, VOID *Out);

} // namespace board
