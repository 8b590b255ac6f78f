// The format engine: ordinary text, line ends and "%" directives expanded in one pass straight
// into the caller's buffer, without allocation. Numbers, and the nested texts of GUIDs, times
// and unnamed status codes, are rendered in a small value buffer on the call's own stack.
//
// The loop is instantiated per format and output character width, so the common 8-bit and UCS-2
// paths carry no per-character width tests. Every write is bounded by the end position, which
// lies one character before the buffer's end, so the NUL always fits.
#include "shell/format.h"

namespace {

// Long enough for a GUID's 36 characters and a NUL, the longest text rendered here (a 64-bit
// decimal needs 20 digits, commas are not stored).
constexpr UINT64 ValueBufferSize = 38;

constexpr UINT8 DigitTable[] = "0123456789ABCDEF";
constexpr UINT64 DecimalBase = 10;
constexpr UINT64 DecimalPairBase = DecimalBase * DecimalBase;
// "00" to "99", two decimal digits per division.
struct DigitPairTable {
  UINT8 Digits[2 * DecimalPairBase];
};
constexpr DigitPairTable MakeDigitPairTable() {
  DigitPairTable Table{};
  for (UINT64 I = 0; I < DecimalPairBase; I++) {
    Table.Digits[2 * I] = DigitTable[I / DecimalBase];
    Table.Digits[2 * I + 1] = DigitTable[I % DecimalBase];
  }
  return Table;
}
constexpr DigitPairTable DigitPairStore = MakeDigitPairTable();
constexpr const UINT8 *DigitPairs = DigitPairStore.Digits;
constexpr UINT64 HexDigitBits = 4;
constexpr UINT64 HexDigitMask = 0xF;
constexpr UINT64 Low32Bits = 0xFFFFFFFF;
constexpr UINT64 DigitsPerGroup = 3;
constexpr UINT64 BitsPerByte = 8;

// Only the caller's choices survive from one format element to the next.
constexpr UINT64 CallerFlags = FormatWideOutput | FormatWideFormat | FormatCountOnly;

constexpr CHAR8 NullStringText[] = "<null string>";
constexpr CHAR8 NullGuidText[] = "<null guid>";
constexpr CHAR8 NullTimeText[] = "<null time>";
constexpr UINT8 LineEndText[] = "\r\n";
constexpr UINT8 EmptyText[] = "";

constexpr CHAR8 GuidFormat[] = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
constexpr CHAR8 TimeFormat[] = "%02d/%02d/%04d  %02d:%02d";
constexpr CHAR8 UnnamedStatusFormat[] = "%08X";

// Index 0 success, 1 to 5 the warning codes, 6 to 38 the error codes 1 to 33.
constexpr const CHAR8 *StatusNameTable[] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
    "Load Error",
    "Invalid Parameter",
    "Unsupported",
    "Bad Buffer Size",
    "Buffer Too Small",
    "Not Ready",
    "Device Error",
    "Write Protected",
    "Out of Resources",
    "Volume Corrupt",
    "Volume Full",
    "No Media",
    "Media changed",
    "Not Found",
    "Access Denied",
    "No Response",
    "No mapping",
    "Time out",
    "Not started",
    "Already started",
    "Aborted",
    "ICMP Error",
    "TFTP Error",
    "Protocol Error",
    "Incompatible Version",
    "Security Violation",
    "CRC Error",
    "End of Media",
    "Reserved (29)",
    "Reserved (30)",
    "End of File",
    "Invalid Language",
    "Compromised Data",
};
constexpr UINT64 LastWarningCode = 5;
constexpr UINT64 FirstErrorName = LastWarningCode + 1;
constexpr UINT64 LastErrorCode = 33;
static_assert(sizeof(StatusNameTable) / sizeof(StatusNameTable[0]) ==
                  FirstErrorName + LastErrorCode,
              "one name for success, each warning and each error code");

// --- Arguments --------------------------------------------------------------------------------

