#include "host/front_end_options.h"

#include <cctype>
#include <cstdlib>

namespace {

enum class Word { Device, Image, WriteProtect, BlockSize, Backup, Json };

struct FrontEndWord {
  const char *Text;
  Word Which;
  bool TakesValue;
};

constexpr FrontEndWord FrontEndWords[] = {
    {"--device", Word::Device, true},
    {"--image", Word::Image, true},
    {"--write-protect", Word::WriteProtect, false},
    {"--block-size", Word::BlockSize, true},
    {"--backup", Word::Backup, true},
    {"--json", Word::Json, false},
};

// The tool's own long options (matched without regard to case, as the tool does). A word that
// starts with "--" and is neither these nor a front-end option is a mistyped front-end option
// while the front-end options are still being read.
constexpr const char *ToolLongOptions[] = {
    "--board", "--bom",  "--clear",   "--fab",   "--help",  "--pylon",
    "--mm",    "--read", "--sandrel", "--write", "--debug",
};

const FrontEndWord *FindFrontEndWord(const std::string &Arg) {
  for (const FrontEndWord &W : FrontEndWords) {
    if (Arg == W.Text)
      return &W;
  }
  return nullptr;
}

bool IsToolLongOption(const std::string &Arg) {
  std::string Lower;
  for (char C : Arg)
    Lower.push_back(static_cast<char>(tolower(static_cast<unsigned char>(C))));
  for (const char *Option : ToolLongOptions) {
    if (Lower == Option)
      return true;
  }
  return false;
}

bool ParseBlockSize(const std::string &Text, uint32_t *Value) {
  if (Text.empty() || Text.size() > 6)
    return false;
  for (char C : Text) {
    if (C < '0' || C > '9')
      return false;
  }
  unsigned long N = strtoul(Text.c_str(), nullptr, 10);
  if (N < MinBlockSize || N > MaxBlockSize || (N & (N - 1)) != 0)
    return false;
  *Value = static_cast<uint32_t>(N);
  return true;
}

} // namespace

const char *const FrontEndUsage = "usage: kestrel [--device PATH | --image FILE] [--write-protect] "
                                  "[--block-size N] [--backup FILE] [--json] [--] TOOL-OPTIONS...";

bool ParseFrontEndOptions(const std::vector<std::string> &Args, FrontEndOptions *Options,
                          std::string *Error) {
  *Options = FrontEndOptions{};
  size_t I = 0;
  bool ExplicitEnd = false;
  bool Seen[sizeof(FrontEndWords) / sizeof(FrontEndWords[0])] = {};
  for (; I < Args.size(); I++) {
    const std::string &Arg = Args[I];
    if (Arg == "--") {
      ExplicitEnd = true;
      I++;
      break;
    }
    const FrontEndWord *W = FindFrontEndWord(Arg);
    if (W == nullptr) {
      if (Arg.rfind("--", 0) == 0 && !IsToolLongOption(Arg)) {
        *Error = "unknown option " + Arg;
        return false;
      }
      break;
    }
    size_t Index = static_cast<size_t>(W - FrontEndWords);
    if (Seen[Index]) {
      *Error = std::string(W->Text) + " given twice";
      return false;
    }
    Seen[Index] = true;
    std::string Value;
    if (W->TakesValue) {
      if (I + 1 >= Args.size() || Args[I + 1].empty()) {
        *Error = std::string(W->Text) + " needs a value";
        return false;
      }
      Value = Args[++I];
    }
    switch (W->Which) {
    case Word::Device:
      Options->DevicePath = Value;
      break;
    case Word::Image:
      Options->ImagePath = Value;
      break;
    case Word::WriteProtect:
      Options->WriteProtect = true;
      break;
    case Word::BlockSize:
      if (!ParseBlockSize(Value, &Options->BlockSize)) {
        *Error = "--block-size " + Value + " is not a power of two from " +
                 std::to_string(MinBlockSize) + " to " + std::to_string(MaxBlockSize);
        return false;
      }
      break;
    case Word::Backup:
      Options->BackupPath = Value;
      break;
    case Word::Json:
      Options->Json = true;
      break;
    }
  }
  Options->ToolArgs.assign(Args.begin() + static_cast<long>(I), Args.end());

  if (!Options->DevicePath.empty() && !Options->ImagePath.empty()) {
    *Error = "--device and --image exclude each other";
    return false;
  }
  if (Options->BlockSize != 0 && Options->ImagePath.empty()) {
    *Error = "--block-size applies to --image only; a device's block size comes from the kernel";
    return false;
  }
  // A front-end option after the tool's options would reach the tool as an unknown word while the
  // front end went on with its defaults, possibly writing to another medium than the one named.
  if (!ExplicitEnd) {
    for (const std::string &Arg : Options->ToolArgs) {
      if (FindFrontEndWord(Arg) != nullptr) {
        *Error = Arg + " must come before the tool's options";
        return false;
      }
    }
  }
  return true;
}
