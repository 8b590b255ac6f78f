// The tool's texts that the unit suites and the end-to-end sessions both check, read once from
// tests/data/expected_texts.txt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ExpectedRefusal {
  std::vector<std::u16string> Args; // the command line's words, without the tool's name
  std::string Output;               // console text (narrowed as BoardRun's), "\n" line ends
  uint64_t Status;
};

struct ExpectedTexts {
  std::string Banner;
  std::string Help;
  std::vector<ExpectedRefusal> Refusals;
};

const ExpectedTexts &Expected();

// The record of the help's example (-p 12345678 -s 87654321 -m 09876), laid out by hand from the
// record's layout.
const std::vector<uint8_t> &ExampleRecord();

// The --debug dump of a record's 176 bytes: sixteen a row, a rule every four rows, and each
// byte again as its printable ASCII character or '.'.
std::string RecordDump(const std::vector<uint8_t> &Record);