struct ArgumentCursor {
  const FormatArg *Items;
  UINT64 Count;
  UINT64 Next;

  // A directive beyond the end of the list reads 0 (a null pointer for the pointer directives).
  FormatArg Take() {
    if (Next >= Count)
      return {0, FormatArgKind::Integer};
    return Items[Next++];
  }
  // Numeric directives (d u x X p c r and "*") take any slot's 64-bit value: printing a pointer
  // or the wrong integer is harmless.
  UINT64 TakeValue() { return Take().Value; }
  // The string, GUID and time directives dereference what they take, so they accept only a
  // slot built from a pointer of that very kind. An integer, a pointer of another kind or a
  // missing slot reads as null and prints as the null text: a wrong format can print a wrong
  // value but can never dereference one, or read an 8-bit string as UCS-2 past its end.
  const VOID *TakePointer(FormatArgKind Kind) {
    const FormatArg Slot = Take();
    if (Slot.Kind != Kind)
      return nullptr;
    return reinterpret_cast<const VOID *>(static_cast<UINTN>(Slot.Value));
  }
};

// --- Output -----------------------------------------------------------------------------------

// Characters of Step bytes each, written low byte first; UCS-2 output goes byte by byte so the
// caller's buffer needs no particular alignment.
template <UINT64 Step> struct Output {
  UINT8 *Position;
  UINT8 *End;

  UINT64 Room() const { return static_cast<UINT64>(End - Position) / Step; }
  bool Full() const { return Position >= End; }
  // Only after checking Room or Full.
  void Put(UINT16 Character) {
    Position[0] = static_cast<UINT8>(Character);
    if constexpr (Step == 2)
      Position[1] = static_cast<UINT8>(Character >> BitsPerByte);
    Position += Step;
  }
  void Fill(INT64 Count, UINT16 Character);

  // Up to Count characters of Text, each widened or narrowed to the output width.
  template <typename Unit> void Copy(const Unit *Text, UINT64 Count) {
    const UINT64 Limit = Count < Room() ? Count : Room();
    for (UINT64 I = 0; I < Limit; I++)
      Put(Text[I]);
  }
  // Text up to its NUL (or the end position); returns the number of characters written.
  template <typename Unit> UINT64 CopyToNul(const Unit *Text) {
    const UINT64 Limit = Room();
    UINT64 I = 0;
    for (; I < Limit && Text[I] != 0; I++)
      Put(Text[I]);
    return I;
  }
};

template <UINT64 Step> UINT8 *FillRun(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character) {
  if (Count <= 0 || Position >= End)
    return Position;
  const UINT64 Room = static_cast<UINT64>(End - Position) / Step;
  const UINT64 Limit = static_cast<UINT64>(Count) < Room ? static_cast<UINT64>(Count) : Room;
  for (UINT64 I = 0; I < Limit; I++) {
    Position[0] = static_cast<UINT8>(Character);
    if constexpr (Step == 2)
      Position[1] = static_cast<UINT8>(Character >> BitsPerByte);
    Position += Step;
  }
  return Position;
}

template <UINT64 Step> void Output<Step>::Fill(INT64 Count, UINT16 Character) {
  Position = FillRun<Step>(Position, End, Count, Character);
}

// Pad lengths are differences of unsigned quantities read as signed, so a width or precision
// taken from a huge "*" argument pads nothing instead of running to the end.
INT64 PadLength(UINT64 Total, UINT64 Used) {
  return static_cast<INT64>(Total - Used);
}

template <typename Unit> UINT64 BoundedLength(const Unit *Text, UINT64 Limit) {
  UINT64 Length = 0;
  while (Length < Limit && Text[Length] != 0)
    Length++;
  return Length;
}

template <typename Unit> UINT64 TextLength(const Unit *Text) {
  UINT64 Length = 0;
  while (Text[Length] != 0)
    Length++;
  return Length;
}

// --- Elements ---------------------------------------------------------------------------------

