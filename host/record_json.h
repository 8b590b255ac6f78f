// The board record as one JSON object, for inventory agents, in the form of the tool's run log
// (app/json_text.h): the texts and IDs a read shows,
// the vendor and product, and the stored and computed CRC-32 with whether they match.
#pragma once

#include <cstdint>
#include <string>

#include "app/board_record.h"

// A record the tool saw in block 0, with its check: the form needs nothing of the firmware.
std::string RecordJson(const SeenRecord &Seen);

// Text as a JSON string literal, quotes included. Bytes are taken as Latin-1, so any record
// content gives valid JSON.
std::string JsonString(const std::string &Text);
