// The grammar of a "%" directive: flags, width and precision up to the conversion character,
// and which argument slot each conversion takes. The engine reads every directive through
// ParseDirective, and so does the compile-time check of literal formats (format.h): the two
// can never disagree on where a directive ends or how many slots it takes.
#pragma once

#include "uefi/uefi.h"

// Bits of the engine's flag word.
constexpr UINT64 FormatLeftJustify = 0x0001;
constexpr UINT64 FormatSignPrefix = 0x0002;
constexpr UINT64 FormatBlankPrefix = 0x0004;
constexpr UINT64 FormatCommaGroups = 0x0008;
constexpr UINT64 FormatLongValue = 0x0010;
constexpr UINT64 FormatZeroFill = 0x0020;
constexpr UINT64 FormatWideOutput = 0x0040;
constexpr UINT64 FormatHexRadix = 0x0080;
constexpr UINT64 FormatWideFormat = 0x0100;
constexpr UINT64 FormatWidthGiven = 0x0200;
constexpr UINT64 FormatWideArgument = 0x0400;
constexpr UINT64 FormatPrecisionGiven = 0x0800;
constexpr UINT64 FormatReversedArgument = 0x1000;
// Reserved for counting without writing: it survives from one format element to the next like
// the caller's two choices, but this engine offers no such mode and always writes.
constexpr UINT64 FormatCountOnly = 0x2000;
constexpr UINT64 FormatUnsignedValue = 0x4000;

// A character of Step bytes (1, or 2 for UCS-2) at At, low byte first; gathered byte by byte
// so that no particular alignment is needed. Both widths take the same two loads and no branch:
// with Step 1 the second load reads the same byte again and the mask drops it.
constexpr UINT16 ReadCharacter(const UINT8 *At, UINT64 Step) {
  const UINT16 Mask = Step == 2 ? 0xFFFF : 0xFF;
  return static_cast<UINT16>((At[0] | At[Step - 1] << 8) & Mask);
}

// Format characters: bytes, or UCS-2 units of two bytes.
struct FormatReader {
  const UINT8 *At;
  UINT64 Step; // 1 or 2

  constexpr UINT16 Peek(UINT64 Ahead = 0) const { return ReadCharacter(At + Ahead * Step, Step); }
  constexpr VOID Next() { At += Step; }
};

// What one directive says. "*" slots are counted, not taken: the caller takes them in order
// before the conversion's own slot, and the last width or precision written wins, whether it
// came from digits or from a "*".
struct FormatDirective {
  UINT64 Flags;         // LeftJustify ... LongValue, ZeroFill, WidthGiven, PrecisionGiven
  UINT64 Width;         // from digits
  UINT64 Precision;     // from digits; 1 unless given
  UINT64 Stars;         // slots taken by "*"
  UINT64 WidthStar;     // which of them (from 1) is the width in force; 0: none
  UINT64 PrecisionStar; // which of them is the precision in force; 0: none
  UINT16 Conversion;    // 0: the format ended inside the directive
};

constexpr bool IsFormatDigit(UINT16 C) {
  return C >= '0' && C <= '9';
}

// Reads a directive from the character after its "%" up to its conversion character, on which
// In is left (on the NUL when the format ends first).
constexpr FormatDirective ParseDirective(FormatReader &In) {
  FormatDirective D{0, 0, 1, 0, 0, 0, 0};
  for (;;) {
    const UINT16 C = In.Peek();
    UINT64 Flag = 0;
    switch (C) {
    case '-':
      Flag = FormatLeftJustify;
      break;
    case '+':
      Flag = FormatSignPrefix;
      break;
    case ' ':
      Flag = FormatBlankPrefix;
      break;
    case ',':
      Flag = FormatCommaGroups;
      break;
    case 'l':
    case 'L':
      Flag = FormatLongValue;
      break;
    case '.':
      Flag = FormatPrecisionGiven;
      break;
    default:
      break;
    }
    if (Flag != 0) {
      D.Flags |= Flag;
      In.Next();
      continue;
    }
    const bool AfterDot = (D.Flags & FormatPrecisionGiven) != 0;
    if (C == '*') {
      D.Stars++;
      if (AfterDot) {
        D.PrecisionStar = D.Stars;
      } else {
        D.WidthStar = D.Stars;
        D.Flags |= FormatWidthGiven;
      }
      In.Next();
      continue;
    }
    if (!IsFormatDigit(C)) {
      D.Conversion = C;
      return D;
    }
    // A number of any length; a leading "0" before any "." also asks for zero fill.
    if (C == '0' && !AfterDot)
      D.Flags |= FormatZeroFill;
    UINT64 Number = 0;
    while (IsFormatDigit(In.Peek())) {
      Number = Number * 10 + (In.Peek() - '0');
      In.Next();
    }
    if (AfterDot) {
      D.Precision = Number;
      D.PrecisionStar = 0;
    } else {
      D.Width = Number;
      D.WidthStar = 0;
      D.Flags |= FormatWidthGiven;
    }
  }
}

// The argument a conversion takes after its "*" slots.
enum class FormatTakes : UINT8 {
  Nothing,    // a line end, "%%", any character that is no conversion, the end of the format
  Number,     // d u x X: 32 bits, or 64 with "l"
  Character,  // c: a UCS-2 character
  Status,     // r: a 64-bit status
  Address,    // p: a 64-bit value, integer or pointer
  NarrowText, // a
  WideText,   // s S
  Guid,       // g
  Time,       // t
};

constexpr FormatTakes ConversionTakes(UINT16 Conversion) {
  switch (Conversion) {
  case 'd':
  case 'u':
  case 'x':
  case 'X':
    return FormatTakes::Number;
  case 'c':
    return FormatTakes::Character;
  case 'r':
    return FormatTakes::Status;
  case 'p':
    return FormatTakes::Address;
  case 'a':
    return FormatTakes::NarrowText;
  case 's':
  case 'S':
    return FormatTakes::WideText;
  case 'g':
    return FormatTakes::Guid;
  case 't':
    return FormatTakes::Time;
  default:
    return FormatTakes::Nothing;
  }
}