struct Element {
  UINT64 Flags;
  UINT64 Width;
  UINT64 Precision;

  bool Has(UINT64 Bit) const { return (Flags & Bit) != 0; }
  bool PadsBefore() const { return Has(FormatWidthGiven) && !Has(FormatLeftJustify); }
  bool PadsAfter() const { return Has(FormatWidthGiven) && Has(FormatLeftJustify); }
};

// A text of known count (line ends, single characters, GUID, time and status texts, and strings
// cut by a precision): width padding, then precision - count spaces, then the text.
template <UINT64 Step, typename Unit>
void EmitText(Output<Step> &Out, const Element &E, const Unit *Text, UINT64 Count) {
  const UINT64 Precision = E.Precision > Count ? E.Precision : Count;
  if (E.PadsBefore())
    Out.Fill(PadLength(E.Width, Precision), ' ');
  Out.Fill(PadLength(Precision, Count), ' ');
  Out.Copy(Text, Count);
  if (E.PadsAfter())
    Out.Fill(PadLength(E.Width, Precision), ' ');
}

// A text counted as strings are: its length, but no more than a given precision.
template <UINT64 Step, typename Unit>
void EmitCountedText(Output<Step> &Out, const Element &E, const Unit *Text) {
  const UINT64 Count =
      E.Has(FormatPrecisionGiven) ? BoundedLength(Text, E.Precision) : TextLength(Text);
  EmitText(Out, E, Text, Count);
}

// A string argument. Without a precision it is walked once: right-justified, only as far as
// the width to size the padding, then copied up to its NUL; otherwise copied while counting.
template <UINT64 Step, typename Unit>
void EmitString(Output<Step> &Out, const Element &E, const Unit *Text) {
  if (E.Has(FormatPrecisionGiven)) {
    EmitText(Out, E, Text, BoundedLength(Text, E.Precision));
    return;
  }
  if (E.PadsBefore()) {
    const UINT64 Count = BoundedLength(Text, E.Width);
    if (Count < E.Width)
      Out.Fill(PadLength(E.Width, Count), ' ');
    Out.CopyToNul(Text);
    return;
  }
  const UINT64 Count = Out.CopyToNul(Text);
  if (E.PadsAfter())
    Out.Fill(PadLength(E.Width, Count), ' ');
}

// A one-character text (c, an unrecognised conversion): the zero character counts 0.
template <UINT64 Step> void EmitCharacter(Output<Step> &Out, const Element &E, CHAR16 Character) {
  UINT64 Count = Character != 0 ? 1 : 0;
  if (E.Has(FormatPrecisionGiven) && Count > E.Precision)
    Count = E.Precision;
  EmitText(Out, E, &Character, Count);
}

// Decimal digits, least significant first, downwards from Digits; returns the first digit.
// Two digits per division, and 32-bit arithmetic once the value fits, which is cheaper than
// 64-bit on x86-64.
UINT8 *RenderDecimal(UINT64 Value, UINT8 *Digits) {
  while (Value > Low32Bits) {
    const UINT64 Pair = Value % DecimalPairBase;
    Value /= DecimalPairBase;
    *--Digits = DigitPairs[2 * Pair + 1];
    *--Digits = DigitPairs[2 * Pair];
  }
  UINT32 Small = static_cast<UINT32>(Value);
  while (Small >= DecimalPairBase) {
    const UINT32 Pair = Small % DecimalPairBase;
    Small /= DecimalPairBase;
    *--Digits = DigitPairs[2 * Pair + 1];
    *--Digits = DigitPairs[2 * Pair];
  }
  if (Small >= DecimalBase) {
    *--Digits = DigitPairs[2 * Small + 1];
    *--Digits = DigitPairs[2 * Small];
  } else {
    *--Digits = DigitTable[Small];
  }
  return Digits;
}

