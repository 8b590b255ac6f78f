// The board record as one JSON object, for inventory agents, in the form of the tool's run log
// (app/json_text.h): the texts and IDs a read shows,
// the vendor and product, and the stored and computed CRC-32 with whether they match.
#pragma once

#include <cstdint>
#include <string>

// Record is the 176 bytes at the start of block 0. The computed CRC comes from the firmware's
// CRC service, so the simulated firmware must be installed in the platform context.
std::string RecordJson(const uint8_t *Record);

// Text as a JSON string literal, quotes included. Bytes are taken as Latin-1, so any record
// content gives valid JSON.
std::string JsonString(const std::string &Text);
