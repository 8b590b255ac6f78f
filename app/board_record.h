// The 176-byte board record at the start of GPP1 block 0: a "$Eeprom$" header that frames and
// checksums the image, followed by the "$BrdInfo" block describing the Pylon module.
#pragma once

#include "app/tool_status.h"
#include "shell/byte_order.h"

constexpr UINTN BoardRecordSize = 176;
constexpr UINTN RecordTextFieldSize = 16;
// A record text with its NUL, as CopyRecordText leaves it.
constexpr UINTN RecordTextBufferSize = RecordTextFieldSize + 1;
// What every byte of an erased eMMC block reads as.
constexpr UINT8 ErasedByte = 0xFF;

// The record's fields, in order, with their sizes; all integers little-endian. Text fields are 16
// bytes of 8-bit text padded with spaces, and a reader takes a field's text up to its first '$'.
namespace RecordOffset {
constexpr UINTN Signature = 0;       // "$Eeprom$"
constexpr UINTN FormatWord = 8;      // RecordFormatWord
constexpr UINTN HeaderLength = 12;   // RecordHeaderLength
constexpr UINTN RecordLength = 16;   // the bytes the CRC covers
constexpr UINTN Crc32 = 20;          // computed with this field zero
constexpr UINTN HeaderReserved = 24; // 8 bytes
constexpr UINTN BlockSignature = 32; // "$BrdInfo"
constexpr UINTN BlockVersion = 40;
constexpr UINTN BlockLength = 44;
constexpr UINTN Vendor = 48;       // text
constexpr UINTN Product = 64;      // text
constexpr UINTN ModuleSerial = 80; // text
constexpr UINTN BoardId = 96;
constexpr UINTN FabId = 100;
constexpr UINTN BomId = 104;
constexpr UINTN IdReserved = 108;    // 20 bytes
constexpr UINTN MmNumber = 128;      // text
constexpr UINTN CarrierSerial = 144; // text
constexpr UINTN TailReserved = 160;  // 16 bytes
} // namespace RecordOffset

// Each field ends where the next begins, and the last ends at the record's end: a field moved or
// resized without its neighbours fails the build.
namespace RecordLayoutCheck {
constexpr UINTN Signature = 8, Word = 4, Text = RecordTextFieldSize;
static_assert(RecordOffset::Signature == 0);
static_assert(RecordOffset::FormatWord == RecordOffset::Signature + Signature);
static_assert(RecordOffset::HeaderLength == RecordOffset::FormatWord + Word);
static_assert(RecordOffset::RecordLength == RecordOffset::HeaderLength + Word);
static_assert(RecordOffset::Crc32 == RecordOffset::RecordLength + Word);
static_assert(RecordOffset::HeaderReserved == RecordOffset::Crc32 + Word);
static_assert(RecordOffset::BlockSignature == RecordOffset::HeaderReserved + 8);
static_assert(RecordOffset::BlockVersion == RecordOffset::BlockSignature + Signature);
static_assert(RecordOffset::BlockLength == RecordOffset::BlockVersion + Word);
static_assert(RecordOffset::Vendor == RecordOffset::BlockLength + Word);
static_assert(RecordOffset::Product == RecordOffset::Vendor + Text);
static_assert(RecordOffset::ModuleSerial == RecordOffset::Product + Text);
static_assert(RecordOffset::BoardId == RecordOffset::ModuleSerial + Text);
static_assert(RecordOffset::FabId == RecordOffset::BoardId + Word);
static_assert(RecordOffset::BomId == RecordOffset::FabId + Word);
static_assert(RecordOffset::IdReserved == RecordOffset::BomId + Word);
static_assert(RecordOffset::MmNumber == RecordOffset::IdReserved + 20);
static_assert(RecordOffset::CarrierSerial == RecordOffset::MmNumber + Text);
static_assert(RecordOffset::TailReserved == RecordOffset::CarrierSerial + Text);
static_assert(BoardRecordSize == RecordOffset::TailReserved + 16);
} // namespace RecordLayoutCheck

constexpr UINT32 RecordFormatWord = 0x00020001;
constexpr UINT32 RecordHeaderLength = 32;
constexpr UINT32 RecordBlockVersion = 1;
constexpr UINT32 RecordBlockLength = BoardRecordSize - RecordHeaderLength;
constexpr UINT32 AbsentId =
    0xFFFFFFFF; // readers take it as "not programmed" (docs/kept-on-purpose.md)