// d, u, x, X and p. Digits are rendered least significant first downwards from the end of the
// value buffer, so they read forwards from the most significant.
template <UINT64 Step>
void EmitNumber(Output<Step> &Out, Element E, UINT64 Argument, UINT8 *ValueBuffer) {
  const bool Long = E.Has(FormatLongValue);
  const bool Hex = E.Has(FormatHexRadix);
  // Without "l" the argument is a 32-bit integer, sign-extended.
  UINT64 Value = Long ? Argument
                      : static_cast<UINT64>(static_cast<INT64>(
                            static_cast<INT32>(static_cast<UINT32>(Argument & Low32Bits))));
  UINT16 Prefix = 0;
  if (E.Has(FormatBlankPrefix))
    Prefix = ' ';
  if (E.Has(FormatSignPrefix))
    Prefix = '+';
  bool Grouped = false;
  if (Hex) {
    if (!Long)
      Value &= Low32Bits;
  } else {
    if (E.Has(FormatCommaGroups)) {
      Grouped = true;
      E.Flags &= ~FormatZeroFill;
      E.Precision = 1;
    }
    if (static_cast<INT64>(Value) < 0 && !E.Has(FormatUnsignedValue)) {
      Prefix = '-';
      E.Flags |= FormatSignPrefix;
      Value = 0 - Value; // the magnitude as unsigned, right for the most negative value too
    }
    if (E.Has(FormatUnsignedValue) && !Long)
      Value &= Low32Bits;
  }

  UINT8 *const DigitsEnd = ValueBuffer + ValueBufferSize;
  UINT8 *Digits = DigitsEnd;
  if (Value != 0 || E.Precision != 0) {
    if (Hex) {
      do {
        *--Digits = DigitTable[Value & HexDigitMask];
        Value >>= HexDigitBits;
      } while (Value != 0);
    } else {
      Digits = RenderDecimal(Value, Digits);
    }
  }
  const UINT64 DigitCount = static_cast<UINT64>(DigitsEnd - Digits);
  UINT64 Count = DigitCount;
  if (Grouped && Count > 0)
    Count += (Count - 1) / DigitsPerGroup;
  if (Prefix != 0) {
    Count++;
    E.Precision++;
  }
  if (E.Has(FormatZeroFill) && E.Has(FormatWidthGiven) && !E.Has(FormatLeftJustify) &&
      !E.Has(FormatPrecisionGiven))
    E.Precision = E.Width;
  if (E.Precision < Count)
    E.Precision = Count;

  if (E.PadsBefore())
    Out.Fill(PadLength(E.Width, E.Precision), ' ');
  if (Prefix != 0)
    Out.Fill(1, Prefix);
  Out.Fill(PadLength(E.Precision, Count), '0');
  if (!Grouped) {
    Out.Copy(Digits, DigitCount);
  } else {
    for (UINT64 I = 0; I < DigitCount && !Out.Full(); I++) {
      Out.Put(Digits[I]);
      const UINT64 Following = DigitCount - 1 - I;
      if (Following != 0 && Following % DigitsPerGroup == 0 && !Out.Full())
        Out.Put(',');
    }
  }
  if (E.PadsAfter())
    Out.Fill(PadLength(E.Width, E.Precision), ' ');
}

// GUIDs sit unaligned inside HOBs and firmware records, so GUID and time fields are gathered
// byte by byte.
UINT64 LittleEndianValue(const UINT8 *Bytes, UINT64 Size) {
  UINT64 Value = 0;
  for (UINT64 I = Size; I > 0; I--)
    Value = (Value << BitsPerByte) | Bytes[I - 1];
  return Value;
}

const CHAR8 *GuidText(const EFI_GUID *Guid, CHAR8 *ValueBuffer) {
  if (Guid == nullptr)
    return NullGuidText;
  const UINT8 *B = reinterpret_cast<const UINT8 *>(Guid);
  const UINT32 Data1 = static_cast<UINT32>(LittleEndianValue(B, sizeof(UINT32)));
  const UINT16 Data2 =
      static_cast<UINT16>(LittleEndianValue(B + offsetof(EFI_GUID, Data2), sizeof(UINT16)));
  const UINT16 Data3 =
      static_cast<UINT16>(LittleEndianValue(B + offsetof(EFI_GUID, Data3), sizeof(UINT16)));
  const UINT8 *D = B + offsetof(EFI_GUID, Data4);
  FormatWithFlags(ValueBuffer, ValueBufferSize, 0, GuidFormat, Data1, Data2, Data3, D[0], D[1],
                  D[2], D[3], D[4], D[5], D[6], D[7]);
  return ValueBuffer;
}

