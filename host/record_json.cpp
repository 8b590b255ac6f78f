#include "host/record_json.h"

#include <vector>

#include "app/json_text.h"

namespace {

// Room for a record whose every byte is escaped.
constexpr size_t RecordJsonSize = 2048;

} // namespace

std::string JsonString(const std::string &Text) {
  std::vector<CHAR8> Buffer(Text.size() * 6 + 3);
  JsonText Out = JsonTextIn(Buffer.data(), Buffer.size());
  JsonAppendBytes(&Out, reinterpret_cast<const UINT8 *>(Text.data()), Text.size());
  return std::string(Out.Data, Out.Used);
}

// The tool's own form of the record, the one its run log stores.
std::string RecordJson(const SeenRecord &Seen) {
  std::vector<CHAR8> Buffer(RecordJsonSize);
  JsonText Out = JsonTextIn(Buffer.data(), Buffer.size());
  JsonAppendRecord(&Out, Seen);
  return std::string(Out.Data, Out.Used);
}
