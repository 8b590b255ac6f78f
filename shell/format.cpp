// The format engine: ordinary text, line ends and "%" directives expanded in one pass straight
// into the caller's buffer, without allocation. Each directive is read by ParseDirective into a
// plain record and then written by one of the Push* emitters below; numbers, and the nested
// texts of GUIDs, times and unnamed status codes, are rendered in a small value buffer on the
// call's own stack.
//
// Output characters are 1 byte, or 2 with UCS-2 (low byte first); texts and the format are read
// the same way, a byte or two at a time, so one path serves every width. Every write is bounded
// by the end position, which lies one character before the buffer's end, so the NUL always fits.
#include "shell/format.h"

#include "shell/byte_order.h"

namespace {

// Long enough for a GUID's 36 characters and a NUL, the longest text rendered here (a 64-bit
// decimal needs 20 digits, commas are not stored).
constexpr UINT64 ValueBufferSize = 38;

constexpr UINT8 DigitTable[] = "0123456789ABCDEF";
constexpr UINT64 DigitsPerGroup = 3;
constexpr UINT64 Low32Bits = 0xFFFFFFFF;
constexpr UINT64 BitsPerByte = 8;

// Only the caller's choices survive from one format element to the next.
constexpr UINT64 CallerFlags = FormatWideOutput | FormatWideFormat | FormatCountOnly;

constexpr CHAR8 NullStringText[] = "<null string>";
constexpr CHAR8 NullGuidText[] = "<null guid>";
constexpr CHAR8 NullTimeText[] = "<null time>";
constexpr CHAR8 LineEndText[] = "\r\n";

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

// --- Texts and output ----------------------------------------------------------------------------

// One output character of Step bytes at At: its low byte and, with Step 2, bits 8-15 in the next
// byte. Both widths take the same two stores and no branch: the high byte goes to the
// character's last byte first, so with Step 1 the low byte then overwrites it.
VOID StoreCharacter(UINT8 *At, UINT64 Step, UINT16 Character) {
  At[Step - 1] = static_cast<UINT8>(Character >> BitsPerByte);
  At[0] = static_cast<UINT8>(Character);
}

// A text to emit: 8-bit characters, or UCS-2 ones (Step 2), up to its NUL.
struct Text {
  const UINT8 *Bytes;
  UINT64 Step;

  // The characters before the NUL, but no more than Limit.
  UINT64 Length(UINT64 Limit) const {
    UINT64 Count = 0;
    for (const UINT8 *At = Bytes; Count < Limit && ReadCharacter(At, Step) != 0; At += Step)
      Count++;
    return Count;
  }
};

Text NarrowText(const CHAR8 *Characters) {
  return {reinterpret_cast<const UINT8 *>(Characters), 1};
}
Text WideText(const CHAR16 *Characters) {
  return {reinterpret_cast<const UINT8 *>(Characters), 2};
}

constexpr UINT64 NoLimit = ~0ull;

// Writes Character Count times from Position, Step bytes apart: its low byte and, when Step is
// 2, bits 8-15 in the next byte. It stops at End, which lies a whole number of characters from
// where the output began; a Count of 0 or less writes nothing. Every pad, prefix and single
// character of the engine is written here. Returns the position after the last write.
UINT8 *FillChars(UINT8 *Position, UINT8 *End, INT64 Count, UINT16 Character, UINT64 Step) {
  for (; Count > 0 && Position < End; Count--, Position += Step)
    StoreCharacter(Position, Step, Character);
  return Position;
}

// Up to Count characters of T from Position, each widened or narrowed to the output's Step, as
// far as End. Returns the position after the last write.
UINT8 *CopyText(UINT8 *Position, UINT8 *End, UINT64 Step, Text T, UINT64 Count) {
  const UINT8 *From = T.Bytes;
  for (; Count > 0 && Position < End; Count--, Position += Step, From += T.Step)
    StoreCharacter(Position, Step, ReadCharacter(From, T.Step));
  return Position;
}

// T up to its NUL, as far as End. Returns the position after the last write.
UINT8 *CopyTextToNul(UINT8 *Position, UINT8 *End, UINT64 Step, Text T) {
  const UINT8 *From = T.Bytes;
  for (UINT16 C = ReadCharacter(From, T.Step); C != 0 && Position < End;
       Position += Step, From += T.Step, C = ReadCharacter(From, T.Step))
    StoreCharacter(Position, Step, C);
  return Position;
}

// The output between Position and End. Its writes go through FillChars and CopyText, which keep
// the positions in their own parameters: a byte store through a pointer could otherwise be taken
// to change the Output itself, and every character would reload it.
struct Output {
  UINT8 *Position;
  UINT8 *End;
  UINT64 Step; // bytes per output character