const CHAR8 *TimeText(const EFI_TIME *Time, CHAR8 *ValueBuffer) {
  if (Time == nullptr)
    return NullTimeText;
  const UINT8 *B = reinterpret_cast<const UINT8 *>(Time);
  const UINT16 Year =
      static_cast<UINT16>(LittleEndianValue(B + offsetof(EFI_TIME, Year), sizeof(UINT16)));
  FormatWithFlags(ValueBuffer, ValueBufferSize, 0, TimeFormat, B[offsetof(EFI_TIME, Month)],
                  B[offsetof(EFI_TIME, Day)], Year, B[offsetof(EFI_TIME, Hour)],
                  B[offsetof(EFI_TIME, Minute)]);
  return ValueBuffer;
}

const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *ValueBuffer) {
  if (EFI_ERROR(Status)) {
    const UINT64 Code = Status & ~EfiErrorBit;
    if (Code >= 1 && Code <= LastErrorCode)
      return StatusNameTable[FirstErrorName + Code - 1];
  } else if (Status <= LastWarningCode) {
    return StatusNameTable[Status];
  }
  // "%08X" reads the status as 32 bits: the error bit and any high bits are not shown.
  FormatWithFlags(ValueBuffer, ValueBufferSize, 0, UnnamedStatusFormat, Status);
  return ValueBuffer;
}

// --- The loop ---------------------------------------------------------------------------------

template <UINT64 Step> UINT16 ReadFormat(const UINT8 *Format) {
  if constexpr (Step == 2)
    return static_cast<UINT16>(Format[0] | (Format[1] << BitsPerByte));
  else
    return Format[0];
}

// NUL, line feed, carriage return and "%" end a run of ordinary characters.
constexpr UINT16 RunEndTableSize = 64;
struct RunEndTable {
  bool Ends[RunEndTableSize];
};
constexpr RunEndTable MakeRunEndTable() {
  RunEndTable Table{};
  constexpr UINT8 Ends[] = {0, '\n', '\r', '%'};
  for (const UINT8 C : Ends)
    Table.Ends[C] = true;
  return Table;
}
constexpr RunEndTable RunEnds = MakeRunEndTable();
constexpr bool IsPlain(UINT16 C) {
  return C >= RunEndTableSize || !RunEnds.Ends[C];
}
constexpr bool IsDigit(UINT16 C) {
  return C >= '0' && C <= '9';
}

// A line end in the format (or directly after "%") at Format: LF, LF CR and CR LF all give
// "\r\n", a lone CR stays "\r". Returns the format position after it.
template <UINT64 FormatStep, UINT64 OutStep>
const UINT8 *EmitLineEnd(Output<OutStep> &Out, const Element &E, const UINT8 *Format) {
  const UINT16 First = ReadFormat<FormatStep>(Format);
  Format += FormatStep;
  const UINT16 Second = ReadFormat<FormatStep>(Format);
  UINT64 Count = 1;
  if ((First == '\n' && Second == '\r') || (First == '\r' && Second == '\n')) {
    Format += FormatStep;
    Count = 2;
  } else if (First == '\n') {
    Count = 2;
  }
  EmitText(Out, E, LineEndText, Count);
  return Format;
}

