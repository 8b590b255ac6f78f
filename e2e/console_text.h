// A console line assembled piece by piece, for the end-to-end fixtures (the simulated board and
// the placeholder application), which have no format engine of their own.
#pragma once

#include "uefi/uefi.h"

constexpr UINTN MessageChars = 240;

struct Message {
  CHAR16 Text[MessageChars];
  UINTN Length;
};

inline void Append(Message &M, const CHAR16 *Text) {
  for (; *Text != u'\0' && M.Length + 1 < MessageChars; Text++)
    M.Text[M.Length++] = *Text;
  M.Text[M.Length] = u'\0';
}

// Base 10, or base 16 with a 0x prefix.
inline void AppendNumber(Message &M, UINT64 Value, UINT64 Base) {
  CHAR16 Digits[24];
  UINTN Count = 0;
  do {
    const UINT64 Digit = Value % Base;
    Digits[Count++] = static_cast<CHAR16>(Digit < 10 ? u'0' + Digit : u'A' + Digit - 10);
    Value /= Base;
  } while (Value != 0);
  CHAR16 Text[28];
  UINTN Length = 0;
  if (Base == 16) {
    Text[Length++] = u'0';
    Text[Length++] = u'x';
  }
  while (Count > 0)
    Text[Length++] = Digits[--Count];
  Text[Length] = u'\0';
  Append(M, Text);
}

inline void Say(EFI_SYSTEM_TABLE *SystemTable, Message &M) {
  Append(M, u"\r\n");
  SystemTable->ConOut->OutputString(SystemTable->ConOut, M.Text);
}
