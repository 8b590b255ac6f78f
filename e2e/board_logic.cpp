#include "e2e/board_logic.h"

namespace board {
namespace {

constexpr UINTN DevicePathHeaderBytes = sizeof(EFI_DEVICE_PATH_PROTOCOL);

bool IsBlank(CHAR8 C) {
  return C == ' ' || C == '\t' || C == '\r';
}

// One line from At to End: blanks and a '#' comment only, or "KEY = VALUE" with VALUE a decimal
// number, blanks around either, and a comment after it.
bool ParseLine(const CHAR8 *At, const CHAR8 *End, BoardSettings *Settings) {
  const auto SkipBlanks = [&] {
    while (At < End && IsBlank(*At))
      At++;
  };
  SkipBlanks();
  const CHAR8 *Key = At;
  while (At < End && *At != '=' && *At != '#' && !IsBlank(*At))
    At++;
  const UINTN KeyLength = static_cast<UINTN>(At - Key);
  SkipBlanks();
  if (KeyLength == 0)
    return At == End || *At == '#';
  if (At == End || *At++ != '=')
    return false;
  SkipBlanks();
  constexpr UINT64 MaxBlocks = 1ULL << 48; // keeps the digit loop far from overflowing
  UINT64 Value = 0;
  const CHAR8 *Digits = At;
  for (; At < End && DigitValue(*At) < 10 && Value <= MaxBlocks; At++)
    Value = Value * 10 + DigitValue(*At);
  const bool Number = At > Digits;
  SkipBlanks();
  if (!Number || (At < End && *At != '#'))
    return false;
  const auto Is = [&](const CHAR8 *Name) {
    UINTN I = 0;
    while (I < KeyLength && Name[I] != '\0' && Name[I] == Key[I])
      I++;
    return I == KeyLength && Name[I] == '\0';
  };
  if (Is("gpp1-blocks") && Value >= 1 && Value <= MaxBlocks)
    Settings->Gpp1Blocks = Value;
  else if (Is("gpp1-block-size") && Value >= 512 && Value <= 4096 && (Value & (Value - 1)) == 0)
    Settings->Gpp1BlockSize = static_cast<UINT32>(Value);
  else if (Is("write-protect") && Value <= 0xFF)
    Settings->WriteProtect = static_cast<UINT8>(Value);
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
  const CHAR8 *End = Text + Length;
  for (UINTN Number = 1; Text < End; Number++) {
    const CHAR8 *LineEnd = Text;
    while (LineEnd < End && *LineEnd != '\n')
      LineEnd++;
    if (!ParseLine(Text, LineEnd, Settings)) {
      *ErrorLine = Number;
      return false;
    }
    Text = LineEnd < End ? LineEnd + 1 : End;
  }
  return true;
}

} // namespace board
