// The simulated board's pure parts: card layout, settings text and HOB list construction.
#include "e2e/board_logic.h"

namespace board {
namespace {

constexpr UINT32 PciRootHid = 0x0A0341D0; // EISA PNP0A03, the PCI host bridge
constexpr UINTN DevicePathHeaderBytes = sizeof(EFI_DEVICE_PATH_PROTOCOL);
constexpr UINTN RecordToBlockIo = offsetof(EmmcPartitionRecord, BlockIo);
constexpr UINTN BlockIoToNextCard =
    sizeof(EmmcPartitionRecord) - RecordToBlockIo + offsetof(EmmcPartitionRecord, Card);
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

bool IsBlank(CHAR8 C) {
  return C == ' ' || C == '\t' || C == '\r';
}

bool TextEquals(const CHAR8 *Text, UINTN Length, const CHAR8 *Word) {
  UINTN I = 0;
  for (; I < Length; I++) {
    if (Word[I] == '\0' || Word[I] != Text[I])
      return false;
  }
  return Word[I] == '\0';
}

// Decimal or 0x-prefixed hexadecimal, no sign, at most Max.
bool ParseNumber(const CHAR8 *Text, UINTN Length, UINT64 Max, UINT64 *Value) {
  UINT64 Base = 10;
  if (Length > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Base = 16;
    Text += 2;
    Length -= 2;
  }
  if (Length == 0)
    return false;
  UINT64 Result = 0;
  for (UINTN I = 0; I < Length; I++) {
    const CHAR8 C = Text[I];
    UINT64 Digit;
    if (C >= '0' && C <= '9')
      Digit = static_cast<UINT64>(C - '0');
    else if (Base == 16 && C >= 'a' && C <= 'f')
      Digit = static_cast<UINT64>(C - 'a' + 10);
    else if (Base == 16 && C >= 'A' && C <= 'F')
      Digit = static_cast<UINT64>(C - 'A' + 10);
    else
      return false;
    Result = Result * Base + Digit;
    if (Result > Max)
      return false;
  }
  *Value = Result;
  return true;
}

// One "key = value" line with blanks and comments already trimmed away.
bool ParseSetting(const CHAR8 *Line, UINTN Length, BoardSettings *Settings) {
  UINTN Equals = 0;
  while (Equals < Length && Line[Equals] != '=')
    Equals++;
  if (Equals == Length)
    return false;
  UINTN KeyEnd = Equals;
  while (KeyEnd > 0 && IsBlank(Line[KeyEnd - 1]))
    KeyEnd--;
  UINTN ValueStart = Equals + 1;
  while (ValueStart < Length && IsBlank(Line[ValueStart]))
    ValueStart++;
  const CHAR8 *Value = Line + ValueStart;
  const UINTN ValueLength = Length - ValueStart;
  UINT64 Number = 0;
  if (TextEquals(Line, KeyEnd, "gpp1-blocks")) {
    constexpr UINT64 MaxBlocks = 1ULL << 48; // keeps the digit loop far from overflowing
    if (!ParseNumber(Value, ValueLength, MaxBlocks, &Number) || Number == 0)
      return false;
    Settings->Gpp1Blocks = Number;
    return true;
  }
  if (TextEquals(Line, KeyEnd, "gpp1-block-size")) {
    constexpr UINT64 MaxBlockSize = 4096;
    if (!ParseNumber(Value, ValueLength, MaxBlockSize, &Number) || Number < 512 ||
        (Number & (Number - 1)) != 0)
      return false;
    Settings->Gpp1BlockSize = static_cast<UINT32>(Number);
    return true;
  }
  if (TextEquals(Line, KeyEnd, "write-protect")) {
    constexpr UINT64 MaxFlag = 0xFF;
    if (!ParseNumber(Value, ValueLength, MaxFlag, &Number))
      return false;
    Settings->WriteProtect = static_cast<UINT8>(Number);
    return true;
  }
  return false;
}

} // namespace

void InitEmmcCard(EmmcCard *Card) {
  for (UINT32 I = 0; I < EmmcPartitionCount; I++) {
    EmmcPartitionRecord &Record = Card->Partitions[I];
    Record.Signature = EmmcPartitionSignature;
    Record.Card = Card;
    Record.PartitionNumber = I;
    Record.BlockIo.Media = &Card->Media[I];
    BuildPartitionPath(Record.DevicePath, I);
  }
  Card->Tail.Signature = EmmcCardTailSignature;
  Card->Tail.Card = Card;
}

UINT64 PartitionNumberOf(const EFI_BLOCK_IO_PROTOCOL *BlockIo) {
  const UINT64 Interface = reinterpret_cast<UINT64>(BlockIo);
  UINT64 Card;
  __builtin_memcpy(&Card, reinterpret_cast<const UINT8 *>(BlockIo) + BlockIoToNextCard,
                   sizeof(Card));
  return (Interface - RecordToBlockIo - Card) / sizeof(EmmcPartitionRecord);
}

bool FirstPciDevice(const EFI_DEVICE_PATH_PROTOCOL *Path, UINTN MaxBytes, UINT8 *Device) {
  const UINT8 *Node = reinterpret_cast<const UINT8 *>(Path);
  UINTN Offset = 0;
  while (Offset + DevicePathHeaderBytes <= MaxBytes) {
    const auto *Header = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node + Offset);
    const UINTN Length = DevicePathNodeLength(Header);
    if (Header->Type == END_DEVICE_PATH_TYPE || Length < DevicePathHeaderBytes)
      return false;
    if (Header->Type == HARDWARE_DEVICE_PATH && Header->SubType == HW_PCI_DP) {
      if (Length < sizeof(PCI_DEVICE_PATH) || Offset + sizeof(PCI_DEVICE_PATH) > MaxBytes)
        return false;
      *Device = Node[Offset + offsetof(PCI_DEVICE_PATH, Device)];
      return true;
    }
    Offset += Length;
  }
  return false;
}

