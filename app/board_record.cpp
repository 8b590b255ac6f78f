#include "app/board_record.h"

#include "shell/console.h"
#include "shell/memory.h"
#include "shell/platform_context.h"

namespace {

// The text formats leave a NUL behind each field; the fields are laid in ascending order so the
// next field overwrites it.
constexpr UINTN SignatureWindow = 9;
constexpr UINTN TextWindow = RecordTextFieldSize + 1;
constexpr UINT8 FieldEnd = '$';

bool IsHexDigit(CHAR16 C) {
  return (C >= u'0' && C <= u'9') || (C >= u'A' && C <= u'F') || (C >= u'a' && C <= u'f');
}

UINT64 HexDigitValue(CHAR16 C) {
  if (C >= u'0' && C <= u'9')
    return C - u'0';
  if (C >= u'A' && C <= u'F')
    return C - u'A' + 10;
  return C - u'a' + 10;
}

// Shape check: optional '-', zeros, an 'x' only right after a '0', then hexadecimal digits up to
// the first NUL or space.
bool LooksHexadecimal(const CHAR16 *Text) {
  const CHAR16 *P = Text;
  if (*P == u'-')
    P++;
  while (*P == u'0')
    P++;
  if (*P == u'x' || *P == u'X') {
    if (P == Text || P[-1] != u'0')
      return false;
    P++;
  }
  for (; *P != 0 && *P != u' '; P++) {
    if (!IsHexDigit(*P))
      return false;
  }
  return true;
}

void CrcOf(const UINT8 *Data, UINTN Length, UINT32 *Crc) {
  PlatformContext.BootServices->CalculateCrc32(Data, Length, Crc);
}

} // namespace

EFI_STATUS ParseHexId(const CHAR16 *Text, UINT64 *Value) {
  if (Text == nullptr || Value == nullptr || !LooksHexadecimal(Text))
    return EFI_INVALID_PARAMETER;
  const CHAR16 *P = Text;
  while (*P == u' ')
    P++;
  if (*P == 0 || !LooksHexadecimal(P))
    return EFI_INVALID_PARAMETER;

  while (*P == u' ' || *P == u'\t')
    P++;
  while (*P == u'0')
    P++;
  if ((*P == u'x' || *P == u'X') && P != Text && P[-1] == u'0')
    P++;
  if (*P == u' ')
    return EFI_INVALID_PARAMETER;

  // A leading '-' passes the shape check but is no digit: the number ends at once, as 0.
  UINT64 Result = 0;
  for (; IsHexDigit(*P); P++) {
    UINT64 Digit = HexDigitValue(*P);
    if (Result > (~0ULL - Digit) / 16)
      return EFI_DEVICE_ERROR;
    Result = Result * 16 + Digit;
  }
  *Value = Result;
  return EFI_SUCCESS;
}

TextFault CheckStorableText(const CHAR16 *Text) {
  if (Text == nullptr || *Text == 0)
    return TextFault::Empty;
  UINTN Length = 0;
  for (; *Text != 0; Text++, Length++) {
    if (*Text < 0x20 || *Text > 0x7E || *Text == u'$')
      return TextFault::Unprintable;
  }
  // A longer text would lose its tail, and two boards whose serials differ only there would
  // carry the same record.
  return Length > RecordTextFieldSize ? TextFault::TooLong : TextFault::None;
}

IdFault ParseIdValue(const CHAR16 *Text, UINT32 *Value) {
  if (Text == nullptr || Value == nullptr)
    return IdFault::NotANumber;
  const CHAR16 *Digits = Text;
  if (Digits[0] == u'0' && (Digits[1] == u'x' || Digits[1] == u'X'))
    Digits += 2;
  if (*Digits == 0)
    return IdFault::NotANumber;
  for (const CHAR16 *P = Digits; *P != 0; P++) {
    if (!IsHexDigit(*P))
      return IdFault::NotANumber;
  }
  // The shape is now plain digits after an optional prefix, which the converter takes whole.
  UINT64 Wide = 0;
  if (ParseHexId(Text, &Wide) != EFI_SUCCESS)
    return IdFault::NotANumber;
  // The record's field is 32 bits wide: a larger value would be stored without its top digits.
  if (Wide > 0xFFFFFFFFull)
    return IdFault::TooLarge;
  *Value = static_cast<UINT32>(Wide);
  return IdFault::None;
}

VOID ReportIdFault(IdFault Fault, const CHAR16 *Name, const CHAR16 *Text) {
  if (Fault == IdFault::TooLarge)
    PrintConsole(u"ERROR: %s \"%s\" does not fit the record's 32 bits!\n", Name, Text);
  else
    PrintConsole(u"ERROR: %s \"%s\" is not a hexadecimal number of at most 64 bits!\n", Name, Text);
}

