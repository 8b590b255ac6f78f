// The 176-byte board record at the start of GPP1 block 0: a "$Eeprom$" header that frames and
// checksums the image, followed by the "$BrdInfo" block describing the Pylon module.
#pragma once

#include "app/cli_options.h"
#include "shell/byte_order.h"

constexpr UINTN BoardRecordSize = 176;
constexpr UINTN RecordTextFieldSize = 16;

// Byte offsets of the record's fields; all integers little-endian.
namespace RecordOffset {
constexpr UINTN Signature = 0;
constexpr UINTN FormatWord = 8;
constexpr UINTN HeaderLength = 12;
constexpr UINTN RecordLength = 16;
constexpr UINTN Crc32 = 20;
constexpr UINTN HeaderReserved = 24;
constexpr UINTN BlockSignature = 32;
constexpr UINTN BlockVersion = 40;
constexpr UINTN BlockLength = 44;
constexpr UINTN Vendor = 48;
constexpr UINTN Product = 64;
constexpr UINTN ModuleSerial = 80;
constexpr UINTN BoardId = 96;
constexpr UINTN FabId = 100;
constexpr UINTN BomId = 104;
constexpr UINTN IdReserved = 108;
constexpr UINTN MmNumber = 128;
constexpr UINTN CarrierSerial = 144;
constexpr UINTN TailReserved = 160;
} // namespace RecordOffset

constexpr UINT32 RecordFormatWord = 0x00020001;
constexpr UINT32 RecordHeaderLength = 32;
constexpr UINT32 RecordBlockVersion = 1;
constexpr UINT32 RecordBlockLength = BoardRecordSize - RecordHeaderLength;
constexpr UINT32 AbsentId = 0xFFFFFFFF;


// Lays out a record from the options; Record is BoardRecordSize bytes.
ToolStatus BuildBoardRecord(const CliOptions *Options, UINT8 *Record);

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

// Recomputes the CRC of a record read back (Crc32 zeroed during the computation, the stored
// RecordLength bytes covered) and tells whether it matches the stored one. A RecordLength beyond
// the record cannot be checked and counts as a mismatch. A RecordLength of 0 covers nothing, so
// it counts as valid only for the blank block a clear leaves, all bytes zero; anything else with
// it (a torn clear, foreign data) is a mismatch. The record is left with the computed CRC
// in its Crc32 field.
bool RecordCrcMatches(UINT8 *Record, UINT32 *StoredCrc, UINT32 *ComputedCrc);