bool ParseBoardSettings(const CHAR8 *Text, UINTN Length, BoardSettings *Settings,
                        UINTN *ErrorLine) {
  UINTN LineNumber = 0;
  UINTN Start = 0;
  while (Start < Length) {
    LineNumber++;
    UINTN End = Start;
    while (End < Length && Text[End] != '\n')
      End++;
    UINTN First = Start;
    while (First < End && IsBlank(Text[First]))
      First++;
    UINTN Last = First;
    while (Last < End && Text[Last] != '#')
      Last++;
    while (Last > First && IsBlank(Text[Last - 1]))
      Last--;
    if (Last > First && !ParseSetting(Text + First, Last - First, Settings)) {
      *ErrorLine = LineNumber;
      return false;
    }
    Start = End + 1;
  }
  return true;
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

  auto *Info = reinterpret_cast<EFI_HOB_GUID_TYPE *>(Bytes + Head);
  __builtin_memset(Info, 0, PlatformInfoHobLength);
  Info->Header.HobType = EFI_HOB_TYPE_GUID_EXTENSION;
  Info->Header.HobLength = static_cast<UINT16>(PlatformInfoHobLength);
  Info->Name = PlatformInfoHobGuid;
  reinterpret_cast<UINT8 *>(Info + 1)[PlatformInfoGpp1WriteProtect] = WriteProtect;

  auto *End = reinterpret_cast<EFI_HOB_GENERIC_HEADER *>(Bytes + Head + PlatformInfoHobLength);
  End->HobType = EFI_HOB_TYPE_END_OF_HOB_LIST;
  End->HobLength = sizeof(EFI_HOB_GENERIC_HEADER);
  End->Reserved = 0;

  auto *Handoff = reinterpret_cast<EFI_HOB_HANDOFF_INFO_TABLE *>(Bytes);
  if (Head >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE) && Handoff->Header.HobType == EFI_HOB_TYPE_HANDOFF &&
      Handoff->Header.HobLength >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE))
    Handoff->EfiEndOfHobList = reinterpret_cast<EFI_PHYSICAL_ADDRESS>(End);
}

} // namespace board
