#include "host/front_end_options.h"

#include <cctype>

namespace {

// Each word fills one field: a flag, a text, or a number (the block size, by ParseBlockSize).
struct FrontEndWord {
  const char *Name; // without the leading "--"
  bool FrontEndOptions::*Flag;
  std::string FrontEndOptions::*Text;
  uint32_t FrontEndOptions::*Number;
  bool TakesValue() const { return Flag == nullptr; }
};

constexpr FrontEndWord FrontEndWords[] = {
    {"device", nullptr, &FrontEndOptions::DevicePath, nullptr},
    {"image", nullptr, &FrontEndOptions::ImagePath, nullptr},
    {"write-protect", &FrontEndOptions::WriteProtect, nullptr, nullptr},
    {"block-size", nullptr, nullptr, &FrontEndOptions::BlockSize},
    {"json", &FrontEndOptions::Json, nullptr, nullptr},
    {"version", &FrontEndOptions::Version, nullptr, nullptr},
    {"force", &FrontEndOptions::Force, nullptr, nullptr},
};
constexpr size_t FrontEndWordCount = sizeof(FrontEndWords) / sizeof(FrontEndWords[0]);

// The tool's own long options (matched without regard to case, as the tool does), from its option
// table. A word that starts with "--" and is neither these nor a front-end option is a mistyped
// front-end option while the front-end options are still being read.
bool IsToolLongOption(const std::string &Arg);

std::string Lowered(const std::string &Text) {
  std::string Lower;
  for (char C : Text)
    Lower.push_back(static_cast<char>(tolower(static_cast<unsigned char>(C))));
  return Lower;
}

// A front-end option spelled exactly: "--name" or "--name=VALUE".
const FrontEndWord *FindFrontEndWord(const std::string &Arg, std::string *Value, bool *HasValue) {
  if (Arg.rfind("--", 0) != 0)
    return nullptr;
  size_t Equals = Arg.find('=');
  std::string Name = Arg.substr(2, Equals == std::string::npos ? std::string::npos : Equals - 2);
  for (const FrontEndWord &W : FrontEndWords) {
    if (Name == W.Name) {
      *HasValue = Equals != std::string::npos;
      *Value = *HasValue ? Arg.substr(Equals + 1) : "";
      return &W;
    }
  }
  return nullptr;
}

} // namespace

bool LooksLikeFrontEndWord(const std::string &Arg) {
  std::string Lower = Lowered(Arg.substr(0, Arg.find('=')));
  if (Lower.rfind("--", 0) == 0)
    Lower.erase(0, 2);
  else if (Lower.rfind("-", 0) == 0)
    Lower.erase(0, 1);
  else
    return false;
  for (const FrontEndWord &W : FrontEndWords) {
    if (Lower == W.Name)
      return true;
  }
  return false;
}

namespace {

bool IsToolLongOption(const std::string &Arg) {
  // GNU's "--name=value" names the option before its '='.
  std::string Lower = Lowered(Arg.substr(0, Arg.find('=')));
  for (const ToolOption &Option : ToolOptions) {
    std::string Long;
    for (const CHAR16 *C = Option.Long; *C != 0; C++)
      Long.push_back(static_cast<char>(*C));
    if (Lower == Long)
      return true;
  }
  return false;
}

// Decimal, with any number of leading zeros: 512, 0512 and 000512 are the same size, and every
// spelling of a number outside the range is refused for that one reason.
bool ParseBlockSize(const std::string &Text, uint32_t *Value, std::string *Error) {
  if (Text.empty() || Text.find_first_not_of("0123456789") != std::string::npos) {
    *Error = "--block-size " + Text + " is not a decimal number";
    return false;
  }
  uint64_t N = 0;
  for (char C : Text) {
    N = N * 10 + static_cast<uint64_t>(C - '0');
    if (N > MaxBlockSize)
      break;
  }
  if (N < MinBlockSize || N > MaxBlockSize || (N & (N - 1)) != 0) {
    *Error = "--block-size " + Text + " is not a power of two from " +
             std::to_string(MinBlockSize) + " to " + std::to_string(MaxBlockSize);
    return false;
  }
  *Value = static_cast<uint32_t>(N);
  return true;
}

} // namespace

const char *const FrontEndUsage =
    "usage: kestrel [--device PATH [--force] | --image FILE] [--write-protect] [--block-size N] "
    "[--json] [--] TOOL-OPTIONS... | kestrel --version";

const char *const FrontEndHelp =
    "\n"
    " Linux front end (kestrel): these come before the tool's options, see kestrel(8).\n"
    "  --device PATH       GPP1 is this block device, which the kernel must know as\n"
    "                      mmcblkNgp0 on PCI device 28 (default: the first such device)\n"
    "  --force             with --device, use a block device that is not GPP1 (warns)\n"
    "  --image FILE        GPP1 is this image file\n"
    "  --write-protect     report GPP1 as write-protected\n"
    "  --block-size N      block size of an image, 512 to 65536 (default 512)\n"
    "  --json              with -r or -w, the record as one JSON object on stdout\n"
    "  --version           print the version\n";

bool ParseFrontEndOptions(const std::vector<std::string> &Args, FrontEndOptions *Options,
                          std::string *Error) {
  *Options = FrontEndOptions{};
  size_t I = 0;
  bool Seen[FrontEndWordCount] = {};
  for (; I < Args.size(); I++) {
    const std::string &Arg = Args[I];
    if (Arg == "--") {
      I++;
      break;
    }
    std::string Value;
    bool HasValue = false;
    const FrontEndWord *W = FindFrontEndWord(Arg, &Value, &HasValue);
    if (W == nullptr) {
      if (Arg.rfind("--", 0) == 0 && !IsToolLongOption(Arg)) {
        *Error = "unknown option " + Arg;
        return false;
      }
      break;
    }
    std::string Name = std::string("--") + W->Name;
    size_t Index = static_cast<size_t>(W - FrontEndWords);
    if (Seen[Index]) {
      *Error = Name + " given twice";
      return false;
    }
    Seen[Index] = true;
    if (W->TakesValue() && !HasValue) {
      if (I + 1 >= Args.size()) {
        *Error = Name + " needs a value";
        return false;
      }
      Value = Args[++I];
    } else if (!W->TakesValue() && HasValue) {
      *Error = Name + " takes no value";
      return false;
    }
    if (W->TakesValue() && Value.empty()) {
      *Error = Name + " needs a value";
      return false;
    }
    if (W->Flag != nullptr)
      Options->*W->Flag = true;
    else if (W->Text != nullptr)
      Options->*W->Text = Value;
    else if (!ParseBlockSize(Value, &(Options->*W->Number), Error))
      return false;
  }
  Options->ToolArgs.assign(Args.begin() + static_cast<long>(I), Args.end());

  if (!Options->DevicePath.empty() && !Options->ImagePath.empty()) {
    *Error = "--device and --image exclude each other";
    return false;
  }
  // The default search takes the board's GPP1 or nothing; only a device named on purpose may be
  // something else.
  if (Options->Force && Options->DevicePath.empty() && Options->ImagePath.empty()) {
    *Error = "--force applies to --device only; the default search takes only the board's GPP1";
    return false;
  }
  if (Options->BlockSize != 0 && Options->ImagePath.empty()) {
    *Error = "--block-size applies to --image only; a device's block size comes from the kernel";
    return false;
  }
  return true;
}
