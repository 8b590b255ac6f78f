// The board description's builders: the eMMC card's records and paths, and the HOB list.
#include "hosted/board.h"

namespace board {
namespace {

constexpr UINT32 PciRootHid = 0x0A0341D0; // EISA PNP0A03, the PCI host bridge
constexpr UINTN DevicePathHeaderBytes = sizeof(EFI_DEVICE_PATH_PROTOCOL);
constexpr UINTN RecordToBlockIo = offsetof(EmmcPartitionRecord, BlockIo);
constexpr UINTN BlockIoToNextCard =
    sizeof(EmmcPartitionRecord) - RecordToBlockIo + offsetof(EmmcPartitionRecord, CardArray);
static_assert(BlockIoToNextCard == 96, "the tool reads the card pointer 96 bytes on");

UINT8 *AppendNode(UINT8 *Cursor, UINT8 Type, UINT8 SubType, const VOID *Payload, UINTN Size) {
  const UINTN Length = DevicePathHeaderBytes + Size;
  Cursor[0] = Type;
  Cursor[1] = SubType;
  Cursor[2] = static_cast<UINT8>(Length);
  Cursor[3] = static_cast<UINT8>(Length >> 8);
  __builtin_memcpy(Cursor + DevicePathHeaderBytes, Payload, Size);
  return Cursor + Length;
}

void BuildPartitionPath(UINT8 *Path, UINT32 Partition) {
  const UINT32 Root[2] = {PciRootHid, 0};
  const UINT8 Pci[2] = {0x00, EmmcPciDevice}; // function, device
  const UINT8 Slot = 0;
  UINT8 *Cursor = AppendNode(Path, ACPI_DEVICE_PATH, ACPI_DP, Root, sizeof(Root));
  Cursor = AppendNode(Cursor, HARDWARE_DEVICE_PATH, HW_PCI_DP, Pci, sizeof(Pci));
  Cursor = AppendNode(Cursor, MESSAGING_DEVICE_PATH, MSG_EMMC_DP, &Slot, sizeof(Slot));
  Cursor =
      AppendNode(Cursor, HARDWARE_DEVICE_PATH, HW_CONTROLLER_DP, &Partition, sizeof(Partition));
  AppendNode(Cursor, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, nullptr, 0);
}

} // namespace

void InitEmmcCard(EmmcCard *Card) {
  for (UINT32 I = 0; I < EmmcPartitionCount; I++) {
    EmmcPartitionRecord &Record = Card->Partitions[I];
    Record.Signature = EmmcPartitionSignature;
    Record.CardArray = Card->Partitions;
    Record.PartitionNumber = I;
    Record.BlockIo.Media = &Card->Media[I];
    BuildPartitionPath(Record.DevicePath, I);
  }
  Card->Tail.Signature = EmmcCardTailSignature;
  Card->Tail.CardArray = Card->Partitions;
}

UINT64 PartitionNumberOf(const EFI_BLOCK_IO_PROTOCOL *BlockIo) {
  const UINT64 Interface = reinterpret_cast<UINT64>(BlockIo);
  UINT64 Card;
  __builtin_memcpy(&Card, reinterpret_cast<const UINT8 *>(BlockIo) + BlockIoToNextCard,
                   sizeof(Card));
  return (Interface - RecordToBlockIo - Card) / sizeof(EmmcPartitionRecord);
}

bool MeasureHobList(const VOID *List, UINTN Limit, UINTN *Length) {
  const UINT8 *Bytes = static_cast<const UINT8 *>(List);
  UINTN Offset = 0;
  while (Offset + sizeof(EFI_HOB_GENERIC_HEADER) <= Limit) {
    const auto *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Bytes + Offset);
    if (Header->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      *Length = Offset;
      return true;
    }
    if (Header->HobLength < sizeof(EFI_HOB_GENERIC_HEADER))
      return false;
    Offset += Header->HobLength;
  }
  return false;
}

void WritePlatformInfoHob(VOID *Out, UINT8 WriteProtect, UINT8 Filler) {
  auto *Info = static_cast<EFI_HOB_GUID_TYPE *>(Out);
  __builtin_memset(Info, 0, sizeof(EFI_HOB_GUID_TYPE));
  Info->Header.HobType = EFI_HOB_TYPE_GUID_EXTENSION;
  Info->Header.HobLength = static_cast<UINT16>(PlatformInfoHobLength);
  Info->Name = PlatformInfoHobGuid;
  auto *Data = reinterpret_cast<UINT8 *>(Info + 1);
  __builtin_memset(Data, Filler, PlatformInfoDataSize);
  Data[PlatformInfoGpp1WriteProtect] = WriteProtect;
}

void BuildBoardHobList(const VOID *Firmware, UINTN FirmwareLength, UINT8 WriteProtect, VOID *Out) {
  UINT8 *Bytes = static_cast<UINT8 *>(Out);
  UINTN Head = FirmwareLength;
  if (FirmwareLength > 0) {
    __builtin_memcpy(Bytes, Firmware, FirmwareLength);
  } else {
    auto *Own = reinterpret_cast<EFI_HOB_HANDOFF_INFO_TABLE *>(Bytes);
    __builtin_memset(Own, 0, sizeof(*Own));
    Own->Header.HobType = EFI_HOB_TYPE_HANDOFF;
    Own->Header.HobLength = sizeof(EFI_HOB_HANDOFF_INFO_TABLE);
    Own->Version = HandoffTableVersion;
    Head = sizeof(EFI_HOB_HANDOFF_INFO_TABLE);
  }

  WritePlatformInfoHob(Bytes + Head, WriteProtect);

  auto *End = reinterpret_cast<EFI_HOB_GENERIC_HEADER *>(Bytes + Head + PlatformInfoHobLength);
  End->HobType = EFI_HOB_TYPE_END_OF_HOB_LIST;
  End->HobLength = sizeof(EFI_HOB_GENERIC_HEADER);
  End->Reserved = 0;

  auto *Handoff = reinterpret_cast<EFI_HOB_HANDOFF_INFO_TABLE *>(Bytes);
  if (Head >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE) &&
      Handoff->Header.HobType == EFI_HOB_TYPE_HANDOFF &&
      Handoff->Header.HobLength >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE))
    Handoff->EfiEndOfHobList = reinterpret_cast<EFI_PHYSICAL_ADDRESS>(End);
}

} // namespace board