  VOID Fill(INT64 Count, UINT16 Character) {
    Position = FillChars(Position, End, Count, Character, Step);
  }
  VOID Put(UINT16 Character) { Fill(1, Character); }
  VOID Copy(Text T, UINT64 Count) { Position = CopyText(Position, End, Step, T, Count); }
  // Returns the number of characters written.
  UINT64 CopyToNul(Text T) {
    UINT8 *const From = Position;
    Position = CopyTextToNul(Position, End, Step, T);
    return static_cast<UINT64>(Position - From) / Step;
  }
  bool Full() const { return Position >= End; }
};

// Pad lengths are differences of unsigned quantities read as signed, so a width or precision
// taken from a huge "*" argument pads nothing instead of running to the end.
INT64 PadLength(UINT64 Total, UINT64 Used) {
  return static_cast<INT64>(Total - Used);
}

// --- Elements ------------------------------------------------------------------------------------

// One format element being emitted: the flag word with the directive's own flags, its width and
// its precision.
struct Element {
  UINT64 Flags;
  UINT64 Width;
  UINT64 Precision;

  bool Has(UINT64 Bit) const { return (Flags & Bit) != 0; }
  bool PadsBefore() const { return Has(FormatWidthGiven) && !Has(FormatLeftJustify); }
  bool PadsAfter() const { return Has(FormatWidthGiven) && Has(FormatLeftJustify); }
};

// Count characters of a text: the width's spaces before it (right-justified), precision - count
// spaces, the text, and the width's spaces after it (left-justified).
VOID PushText(Output &Out, const Element &E, Text T, UINT64 Count) {
  const UINT64 Precision = E.Precision > Count ? E.Precision : Count;
  if (E.PadsBefore())
    Out.Fill(PadLength(E.Width, Precision), ' ');
  Out.Fill(PadLength(Precision, Count), ' ');
  Out.Copy(T, Count);
  if (E.PadsAfter())
    Out.Fill(PadLength(E.Width, Precision), ' ');
}

// A string argument (a, s, S): its length, cut by a precision when one is given. Without one
// the precision counts for nothing and the string is copied up to its NUL in one pass; only
// right-justified is it measured first, and then no further than the width.
VOID PushString(Output &Out, const Element &E, Text T) {
  if (E.Has(FormatPrecisionGiven)) {
    PushText(Out, E, T, T.Length(E.Precision));
    return;
  }
  if (E.PadsBefore())
    Out.Fill(PadLength(E.Width, T.Length(E.Width)), ' ');
  const UINT64 Count = Out.CopyToNul(T);
  if (E.PadsAfter())
    Out.Fill(PadLength(E.Width, Count), ' ');
}

// The 8-bit texts of g, t and r: counted as strings are, but the precision is left as it was.
VOID PushNamedText(Output &Out, const Element &E, const CHAR8 *Name) {
  const Text T = NarrowText(Name);
  PushText(Out, E, T, T.Length(E.Has(FormatPrecisionGiven) ? E.Precision : NoLimit));
}

// A one-character text (c, a character that is no conversion): the zero character counts 0.
VOID PushCharacter(Output &Out, const Element &E, CHAR16 Character) {
  UINT64 Count = Character != 0 ? 1 : 0;
  if (E.Has(FormatPrecisionGiven) && Count > E.Precision)
    Count = E.Precision;
  PushText(Out, E, WideText(&Character), Count);
}

// d, u, x, X and p. The digits are rendered least significant first, downwards from the end of
// the value buffer, and emitted from the most significant.
VOID PushNumber(Output &Out, Element E, UINT64 Argument) {
  const bool Long = E.Has(FormatLongValue);
  const bool Hex = E.Has(FormatHexRadix);
  // Without "l" the argument is a 32-bit integer, sign-extended.
  UINT64 Value = Long ? Argument : static_cast<UINT64>(static_cast<INT32>(Argument & Low32Bits));
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

  UINT8 Digits[ValueBufferSize];
  UINT64 First = ValueBufferSize;
  if (Value != 0 || E.Precision != 0) {
    do {
      if (Hex) {
        Digits[--First] = DigitTable[Value % 16];
        Value /= 16;
      } else {
        Digits[--First] = DigitTable[Value % 10];
        Value /= 10;
      }
    } while (Value != 0);
  }
  const UINT64 DigitCount = ValueBufferSize - First;
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
    Out.Put(Prefix);
  Out.Fill(PadLength(E.Precision, Count), '0');
  if (!Grouped)
    Out.Copy({Digits + First, 1}, DigitCount);
  for (UINT64 I = 0; Grouped && I < DigitCount; I++) {
    Out.Put(Digits[First + I]);
    // A comma after every third digit counted from the right, never after the last.
    const UINT64 Following = DigitCount - 1 - I;
    if (Following != 0 && Following % DigitsPerGroup == 0)
      Out.Put(',');
  }
  if (E.PadsAfter())
    Out.Fill(PadLength(E.Width, E.Precision), ' ');
}

// GUIDs sit unaligned inside HOBs and firmware records: GUID and time fields are gathered byte by
// byte (LoadLe).

const CHAR8 *GuidText(const EFI_GUID *Guid, CHAR8 *ValueBuffer) {
  if (Guid == nullptr)
    return NullGuidText;
  const UINT8 *B = reinterpret_cast<const UINT8 *>(Guid);
  const UINT32 Data1 = static_cast<UINT32>(LoadLe(B, sizeof(UINT32)));
  const UINT16 Data2 = static_cast<UINT16>(LoadLe(B + offsetof(EFI_GUID, Data2), sizeof(UINT16)));
  const UINT16 Data3 = static_cast<UINT16>(LoadLe(B + offsetof(EFI_GUID, Data3), sizeof(UINT16)));
  const UINT8 *D = B + offsetof(EFI_GUID, Data4);
  FormatToAscii(ValueBuffer, ValueBufferSize, GuidFormat, Data1, Data2, Data3, D[0], D[1], D[2],
                D[3], D[4], D[5], D[6], D[7]);
  return ValueBuffer;
}

const CHAR8 *TimeText(const EFI_TIME *Time, CHAR8 *ValueBuffer) {
  if (Time == nullptr)
    return NullTimeText;
  const UINT8 *B = reinterpret_cast<const UINT8 *>(Time);
  const UINT16 Year = static_cast<UINT16>(LoadLe(B + offsetof(EFI_TIME, Year), sizeof(UINT16)));
  FormatToAscii(ValueBuffer, ValueBufferSize, TimeFormat, B[offsetof(EFI_TIME, Month)],
                B[offsetof(EFI_TIME, Day)], Year, B[offsetof(EFI_TIME, Hour)],
                B[offsetof(EFI_TIME, Minute)]);
  return ValueBuffer;
}

// A named status, or its low 32 bits as 8 hexadecimal digits: neither the error bit nor any
// high bit is shown.
const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *ValueBuffer) {
  if (EFI_ERROR(Status)) {
    const UINT64 Code = Status & ~EfiErrorBit;
    if (Code >= 1 && Code <= LastErrorCode)
      return StatusNames + StatusNameOffsets.Offset[FirstErrorName + Code - 1];
  } else if (Status <= LastWarningCode) {
    return StatusNames + StatusNameOffsets.Offset[Status];
  }
  FormatToAscii(ValueBuffer, ValueBufferSize, UnnamedStatusFormat,
                static_cast<UINT32>(Status & Low32Bits));
  return ValueBuffer;
}

