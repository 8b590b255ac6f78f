#include "app/json_text.h"

#include "app/board_record.h"
#include "shell/format.h"
#include "shell/memory.h"

namespace {

constexpr UINTN IdTextSize = 9;
constexpr UINTN EscapeSize = 7; // "\u00XX" and its NUL
constexpr UINTN NumberSize = 24;

VOID PutChar(JsonText *Out, CHAR8 C) {
  if (Out->Used + 1 >= Out->Size) {
    Out->Overflowed = true;
    return;
  }
  Out->Data[Out->Used++] = C;
  Out->Data[Out->Used] = 0;
}

VOID PutEscaped(JsonText *Out, UINT16 C) {
  if (C == '"' || C == '\\') {
    PutChar(Out, '\\');
    PutChar(Out, static_cast<CHAR8>(C));
  } else if (C >= 0x20 && C < 0x7F) {
    PutChar(Out, static_cast<CHAR8>(C));
  } else {
    // Lower-case digits, as JSON writers commonly give them.
    constexpr CHAR8 Digits[] = "0123456789abcdef";
    const CHAR8 Escape[EscapeSize] = {'\\',
                                      'u',
                                      Digits[(C >> 12) & 0xF],
                                      Digits[(C >> 8) & 0xF],
                                      Digits[(C >> 4) & 0xF],
                                      Digits[C & 0xF],
                                      0};
    JsonAppendRaw(Out, Escape);
  }
}

// At most MaxCharacters of Text in quotes, "..." after them when the text goes on.
template <typename Char> VOID AppendCut(JsonText *Out, const Char *Text, UINTN MaxCharacters) {
  PutChar(Out, '"');
  UINTN Count = 0;
  for (; *Text != 0 && Count < MaxCharacters; Text++, Count++)
    PutEscaped(Out, *Text);
  if (*Text != 0)
    JsonAppendRaw(Out, "...");
  PutChar(Out, '"');
}

VOID AppendField(JsonText *Out, const CHAR8 *Key, const UINT8 *Record, UINTN Offset, bool Blank) {
  JsonAppendRaw(Out, ",\"");
  JsonAppendRaw(Out, Key);
  JsonAppendRaw(Out, "\":");
  // Up to the field's '$', padding kept: the object shows exactly what is stored.
  JsonAppendBytes(Out, Record + Offset, Blank ? 0 : RecordTextLength(Record + Offset));
}

} // namespace

JsonText JsonTextIn(CHAR8 *Data, UINTN Size) {
  if (Size != 0)
    Data[0] = 0;
  return JsonText{Data, Size, 0, Size == 0};
}

VOID JsonAppendRaw(JsonText *Out, const CHAR8 *Text) {
  for (; *Text != 0; Text++)
    PutChar(Out, *Text);
}

VOID JsonAppendNumber(JsonText *Out, UINT64 Value) {
  CHAR8 Text[NumberSize];
  FormatToAscii(Text, sizeof(Text), "%lu", Value);
  JsonAppendRaw(Out, Text);
}

VOID JsonAppendBytes(JsonText *Out, const UINT8 *Bytes, UINTN Length) {
  PutChar(Out, '"');
  for (UINTN I = 0; I < Length; I++)
    PutEscaped(Out, Bytes[I]);
  PutChar(Out, '"');
}

VOID JsonAppendText(JsonText *Out, const CHAR8 *Text, UINTN MaxCharacters) {
  AppendCut(Out, reinterpret_cast<const UINT8 *>(Text), MaxCharacters);
}

VOID JsonAppendText(JsonText *Out, const CHAR16 *Text, UINTN MaxCharacters) {
  AppendCut(Out, Text, MaxCharacters);
}

VOID JsonAppendRecord(JsonText *Out, const SeenRecord &Seen) {
  struct IdField {
    const CHAR8 *Key;
    const CHAR8 *TextKey;
    UINTN Offset;
  };
  constexpr IdField Ids[] = {{"board_id", "board_id_text", RecordOffset::BoardId},
                             {"fab_id", "fab_id_text", RecordOffset::FabId},
                             {"bom_id", "bom_id_text", RecordOffset::BomId}};
  const UINT8 *Record = Seen.Record;
  const bool Blank = ReadsBlank(Seen.Check.Kind);
  JsonAppendRaw(Out, Blank ? "{\"blank\":true" : "{\"blank\":false");
  AppendField(Out, "module_serial", Record, RecordOffset::ModuleSerial, Blank);
  AppendField(Out, "mm_number", Record, RecordOffset::MmNumber, Blank);
  AppendField(Out, "carrier_serial", Record, RecordOffset::CarrierSerial, Blank);
  for (const IdField &Id : Ids) {
    UINT32 Value = LoadLe32(Record + Id.Offset);
    CHAR8 IdText[IdTextSize];
    FormatToAscii(IdText, sizeof(IdText), "%08x", Value);
    JsonAppendRaw(Out, ",\"");
    JsonAppendRaw(Out, Id.Key);
    JsonAppendRaw(Out, "\":");
    JsonAppendNumber(Out, Value);
    JsonAppendRaw(Out, ",\"");
    JsonAppendRaw(Out, Id.TextKey);
    JsonAppendRaw(Out, "\":");
    JsonAppendText(Out, IdText);
  }
  AppendField(Out, "vendor", Record, RecordOffset::Vendor, Blank);
  AppendField(Out, "product", Record, RecordOffset::Product, Blank);
  JsonAppendRaw(Out, ",\"crc_stored\":");
  JsonAppendNumber(Out, Seen.Check.StoredCrc);
  JsonAppendRaw(Out, ",\"crc_computed\":");
  JsonAppendNumber(Out, Seen.Check.ComputedCrc);
  JsonAppendRaw(Out,
                PassesCrc(Seen.Check.Kind) ? ",\"crc_matches\":true}" : ",\"crc_matches\":false}");
}
