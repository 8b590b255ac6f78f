// The simulated board driver's settings text and device-path walk.
#include "e2e/board_logic.h"

namespace board {
namespace {

constexpr UINTN DevicePathHeaderBytes = sizeof(EFI_DEVICE_PATH_PROTOCOL);

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

// Decimal or 0x-prefixed hexadecimal, no sign, from Min to Max.
bool ParseNumber(const CHAR8 *Text, UINTN Length, UINT64 Min, UINT64 Max, UINT64 *Value) {
  UINT64 Base = 10;
  if (Length > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Base = 16;
    Text += 2;
    Length -= 2;
  }
  UINT64 Result = 0;
  for (UINTN I = 0; I < Length; I++) {
    const UINT32 Digit = DigitValue(Text[I]);
    if (Digit >= Base)
      return false;
    Result = Result * Base + Digit;
    if (Result > Max)
      return false;
  }
  *Value = Result;
  return Length > 0 && Result >= Min;
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
  constexpr UINT64 MaxBlocks = 1ULL << 48; // keeps the digit loop far from overflowing
  UINT64 Number = 0;
  if (TextEquals(Line, KeyEnd, "gpp1-blocks") &&
      ParseNumber(Value, ValueLength, 1, MaxBlocks, &Number))
    Settings->Gpp1Blocks = Number;
  else if (TextEquals(Line, KeyEnd, "gpp1-block-size") &&
           ParseNumber(Value, ValueLength, 512, 4096, &Number) && (Number & (Number - 1)) == 0)
    Settings->Gpp1BlockSize = static_cast<UINT32>(Number);
  else if (TextEquals(Line, KeyEnd, "write-protect") &&
           ParseNumber(Value, ValueLength, 0, 0xFF, &Number))
    Settings->WriteProtect = static_cast<UINT8>(Number);
  else
    return false;
  return true;
}

} // namespace

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

} // namespace board