// --- The format ----------------------------------------------------------------------------------

// A line end at In (LF or CR): LF, LF CR and CR LF are "\r\n", a lone CR is "\r". Steps In past
// it and returns the number of characters to emit.
UINT64 ReadLineEnd(FormatReader &In) {
  const UINT16 First = In.Peek();
  const UINT16 Second = In.Peek(1);
  In.Next();
  if ((First == '\n' && Second == '\r') || (First == '\r' && Second == '\n')) {
    In.Next();
    return 2;
  }
  return First == '\n' ? 2 : 1;
}

// One directive, from the character after its "%": read, its arguments taken, emitted. Leaves
// In after the directive, or on the NUL when the format ended inside it.
VOID PushDirective(Output &Out, FormatReader &In, UINT64 Flags, ArgumentCursor &Arguments) {
  const FormatDirective D = ParseDirective(In);
  Element E{(Flags & CallerFlags) | D.Flags, D.Width, D.Precision};
  for (UINT64 Star = 1; Star <= D.Stars; Star++) {
    const UINT64 Value = Arguments.TakeValue();
    if (Star == D.WidthStar)
      E.Width = Value;
    if (Star == D.PrecisionStar)
      E.Precision = Value;
  }
  CHAR8 ValueBuffer[ValueBufferSize];
  switch (ConversionTakes(D.Conversion)) {
  case FormatTakes::Number:
    if (D.Conversion == 'u')
      E.Flags = (E.Flags & ~FormatSignPrefix) | FormatUnsignedValue;
    if (D.Conversion == 'x')
      E.Flags |= FormatHexRadix;
    if (D.Conversion == 'X')
      E.Flags |= FormatHexRadix | FormatZeroFill;
    PushNumber(Out, E, Arguments.TakeValue());
    break;
  case FormatTakes::Address:
    E.Flags = (E.Flags & ~(FormatSignPrefix | FormatBlankPrefix)) | FormatHexRadix |
              FormatZeroFill | FormatLongValue;
    PushNumber(Out, E, Arguments.TakeValue());
    break;
  case FormatTakes::Character:
    PushCharacter(Out, E, static_cast<CHAR16>(Arguments.TakeValue()));
    break;
  case FormatTakes::Status:
    PushNamedText(Out, E, StatusText(Arguments.TakeValue(), ValueBuffer));
    break;
  case FormatTakes::NarrowText: {
    const VOID *Characters = Arguments.TakePointer(FormatArgKind::NarrowText);
    PushString(Out, E,
               Characters != nullptr ? NarrowText(static_cast<const CHAR8 *>(Characters))
                                     : NarrowText(NullStringText));
    break;
  }
  case FormatTakes::WideText: {
    const VOID *Characters = Arguments.TakePointer(FormatArgKind::WideText);
    PushString(Out, E,
               Characters != nullptr ? WideText(static_cast<const CHAR16 *>(Characters))
                                     : NarrowText(NullStringText));
    break;
  }
  case FormatTakes::Guid:
    PushNamedText(
        Out, E,
        GuidText(static_cast<const EFI_GUID *>(Arguments.TakePointer(FormatArgKind::Guid)),
                 ValueBuffer));
    break;
  case FormatTakes::Time:
    PushNamedText(
        Out, E,
        TimeText(static_cast<const EFI_TIME *>(Arguments.TakePointer(FormatArgKind::Time)),
                 ValueBuffer));
    break;
  case FormatTakes::Nothing:
    if (D.Conversion == 0) {
      // The format ended inside the directive: an empty text (a width still pads), and the
      // main loop stops on this NUL.
      E.Precision = 0;
      PushText(Out, E, NarrowText(LineEndText), 0);
      return;
    }
    if (D.Conversion == '\n' || D.Conversion == '\r') {
      PushText(Out, E, NarrowText(LineEndText), ReadLineEnd(In));
      return;
    }
    // No conversion ("%%", "%i", ...): the character itself, no argument taken.
    PushCharacter(Out, E, D.Conversion);
    break;
  }
  In.Next();
}

} // namespace

