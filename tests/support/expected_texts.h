// The tool's texts that the unit suites and the end-to-end sessions both check, read once from
// tests/data/expected_texts.txt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ExpectedRefusal {
  std::vector<std::u16string> Args; // the command line's words, without the tool's name
  std::string Output;               // console text (narrowed as RunResult's), "\n" line ends
  uint64_t Status;
};

struct ExpectedTexts {
  std::string Banner;
  std::string Help;
  std::vector<ExpectedRefusal> Refusals;
};

const ExpectedTexts &Expected();