static_assert(RecordHeaderLength == RecordOffset::BlockSignature, "the header frames the block");

// What a write stores, checked and converted once: texts of 1 to 16 printable characters without
// '$' (the builder keeps the first 16 of a longer one), 32-bit IDs (AbsentId for an ID not given).
// A null CarrierSerial stores the empty text.
struct WriteRequest {
  const CHAR16 *ModuleSerial;
  const CHAR16 *Mm;
  const CHAR16 *CarrierSerial;
  UINT32 BoardId;
  UINT32 FabId;
  UINT32 BomId;
};

// Lays out a record; Record is BoardRecordSize bytes.
ToolStatus BuildBoardRecord(const WriteRequest *Request, UINT8 *Record);

// Hexadecimal text (optionally 0x-prefixed) to a 64-bit value. EFI_INVALID_PARAMETER for a text
// that is not a number, EFI_DEVICE_ERROR when it does not fit 64 bits; Value is then untouched.
EFI_STATUS ParseHexId(const CHAR16 *Text, UINT64 *Value);

// Whether a text option can be stored so that a reader gets back exactly what was given: at least
// one character, at most RecordTextFieldSize of them, every one printable ASCII (0x20-0x7E) and
// none of them the '$' that ends a field for every reader.
enum class TextFault { None, Empty, Unprintable, TooLong };
TextFault CheckStorableText(const CHAR16 *Text);

// An ID option's value: the whole text one hexadecimal number (an optional 0x or 0X, then at least
// one digit, nothing else) that fits the record's 32-bit field. Anything else leaves Value
// untouched and says why: not such a number, or one of more than 32 bits.
enum class IdFault { None, NotANumber, TooLarge };
IdFault ParseIdValue(const CHAR16 *Text, UINT32 *Value);
// The one "ERROR: " line for an ID option that ParseIdValue refused.
VOID ReportIdFault(IdFault Fault, const CHAR16 *Name, const CHAR16 *Text);

// Recomputes the CRC of a record read back (over the stored RecordLength bytes, with Crc32 taken
// as zero) and tells whether it matches the stored one; the record is left as it is. A
// RecordLength beyond the record cannot be checked and counts as a mismatch. A RecordLength of 0
// covers nothing, so it counts as valid only for the blank record a clear leaves, all bytes zero;
// anything else with it (a torn clear, foreign data) is a mismatch.
bool RecordCrcMatches(const UINT8 *Record, UINT32 *StoredCrc, UINT32 *ComputedCrc);

// What block 0 holds, as every reader of it takes it: the blank record a clear leaves (the
// record's bytes all zero, whatever follows), an erased block (every byte 0xFF, the rest of the
// block too, as an eMMC reads before anything was written to it), a record that passes its CRC
// check, or anything else. A guard takes the first two for blank, as the JSON does; a read shows
// only a record that passes its check, and the blank record does.
enum class BlockKind { Blank, Erased, Record, Corrupt };
inline bool ReadsBlank(BlockKind Kind) {
  return Kind == BlockKind::Blank || Kind == BlockKind::Erased;
}
inline bool PassesCrc(BlockKind Kind) {
  return Kind == BlockKind::Blank || Kind == BlockKind::Record;
}
struct RecordCheck {
  BlockKind Kind;
  bool TailZero; // the bytes after the record all zero, as a write leaves them
  UINT32 StoredCrc;
  UINT32 ComputedCrc;
};
// Block is Size bytes, at least a record's: the whole of block 0, or a record alone.
RecordCheck CheckBlock(const UINT8 *Block, UINTN Size);

// A record as a run saw it in block 0, with the check of the block it came from.
struct SeenRecord {
  bool Known;
  UINT8 Record[BoardRecordSize];
  RecordCheck Check;
};
SeenRecord SeeBlock(const UINT8 *Block, UINTN Size);

// Length of a 16-byte record text as readers take it: the bytes before its first '$' (all 16 when
// there is none); a text of nothing but spaces reads as empty.
UINTN RecordTextLength(const UINT8 *Field);
// Copies a 16-byte record text up to its '$' into Destination (RecordTextBufferSize bytes),
// NUL-terminated.
ToolStatus CopyRecordText(CHAR8 *Destination, const UINT8 *Source);