template <UINT64 FormatStep, UINT64 OutStep>
UINT8 *Expand(UINT8 *Buffer, UINT8 *End, UINT64 Flags, const UINT8 *Format,
              ArgumentCursor &Arguments) {
  Output<OutStep> Out{Buffer, End};
  CHAR8 ValueBuffer[ValueBufferSize];
  const Element Plain{Flags & CallerFlags, 0, 1};

  UINT16 C = ReadFormat<FormatStep>(Format);
  while (C != 0 && !Out.Full()) {
    // A run of ordinary characters, each an element of its own that emits just itself: measured
    // as far as the output has room, then copied in one go.
    if (IsPlain(C)) {
      const UINT64 Room = Out.Room();
      UINT64 Run = 1;
      while (Run < Room && IsPlain(ReadFormat<FormatStep>(Format + Run * FormatStep)))
        Run++;
      UINT8 *const To = Out.Position;
      for (UINT64 I = 0; I < Run; I++) {
        const UINT16 Character = ReadFormat<FormatStep>(Format + I * FormatStep);
        To[I * OutStep] = static_cast<UINT8>(Character);
        if constexpr (OutStep == 2)
          To[I * OutStep + 1] = static_cast<UINT8>(Character >> BitsPerByte);
      }
      Out.Position = To + Run * OutStep;
      Format += Run * FormatStep;
      C = ReadFormat<FormatStep>(Format);
      continue;
    }
    if (C != '%') {
      Format = EmitLineEnd<FormatStep>(Out, Plain, Format);
      C = ReadFormat<FormatStep>(Format);
      continue;
    }

    // A directive: flags, width and precision in any order, then the conversion character.
    Element E = Plain;
    bool Reading = true;
    while (Reading) {
      Format += FormatStep;
      C = ReadFormat<FormatStep>(Format);
      switch (C) {
      case '-':
        E.Flags |= FormatLeftJustify;
        break;
      case '+':
        E.Flags |= FormatSignPrefix;
        break;
      case ' ':
        E.Flags |= FormatBlankPrefix;
        break;
      case ',':
        E.Flags |= FormatCommaGroups;
        break;
      case 'l':
      case 'L':
        E.Flags |= FormatLongValue;
        break;
      case '.':
        E.Flags |= FormatPrecisionGiven;
        break;
      case '*':
        if (E.Has(FormatPrecisionGiven)) {
          E.Precision = Arguments.TakeValue();
        } else {
          E.Width = Arguments.TakeValue();
          E.Flags |= FormatWidthGiven;
        }
        break;
      default:
        if (!IsDigit(C)) {
          Reading = false;
          break;
        }
        if (C == '0' && !E.Has(FormatPrecisionGiven))
          E.Flags |= FormatZeroFill;
        UINT64 Number = 0;
        for (;;) {
          Number = Number * DecimalBase + (C - '0');
          const UINT16 Following = ReadFormat<FormatStep>(Format + FormatStep);
          if (!IsDigit(Following))
            break;
          Format += FormatStep;
          C = Following;
        }
        if (E.Has(FormatPrecisionGiven)) {
          E.Precision = Number;
        } else {
          E.Width = Number;
          E.Flags |= FormatWidthGiven;
        }
        break;
      }
    }

    switch (C) {
    case 0:
      // The format ended inside the directive: an empty text (the width still pads), and the
      // main loop stops on this NUL.
      E.Precision = 0;
      EmitText(Out, E, EmptyText, 0);
      continue;
    case '\n':
    case '\r':
      Format = EmitLineEnd<FormatStep>(Out, E, Format);
      C = ReadFormat<FormatStep>(Format);
      continue;
    case 'a': {
      const CHAR8 *Text =
          static_cast<const CHAR8 *>(Arguments.TakePointer(FormatArgKind::NarrowText));
      EmitString(Out, E, reinterpret_cast<const UINT8 *>(Text != nullptr ? Text : NullStringText));
      break;
    }
    case 's':
    case 'S': {
      const CHAR16 *Text =
          static_cast<const CHAR16 *>(Arguments.TakePointer(FormatArgKind::WideText));
      if (Text != nullptr)
        EmitString(Out, E, Text);
      else
        EmitString(Out, E, reinterpret_cast<const UINT8 *>(NullStringText));
      break;
    }
    case 'c':
      EmitCharacter(Out, E, static_cast<CHAR16>(Arguments.TakeValue()));
      break;
    case 'u':
      E.Flags = (E.Flags & ~FormatSignPrefix) | FormatUnsignedValue;
      EmitNumber(Out, E, Arguments.TakeValue(), reinterpret_cast<UINT8 *>(ValueBuffer));
      break;
    case 'd':
      EmitNumber(Out, E, Arguments.TakeValue(), reinterpret_cast<UINT8 *>(ValueBuffer));
      break;
    case 'x':
      E.Flags |= FormatHexRadix;
      EmitNumber(Out, E, Arguments.TakeValue(), reinterpret_cast<UINT8 *>(ValueBuffer));
      break;
    case 'X':
      E.Flags |= FormatHexRadix | FormatZeroFill;
      EmitNumber(Out, E, Arguments.TakeValue(), reinterpret_cast<UINT8 *>(ValueBuffer));
      break;
    case 'p':
      E.Flags = (E.Flags & ~(FormatSignPrefix | FormatBlankPrefix)) | FormatHexRadix |
                FormatZeroFill | FormatLongValue;
      EmitNumber(Out, E, Arguments.TakeValue(), reinterpret_cast<UINT8 *>(ValueBuffer));
      break;
    case 'g': {
      const EFI_GUID *Guid =
          static_cast<const EFI_GUID *>(Arguments.TakePointer(FormatArgKind::Guid));
      EmitCountedText(Out, E, reinterpret_cast<const UINT8 *>(GuidText(Guid, ValueBuffer)));
      break;
    }
    case 't': {
      const EFI_TIME *Time =
          static_cast<const EFI_TIME *>(Arguments.TakePointer(FormatArgKind::Time));
      EmitCountedText(Out, E, reinterpret_cast<const UINT8 *>(TimeText(Time, ValueBuffer)));
      break;
    }
    case 'r':
      EmitCountedText(
          Out, E, reinterpret_cast<const UINT8 *>(StatusText(Arguments.TakeValue(), ValueBuffer)));
      break;
    default:
      // No conversion ("%%", "%i", ...): the character itself, no argument taken.
      EmitCharacter(Out, E, C);
      break;
    }
    Format += FormatStep;
    C = ReadFormat<FormatStep>(Format);
  }
  return Out.Position;
}

} // namespace