ToolStatus BuildBoardRecord(const WriteRequest *Request, UINT8 *Record) {
  if (Record != nullptr)
    ZeroBytes(Record, BoardRecordSize);
  if (Request == nullptr || Record == nullptr) {
    ReportInternalError(InternalCheck::BuildBoardRecordArguments);
    return ToolBadCommandLine;
  }

  FormatToAscii(reinterpret_cast<CHAR8 *>(Record + RecordOffset::Signature), SignatureWindow,
                "%-8a", "$Eeprom$");
  StoreLe32(Record + RecordOffset::FormatWord, RecordFormatWord);
  StoreLe32(Record + RecordOffset::HeaderLength, RecordHeaderLength);
  StoreLe32(Record + RecordOffset::RecordLength, BoardRecordSize);
  StoreLe32(Record + RecordOffset::Crc32, 0);
  StoreLe32(Record + RecordOffset::HeaderReserved, 0);

  FormatToAscii(reinterpret_cast<CHAR8 *>(Record + RecordOffset::BlockSignature), SignatureWindow,
                "%-8a", "$BrdInfo");
  StoreLe32(Record + RecordOffset::BlockVersion, RecordBlockVersion);
  StoreLe32(Record + RecordOffset::BlockLength, RecordBlockLength);

  FormatToAscii(reinterpret_cast<CHAR8 *>(Record + RecordOffset::Vendor), TextWindow, "%-16a",
                "Vexor$");
  FormatToAscii(reinterpret_cast<CHAR8 *>(Record + RecordOffset::Product), TextWindow, "%-16a",
                "Pylon$");
  FormatToAscii(reinterpret_cast<CHAR8 *>(Record + RecordOffset::ModuleSerial), TextWindow, "%-16s",
                Request->ModuleSerial);
  StoreLe32(Record + RecordOffset::BoardId, Request->BoardId);
  StoreLe32(Record + RecordOffset::BomId, Request->BomId);
  StoreLe32(Record + RecordOffset::FabId, Request->FabId);
  FormatToAscii(reinterpret_cast<CHAR8 *>(Record + RecordOffset::MmNumber), TextWindow, "%-16s",
                Request->Mm);
  // An absent carrier serial is stored as a lone '$', which readers see as the empty text (see
  // docs/kept-on-purpose.md).
  FormatToAscii(reinterpret_cast<CHAR8 *>(Record + RecordOffset::CarrierSerial), TextWindow,
                "%-16s", Request->CarrierSerial != nullptr ? Request->CarrierSerial : u"$");

  UINT32 Crc = 0;
  CrcOf(Record, BoardRecordSize, &Crc);
  StoreLe32(Record + RecordOffset::Crc32, Crc);
  return ToolSuccess;
}

bool RecordCrcMatches(const UINT8 *Record, UINT32 *StoredCrc, UINT32 *ComputedCrc) {
  UINT8 Copy[BoardRecordSize];
  CopyBytes(Copy, Record, BoardRecordSize);
  UINT32 Stored = LoadLe32(Copy + RecordOffset::Crc32);
  UINT32 Length = LoadLe32(Copy + RecordOffset::RecordLength);
  StoreLe32(Copy + RecordOffset::Crc32, 0);
  // A computation over no bytes leaves the zero in place: a blank record is valid.
  UINT32 Computed = 0;
  bool Checkable = Length <= BoardRecordSize;
  if (Checkable)
    CrcOf(Copy, Length, &Computed);
  // Nothing covered: only the blank block of a clear is a record; a block that merely has a zero
  // length and CRC but other bytes set is a torn clear or someone else's data.
  if (Length == 0)
    Checkable = Stored == 0 && AllBytesZero(Copy, BoardRecordSize);
  if (StoredCrc != nullptr)
    *StoredCrc = Stored;
  if (ComputedCrc != nullptr)
    *ComputedCrc = Computed;
  return Checkable && Computed == Stored;
}

RecordCheck CheckBlock(const UINT8 *Block, UINTN Size) {
  RecordCheck Check = {BlockKind::Corrupt, true, 0, 0};
  bool Erased = true;
  for (UINTN I = 0; I < Size; I++) {
    Erased = Erased && Block[I] == ErasedByte;
    Check.TailZero = Check.TailZero && (I < BoardRecordSize || Block[I] == 0);
  }
  bool Passes = RecordCrcMatches(Block, &Check.StoredCrc, &Check.ComputedCrc);
  if (AllBytesZero(Block, BoardRecordSize))
    Check.Kind = BlockKind::Blank;
  else if (Erased)
    Check.Kind = BlockKind::Erased;
  else if (Passes)
    Check.Kind = BlockKind::Record;
  return Check;
}

SeenRecord SeeBlock(const UINT8 *Block, UINTN Size) {
  SeenRecord Seen = {true, {}, CheckBlock(Block, Size)};
  CopyBytes(Seen.Record, Block, BoardRecordSize);
  return Seen;
}

UINTN RecordTextLength(const UINT8 *Field) {
  // A field of nothing but padding reads as the empty text.
  bool OnlySpaces = true;
  UINTN Length = 0;
  for (; Length < RecordTextFieldSize && Field[Length] != FieldEnd; Length++) {
    if (Field[Length] != ' ')
      OnlySpaces = false;
  }
  return OnlySpaces ? 0 : Length;
}

ToolStatus CopyRecordText(CHAR8 *Destination, const UINT8 *Source) {
  if (Source == nullptr || Destination == nullptr) {
    ReportInternalError(InternalCheck::CopyRecordTextSource);
    return ToolBadCommandLine;
  }
  UINTN Length = RecordTextLength(Source);
  for (UINTN I = 0; I < Length; I++)
    Destination[I] = static_cast<CHAR8>(Source[I]);
  Destination[Length] = 0;
  return ToolSuccess;
}
