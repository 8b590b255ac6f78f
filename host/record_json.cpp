#include "host/record_json.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/board_record.h"
#include "shell/format.h"

namespace {

// A record text field as readers take it: up to its '$', padding kept, empty when blank; every
// byte kept, a NUL or a control character included, so the object is exactly what is stored.
std::string FieldText(const uint8_t *Record, size_t Offset) {
  const uint8_t *Field = Record + Offset;
  return std::string(Field, Field + RecordTextLength(Field));
}

// An ID in the eight hexadecimal digits of the read's display, formatted by the same engine.
std::string IdText(uint32_t Value) {
  CHAR8 Text[RecordTextFieldSize + 1] = {};
  FormatToAscii(Text, sizeof(Text), "%08x", Value);
  return std::string(Text);
}

// The blank record a clear leaves (all zeros) or an erased eMMC's (all 0xFF): no texts to show.
bool IsBlankRecord(const uint8_t *Record) {
  bool Zeros = true, Ones = true;
  for (size_t I = 0; I < BoardRecordSize; I++) {
    Zeros = Zeros && Record[I] == 0x00;
    Ones = Ones && Record[I] == 0xFF;
  }
  return Zeros || Ones;
}

} // namespace

std::string JsonString(const std::string &Text) {
  std::string Out = "\"";
  for (unsigned char C : Text) {
    if (C == '"' || C == '\\') {
      Out.push_back('\\');
      Out.push_back(static_cast<char>(C));
    } else if (C >= 0x20 && C < 0x7F) {
      Out.push_back(static_cast<char>(C));
    } else {
      // Control characters must be escaped; bytes above 0x7E are escaped too, so the output is
      // plain ASCII whatever the record holds.
      char Escape[7];
      snprintf(Escape, sizeof(Escape), "\\u%04x", C);
      Out += Escape;
    }
  }
  return Out + "\"";
}

std::string RecordJson(const uint8_t *Record) {
  struct IdField {
    const char *Key;
    size_t Offset;
  };
  constexpr IdField Ids[] = {{"board_id", RecordOffset::BoardId},
                             {"fab_id", RecordOffset::FabId},
                             {"bom_id", RecordOffset::BomId}};

  const bool Blank = IsBlankRecord(Record);
  auto Text = [&](size_t Offset) { return JsonString(Blank ? "" : FieldText(Record, Offset)); };
  std::string Out = std::string("{\"blank\":") + (Blank ? "true" : "false");
  Out += ",\"module_serial\":" + Text(RecordOffset::ModuleSerial);
  Out += ",\"mm_number\":" + Text(RecordOffset::MmNumber);
  Out += ",\"carrier_serial\":" + Text(RecordOffset::CarrierSerial);
  for (const IdField &Id : Ids) {
    uint32_t Value = LoadLe32(Record + Id.Offset);
    Out += std::string(",\"") + Id.Key + "\":" + std::to_string(Value);
    Out += std::string(",\"") + Id.Key + "_text\":" + JsonString(IdText(Value));
  }
  Out += ",\"vendor\":" + Text(RecordOffset::Vendor);
  Out += ",\"product\":" + Text(RecordOffset::Product);

  // The check rewrites the CRC field, so it works on a copy.
  std::vector<uint8_t> Copy(Record, Record + BoardRecordSize);
  UINT32 Stored = 0, Computed = 0;
  bool Matches = RecordCrcMatches(Copy.data(), &Stored, &Computed);
  Out += ",\"crc_stored\":" + std::to_string(Stored);
  Out += ",\"crc_computed\":" + std::to_string(Computed);
  Out += std::string(",\"crc_matches\":") + (Matches ? "true" : "false");
  return Out + "}";
}