UINT8 *FillChars(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character, UINT64 Step) {
  if (Step == 2)
    return FillRun<2>(Position, End, Count, Character);
  return FillRun<1>(Position, End, Count, Character);
}

UINT64 FormatEngine(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, const VOID *Format,
                    FormatArgList Arguments) {
  if (BufferSize == 0 || Buffer == nullptr)
    return 0;
  const bool WideOut = (Flags & FormatWideOutput) != 0;
  const UINT64 OutStep = WideOut ? 2 : 1;
  UINT8 *const Start = static_cast<UINT8 *>(Buffer);
  UINT8 *const End = Start + (BufferSize - 1) * OutStep;
  UINT8 *Stop = Start;
  if (Format != nullptr) {
    ArgumentCursor Cursor{Arguments.Items, Arguments.Items != nullptr ? Arguments.Count : 0, 0};
    const UINT8 *F = static_cast<const UINT8 *>(Format);
    if ((Flags & FormatWideFormat) != 0)
      Stop = WideOut ? Expand<2, 2>(Start, End, Flags, F, Cursor)
                     : Expand<2, 1>(Start, End, Flags, F, Cursor);
    else
      Stop = WideOut ? Expand<1, 2>(Start, End, Flags, F, Cursor)
                     : Expand<1, 1>(Start, End, Flags, F, Cursor);
  }
  Stop[0] = 0;
  if (WideOut)
    Stop[1] = 0;
  return static_cast<UINT64>(Stop - Start) / OutStep;
}
