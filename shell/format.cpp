// The format engine: ordinary text, line ends and "%" directives expanded in one pass straight
// into the caller's buffer, without allocation. Numbers, and the nested texts of GUIDs, times
// and unnamed status codes, are rendered in a small value buffer on the call's own stack.
//
// Only the main loop (plain text and line ends, most of every message) is instantiated per
// output character width; each directive is parsed by ParseDirective and emitted through one
// path for both widths, and the format's own width is a step read as it goes. Every write is
// bounded by the end position, which lies one character before the buffer's end, so the NUL
// always fits.
#include "shell/format.h"

namespace {

// The runs of fill and text here are a few characters long: unrolled they would only grow the
// image, and a handful of copies of them sits in each directive's path.
#define KESTREL_SHORT_LOOP _Pragma("clang loop unroll(disable) interleave(disable)")
// The rarer directives (GUIDs, times, single characters) and the dispatch itself are built for
// size; the emitters of strings and numbers they call stay out of line and fast.
#define KESTREL_COLD __attribute__((minsize, noinline))
#define KESTREL_OUT_OF_LINE __attribute__((noinline))

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

// The names of the status codes, one after another, each ended by its NUL: index 0 success, 1 to
// 5 the warning codes, 6 to 38 the error codes 1 to 33. Kept as one block of text with 16-bit
// offsets, so the table costs neither pointers nor their relocations in the image.
constexpr CHAR8 StatusNames[] = "Success\0"
                                "Warning Unknown Glyph\0"
                                "Warning Delete Failure\0"
                                "Warning Write Failure\0"
                                "Warning Buffer Too Small\0"
                                "Warning Stale Data\0"
                                "Load Error\0"
                                "Invalid Parameter\0"
                                "Unsupported\0"
                                "Bad Buffer Size\0"
                                "Buffer Too Small\0"
                                "Not Ready\0"
                                "Device Error\0"
                                "Write Protected\0"
                                "Out of Resources\0"
                                "Volume Corrupt\0"
                                "Volume Full\0"
                                "No Media\0"
                                "Media changed\0"
                                "Not Found\0"
                                "Access Denied\0"
                                "No Response\0"
                                "No mapping\0"
                                "Time out\0"
                                "Not started\0"
                                "Already started\0"
                                "Aborted\0"
                                "ICMP Error\0"
                                "TFTP Error\0"
                                "Protocol Error\0"
                                "Incompatible Version\0"
                                "Security Violation\0"
                                "CRC Error\0"
                                "End of Media\0"
                                "Reserved (29)\0"
                                "Reserved (30)\0"
                                "End of File\0"
                                "Invalid Language\0"
                                "Compromised Data\0";
constexpr UINT64 LastWarningCode = 5;
constexpr UINT64 FirstErrorName = LastWarningCode + 1;
constexpr UINT64 LastErrorCode = 33;
constexpr UINT64 StatusNameCount = FirstErrorName + LastErrorCode;

struct StatusNameIndex {
  UINT16 Offset[StatusNameCount];
  UINT64 Names; // how many names the text holds
};
constexpr StatusNameIndex MakeStatusNameIndex() {
  StatusNameIndex Index{};
  UINT64 Start = 0;
  for (UINT64 I = 0; I + 1 < sizeof(StatusNames); I++) {
    if (StatusNames[I] != 0)
      continue;
    if (Index.Names < StatusNameCount)
      Index.Offset[Index.Names] = static_cast<UINT16>(Start);
    Index.Names++;
    Start = I + 1;
  }
  return Index;
}
constexpr StatusNameIndex StatusNameOffsets = MakeStatusNameIndex();
static_assert(StatusNameOffsets.Names == StatusNameCount,
              "one name for success, each warning and each error code");

// --- Arguments -----------------------------------------------------------------------------------

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

// --- Output --------------------------------------------------------------------------------------

// Output characters are 1 byte, or 2 with UCS-2: a width of 1 << Shift.
//
// The one store of an output character per width: its low byte, and for UCS-2 its high byte
// after it. UCS-2 goes byte by byte so the caller's buffer needs no particular alignment.
template <UINT64 Shift> void StoreCharacter(UINT8 *At, UINT16 Character) {
  At[0] = static_cast<UINT8>(Character);
  if constexpr (Shift == 1)
    At[1] = static_cast<UINT8>(Character >> BitsPerByte);
}

template <UINT64 Shift> UINT8 *FillRun(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character) {
  if (Count <= 0 || Position >= End)
    return Position;
  const UINT64 Room = static_cast<UINT64>(End - Position) >> Shift;
  const UINT64 Limit = static_cast<UINT64>(Count) < Room ? static_cast<UINT64>(Count) : Room;
  KESTREL_SHORT_LOOP
  for (UINT64 I = 0; I < Limit; I++, Position += 1 << Shift)
    StoreCharacter<Shift>(Position, Character);
  return Position;
}

template <UINT64 Shift, typename Unit>
UINT8 *CopyRun(UINT8 *Position, const Unit *Text, UINT64 Count) {
  KESTREL_SHORT_LOOP
  for (UINT64 I = 0; I < Count; I++, Position += 1 << Shift)
    StoreCharacter<Shift>(Position, Text[I]);
  return Position;
}

template <UINT64 Shift, typename Unit>
UINT8 *CopyRunToNul(UINT8 *Position, UINT8 *End, const Unit *Text) {
  KESTREL_SHORT_LOOP
  for (; Position < End && *Text != 0; Text++, Position += 1 << Shift)
    StoreCharacter<Shift>(Position, *Text);
  return Position;
}

// The output between Position and End, which lies one character before the buffer's end. The
// directives go through this one copy for both widths; the plain text has a loop of its own per
// width (Expand). The runs work on local positions: a byte store could otherwise be taken to
// change Position itself, and every character would reload it.
struct Output {
  UINT8 *Position;
  UINT8 *End;
  UINT64 Shift;

