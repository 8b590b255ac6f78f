// The Linux front end's own options. They come first on the command line and are consumed; what
// follows (after an optional "--") is the tool's command line, handed over unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

struct FrontEndOptions {
  std::string DevicePath; // --device PATH
  std::string ImagePath;  // --image FILE
  bool WriteProtect = false;
  uint32_t BlockSize = 0; // --block-size N; 0 when not given
  bool Json = false;      // --json
  bool Version = false;   // --version
  bool Force = false;     // --force: a --device that is not the board's GPP1, with a warning
  std::vector<std::string> ToolArgs;
};

constexpr uint32_t DefaultImageBlockSize = 512;
// Block sizes an eMMC partition or its image can have: powers of two in this range.
constexpr uint32_t MinBlockSize = 512;
constexpr uint32_t MaxBlockSize = 65536;

// Fills Options from Args (without the program name). On a usage error returns false with a
// one-line explanation in Error.
bool ParseFrontEndOptions(const std::vector<std::string> &Args, FrontEndOptions *Options,
                          std::string *Error);

// Any spelling of a front-end option: one or two dashes, any case, with or without "=VALUE".
// Among the tool's options such a word is a front-end option out of place (also after "--"):
// handed to the tool it would be an unknown word while the front end went on with its defaults,
// possibly with another medium than the one named.
bool LooksLikeFrontEndWord(const std::string &Arg);

// The synopsis line that usage errors point to.
extern const char *const FrontEndUsage;
// The front end's part of `kestrel -h`, after the tool's own help.
extern const char *const FrontEndHelp;