UINT64 FormatEngine(VOID *Buffer, UINT64 BufferSize, UINT64 Flags, const VOID *Format,
                    FormatArgList Arguments) {
  if (BufferSize == 0 || Buffer == nullptr)
    return 0;
  const UINT64 Step = (Flags & FormatWideOutput) != 0 ? 2 : 1;
  UINT8 *const Start = static_cast<UINT8 *>(Buffer);
  Output Out{Start, Start + (BufferSize - 1) * Step, Step};
  if (Format != nullptr) {
    FormatReader In{static_cast<const UINT8 *>(Format), (Flags & FormatWideFormat) != 0 ? 2u : 1u};
    ArgumentCursor Cursor{Arguments.Items, Arguments.Items != nullptr ? Arguments.Count : 0, 0};
    // Each element: an ordinary character, a line end or a directive.
    for (UINT16 C = In.Peek(); C != 0 && !Out.Full(); C = In.Peek()) {
      if (C == '%') {
        In.Next();
        PushDirective(Out, In, Flags, Cursor);
      } else if (C == '\n' || C == '\r') {
        const UINT64 Count = ReadLineEnd(In);
        Out.Put('\r');
        if (Count == 2)
          Out.Put('\n');
      } else {
        // A run of ordinary characters, up to the next that is none or the end of the output.
        // The positions are plain locals here, for the reason given at Output.
        UINT8 *To = Out.Position;
        UINT8 *const End = Out.End;
        const UINT8 *From = In.At;
        const UINT64 FormatStep = In.Step;
        do {
          StoreCharacter(To, Step, C);
          To += Step;
          From += FormatStep;
          C = ReadCharacter(From, FormatStep);
        } while (C != 0 && C != '%' && C != '\n' && C != '\r' && To < End);
        Out.Position = To;
        In.At = From;
      }
    }
  }
  // The terminating NUL, in the output's width, right behind the last character.
  StoreCharacter(Out.Position, Step, 0);
  return static_cast<UINT64>(Out.Position - Start) / Step;
}