  UINT64 Room() const { return static_cast<UINT64>(End - Position) >> Shift; }
  bool Full() const { return Position >= End; }
  // Only after checking Room or Full.
  void Put(UINT16 Character) {
    if (Shift != 0)
      StoreCharacter<1>(Position, Character);
    else
      StoreCharacter<0>(Position, Character);
    Position += 1 << Shift;
  }
  void Fill(INT64 Count, UINT16 Character) {
    Position = Shift != 0 ? FillRun<1>(Position, End, Count, Character)
                          : FillRun<0>(Position, End, Count, Character);
  }
  // Up to Count characters of Text, each widened or narrowed to the output width.
  template <typename Unit> void Copy(const Unit *Text, UINT64 Count) {
    const UINT64 Limit = Count < Room() ? Count : Room();
    Position = Shift != 0 ? CopyRun<1>(Position, Text, Limit) : CopyRun<0>(Position, Text, Limit);
  }
  // Text up to its NUL (or the end position); returns the number of characters written.
  template <typename Unit> UINT64 CopyToNul(const Unit *Text) {
    UINT8 *const From = Position;
    Position =
        Shift != 0 ? CopyRunToNul<1>(Position, End, Text) : CopyRunToNul<0>(Position, End, Text);
    return static_cast<UINT64>(Position - From) >> Shift;
  }
};

// Pad lengths are differences of unsigned quantities read as signed, so a width or precision
// taken from a huge "*" argument pads nothing instead of running to the end.
INT64 PadLength(UINT64 Total, UINT64 Used) {
  return static_cast<INT64>(Total - Used);
}

template <typename Unit> UINT64 BoundedLength(const Unit *Text, UINT64 Limit) {
  UINT64 Length = 0;
  KESTREL_SHORT_LOOP
  while (Length < Limit && Text[Length] != 0)
    Length++;
  return Length;
}

template <typename Unit> UINT64 TextLength(const Unit *Text) {
  UINT64 Length = 0;
  KESTREL_SHORT_LOOP
  while (Text[Length] != 0)
    Length++;
  return Length;
}

// --- Elements ------------------------------------------------------------------------------------

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
template <typename Unit>
KESTREL_OUT_OF_LINE void EmitText(Output &Out, const Element &E, const Unit *Text, UINT64 Count) {
  const UINT64 Precision = E.Precision > Count ? E.Precision : Count;
  if (E.PadsBefore())
    Out.Fill(PadLength(E.Width, Precision), ' ');
  Out.Fill(PadLength(Precision, Count), ' ');
  Out.Copy(Text, Count);
  if (E.PadsAfter())
    Out.Fill(PadLength(E.Width, Precision), ' ');
}

// A text counted as strings are: its length, but no more than a given precision.
void EmitCountedText(Output &Out, const Element &E, const CHAR8 *Text) {
  const UINT64 Count =
      E.Has(FormatPrecisionGiven) ? BoundedLength(Text, E.Precision) : TextLength(Text);
  EmitText(Out, E, reinterpret_cast<const UINT8 *>(Text), Count);
}

// A string argument. Without a precision it is walked once: right-justified, only as far as
// the width to size the padding, then copied up to its NUL; otherwise copied while counting.
template <typename Unit>
KESTREL_OUT_OF_LINE void EmitString(Output &Out, const Element &E, const Unit *Text) {
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
KESTREL_COLD void EmitCharacter(Output &Out, const Element &E, CHAR16 Character) {
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
KESTREL_OUT_OF_LINE void EmitNumber(Output &Out, Element E, UINT64 Argument, UINT8 *ValueBuffer) {
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

KESTREL_COLD const CHAR8 *GuidText(const EFI_GUID *Guid, CHAR8 *ValueBuffer) {
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

KESTREL_COLD const CHAR8 *TimeText(const EFI_TIME *Time, CHAR8 *ValueBuffer) {
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

// "%08X" reads the status as 32 bits: the error bit and any high bits are not shown.
KESTREL_COLD const CHAR8 *UnnamedStatusText(EFI_STATUS Status, CHAR8 *ValueBuffer) {
  FormatWithFlags(ValueBuffer, ValueBufferSize, 0, UnnamedStatusFormat, Status);
  return ValueBuffer;
}

const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *ValueBuffer) {
  if (EFI_ERROR(Status)) {
    const UINT64 Code = Status & ~EfiErrorBit;
    if (Code >= 1 && Code <= LastErrorCode)
      return StatusNames + StatusNameOffsets.Offset[FirstErrorName + Code - 1];
  } else if (Status <= LastWarningCode) {
    return StatusNames + StatusNameOffsets.Offset[Status];
  }
  return UnnamedStatusText(Status, ValueBuffer);
}

// --- The format ----------------------------------------------------------------------------------

// A format character: one byte, or a little-endian 16-bit value with a UCS-2 format.
UINT16 ReadFormat(const UINT8 *Format, UINT64 FormatStep) {
  UINT16 C = Format[0];
  if (FormatStep == 2)
    C = static_cast<UINT16>(C | Format[1] << BitsPerByte);
  return C;
}

// NUL, line feed, carriage return and "%" end a run of ordinary characters. Most text lies
// above "%", and one comparison settles it.
constexpr bool IsPlain(UINT16 C) {
  return C > '%' || (C != '%' && C != '\n' && C != '\r' && C != 0);
}
constexpr bool IsDigit(UINT16 C) {
  return C >= '0' && C <= '9';
}

// A line end at Format (LF or CR): LF, LF CR and CR LF are "\r\n" (Count 2), a lone CR is "\r"
// (Count 1). Returns the format position after it.
const UINT8 *ReadLineEnd(const UINT8 *Format, UINT64 FormatStep, UINT64 &Count) {
  const UINT16 First = ReadFormat(Format, FormatStep);
  const UINT16 Second = ReadFormat(Format + FormatStep, FormatStep);
  Count = First == '\n' ? 2 : 1;
  if ((First == '\n' && Second == '\r') || (First == '\r' && Second == '\n')) {
    Count = 2;
    return Format + 2 * FormatStep;
  }
  return Format + FormatStep;
}

// Plain text of a format moves a word at a time where it can. A word is let through only when
// none of its lanes (bytes, or UCS-2 characters) can end the run: each lane is taken down by
// 0x0E and, separately, "%" is taken out of it and 1 subtracted. A lane below 0x0E (NUL, line
// feed and carriage return among them) or equal to "%" borrows into its top bit, so a word with
// any such lane always shows a top bit. So do lanes of 0x80 and up, and a lane a borrow reached:
// those words merely go down the character-by-character path, which decides for itself.
using FormatWord = UINT64;
constexpr UINT64 WordBytes = sizeof(FormatWord);
template <UINT64 Shift> constexpr FormatWord LaneOnes() {
  return Shift == 1 ? 0x0001000100010001ull : 0x0101010101010101ull;
}
template <UINT64 Shift> FormatWord RunEndLanes(FormatWord Word) {
  constexpr FormatWord Ones = LaneOnes<Shift>();
  constexpr UINT64 FirstPlainControl = 0x0E;
  return (Word - Ones * FirstPlainControl) | ((Word ^ (Ones * '%')) - Ones);
}
template <UINT64 Shift> bool AnyRunEnd(FormatWord Lanes) {
  constexpr FormatWord Highs = LaneOnes<Shift>() << ((BitsPerByte << Shift) - 1);
  return (Lanes & Highs) != 0;
}

// Copies plain text from Format to To a word at a time while both have Room bytes or more, four
// words a step while it can, and stops before a word that may end the run. Returns how many
// bytes it moved; the character path carries on from there.
template <UINT64 Shift> UINT64 CopyPlainWords(UINT8 *To, const UINT8 *Format, INT64 Room) {
  constexpr INT64 Block = 4 * WordBytes;
  FormatWord W[4];
  INT64 Moved = 0;
  for (; Room - Moved >= Block; Moved += Block) {
    __builtin_memcpy(W, Format + Moved, Block);
    if (AnyRunEnd<Shift>(RunEndLanes<Shift>(W[0]) | RunEndLanes<Shift>(W[1]) |
                         RunEndLanes<Shift>(W[2]) | RunEndLanes<Shift>(W[3])))
      break;
    __builtin_memcpy(To + Moved, W, Block);
  }
  for (; Room - Moved >= static_cast<INT64>(WordBytes); Moved += WordBytes) {
    __builtin_memcpy(W, Format + Moved, WordBytes);
    if (AnyRunEnd<Shift>(RunEndLanes<Shift>(W[0])))
      break;
    __builtin_memcpy(To + Moved, W, WordBytes);
  }
  return static_cast<UINT64>(Moved);
}

// --- Directives ----------------------------------------------------------------------------------

// What a directive's flags, width and precision said, and where its conversion character stands
// (0 when the format ended inside the directive; At is then that NUL).
struct Directive {
  Element E;
  UINT16 Conversion;
  const UINT8 *At;
};

// Reads a directive from the character after its "%": flags, width and precision in any order
// and any number, up to the conversion character. "*" takes its slot here.
// The flag characters of a directive and the flag each sets; the other characters of the table
// set none. One lookup instead of a jump per character: most directives are a conversion letter,
// perhaps after a width.
constexpr UINT64 DirectiveFlagChars = 0x80;
struct DirectiveFlagTable {
  UINT16 Flag[DirectiveFlagChars];
};
constexpr DirectiveFlagTable MakeDirectiveFlagTable() {
  struct FlagChar {
    UINT8 Char;
    UINT64 Flag;
  };
  constexpr FlagChar FlagChars[] = {
      {'-', FormatLeftJustify},    {'+', FormatSignPrefix}, {' ', FormatBlankPrefix},
      {',', FormatCommaGroups},    {'l', FormatLongValue},  {'L', FormatLongValue},
      {'.', FormatPrecisionGiven},
  };
  DirectiveFlagTable Table{};
  for (const FlagChar &F : FlagChars)
    Table.Flag[F.Char] = static_cast<UINT16>(F.Flag);
  return Table;
}
constexpr DirectiveFlagTable DirectiveFlags = MakeDirectiveFlagTable();

Directive ParseDirective(const UINT8 *Format, UINT64 FormatStep, UINT64 Flags,
                         ArgumentCursor &Arguments) {
  Directive D{{Flags, 0, 1}, 0, Format};
  Element &E = D.E;
  for (;; Format += FormatStep) {
    UINT16 C = ReadFormat(Format, FormatStep);
    if (C < DirectiveFlagChars && DirectiveFlags.Flag[C] != 0) {
      E.Flags |= DirectiveFlags.Flag[C];
      continue;
    }
    if (C == '*') {
      if (E.Has(FormatPrecisionGiven)) {
        E.Precision = Arguments.TakeValue();
      } else {
        E.Width = Arguments.TakeValue();
        E.Flags |= FormatWidthGiven;
      }
      continue;
    }
    if (!IsDigit(C)) {
      D.Conversion = C;
      D.At = Format;
      return D;
    }
    if (C == '0' && !E.Has(FormatPrecisionGiven))
      E.Flags |= FormatZeroFill;
    UINT64 Number = 0;
    for (;;) {
      Number = Number * DecimalBase + (C - '0');
      const UINT16 Following = ReadFormat(Format + FormatStep, FormatStep);
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
  }
}

// The directives that are neither a string nor a number nor a status: the end of the format
// inside the directive, a line end after "%", a single character, a GUID, a time, and any
// character that is no conversion. Rare, so built for size. Returns the format position after
// the directive.
KESTREL_COLD const UINT8 *EmitRareDirective(Output &Out, Directive &D, UINT64 FormatStep,
                                            ArgumentCursor &Arguments) {
  Element &E = D.E;
  CHAR8 ValueBuffer[ValueBufferSize];
  switch (D.Conversion) {
  case 0:
    // The format ended inside the directive: an empty text (the width still pads), and the
    // main loop stops on this NUL.
    E.Precision = 0;
    EmitText(Out, E, EmptyText, 0);
    return D.At;
  case '\n':
  case '\r': {
    UINT64 Count;
    const UINT8 *Next = ReadLineEnd(D.At, FormatStep, Count);
    EmitText(Out, E, LineEndText, Count);
    return Next;
  }
  case 'c':
    EmitCharacter(Out, E, static_cast<CHAR16>(Arguments.TakeValue()));
    break;
  case 'g':
    EmitCountedText(
        Out, E,
        GuidText(static_cast<const EFI_GUID *>(Arguments.TakePointer(FormatArgKind::Guid)),
                 ValueBuffer));
    break;
  case 't':
    EmitCountedText(
        Out, E,
        TimeText(static_cast<const EFI_TIME *>(Arguments.TakePointer(FormatArgKind::Time)),
                 ValueBuffer));
    break;
  default:
    // No conversion ("%%", "%i", ...): the character itself, no argument taken.
    EmitCharacter(Out, E, D.Conversion);
    break;
  }
  return D.At + FormatStep;
}

// One directive, from the character after its "%": read, converted and emitted. Returns the
// format position after it; when the format ended inside the directive, the position of that
// NUL, on which the main loop then stops.
KESTREL_OUT_OF_LINE const UINT8 *EmitDirective(Output &Out, const UINT8 *Format, UINT64 FormatStep,
                                               UINT64 Flags, ArgumentCursor &Arguments) {
  Directive D = ParseDirective(Format, FormatStep, Flags, Arguments);
  Element &E = D.E;
  CHAR8 ValueBuffer[ValueBufferSize];
  UINT8 *const Digits = reinterpret_cast<UINT8 *>(ValueBuffer);
  switch (D.Conversion) {
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
  case 'u':
    E.Flags = (E.Flags & ~FormatSignPrefix) | FormatUnsignedValue;
    EmitNumber(Out, E, Arguments.TakeValue(), Digits);
    break;
  case 'd':
    EmitNumber(Out, E, Arguments.TakeValue(), Digits);
    break;
  case 'x':
    E.Flags |= FormatHexRadix;
    EmitNumber(Out, E, Arguments.TakeValue(), Digits);
    break;
  case 'X':
    E.Flags |= FormatHexRadix | FormatZeroFill;
    EmitNumber(Out, E, Arguments.TakeValue(), Digits);
    break;
  case 'p':
    E.Flags = (E.Flags & ~(FormatSignPrefix | FormatBlankPrefix)) | FormatHexRadix |
              FormatZeroFill | FormatLongValue;
    EmitNumber(Out, E, Arguments.TakeValue(), Digits);
    break;
  case 'r':
    EmitCountedText(Out, E, StatusText(Arguments.TakeValue(), ValueBuffer));
    break;
  default:
    return EmitRareDirective(Out, D, FormatStep, Arguments);
  }
  return D.At + FormatStep;
}

// --- The loop ------------------------------------------------------------------------------------

// One pass over the format into the output, one copy per output width. Plain text and line ends,
// which make up most of every message, are written here; each directive goes to EmitDirective.
// Both copies sit inside FormatEngine: a call of its own per message costs a tenth of a short
// line's time.
//
// Where format and output characters have the same width and the format's storage is known to
// reach to Limit, plain text moves a word at a time: neither the load nor the store ever reaches
// past its end, and a word that may hold the run's end goes character by character.
template <UINT64 Shift>
__attribute__((always_inline)) inline UINT8 *Expand(UINT8 *Start, UINT8 *End, UINT64 Flags,
                                                    const UINT8 *Format, const UINT8 *Limit,
                                                    ArgumentCursor &Arguments) {
  constexpr UINT64 Step = 1 << Shift;
  const UINT64 FormatStep = (Flags & FormatWideFormat) != 0 ? 2 : 1;
  const bool Words = FormatStep == Step;
  Output Out{Start, End, Shift};

  UINT16 C = ReadFormat(Format, FormatStep);
  while (C != 0 && !Out.Full()) {
    if (IsPlain(C)) {
      UINT8 *To = Out.Position;
      if (Words) {
        const INT64 FormatRoom = Limit - Format;
        const INT64 OutRoom = End - To;
        const UINT64 Moved =
            CopyPlainWords<Shift>(To, Format, FormatRoom < OutRoom ? FormatRoom : OutRoom);
        To += Moved;
        Format += Moved;
        C = ReadFormat(Format, FormatStep);
      }
      while (IsPlain(C) && To < End) {
        StoreCharacter<Shift>(To, C);
        To += Step;
        Format += FormatStep;
        C = ReadFormat(Format, FormatStep);
      }
      Out.Position = To;
      continue;
    }
    if (C == '%') {
      Format = EmitDirective(Out, Format + FormatStep, FormatStep, Flags & CallerFlags, Arguments);
    } else {
      UINT64 Count;
      Format = ReadLineEnd(Format, FormatStep, Count);
      StoreCharacter<Shift>(Out.Position, '\r');
      Out.Position += Step;
      if (Count == 2 && !Out.Full()) {
        StoreCharacter<Shift>(Out.Position, '\n');
        Out.Position += Step;
      }
    }
    C = ReadFormat(Format, FormatStep);
  }
  return Out.Position;
}

} // namespace

UINT8 *FillChars(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character, UINT64 Step) {
  if (Step == 1)
    return FillRun<0>(Position, End, Count, Character);
  if (Step == 2)
    return FillRun<1>(Position, End, Count, Character);
  if (Count <= 0 || Position >= End)
    return Position;
  // A step of 0 writes every character to the same byte and never moves.
  if (Step == 0) {
    Position[0] = static_cast<UINT8>(Character);
    return Position;
  }
  // Wider steps: the low byte of each character, Step bytes apart.
  const UINT64 Room = static_cast<UINT64>(End - Position) / Step;
  const UINT64 Limit = static_cast<UINT64>(Count) < Room ? static_cast<UINT64>(Count) : Room;
  for (UINT64 I = 0; I < Limit; I++, Position += Step)
    Position[0] = static_cast<UINT8>(Character);
  return Position;
}

UINT64 FormatEngine(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, const FormatSource &Format,
                    FormatArgList Arguments) {
  if (BufferSize == 0 || Buffer == nullptr)
    return 0;
  const bool WideOut = (Flags & FormatWideOutput) != 0;
  const UINT64 OutStep = WideOut ? 2 : 1;
  UINT8 *const Start = static_cast<UINT8 *>(Buffer);
  UINT8 *const End = Start + (BufferSize - 1) * OutStep;
  UINT8 *Stop = Start;
  if (Format.Text != nullptr) {
    ArgumentCursor Cursor{Arguments.Items, Arguments.Items != nullptr ? Arguments.Count : 0, 0};
    const UINT8 *F = static_cast<const UINT8 *>(Format.Text);
    // Without a known size the limit is the format's start: no word is ever read.
    const UINT8 *const Limit = F + Format.Readable;
    if (WideOut)
      Stop = Expand<1>(Start, End, Flags, F, Limit, Cursor);
    else
      Stop = Expand<0>(Start, End, Flags, F, Limit, Cursor);
  }
  Stop[0] = 0;
  if (WideOut)
    Stop[1] = 0;
  return static_cast<UINT64>(Stop - Start) / OutStep;
}
