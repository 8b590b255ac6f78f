#include "tests/support/expected_texts.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sim/sim_firmware.h"

namespace {

// UTF-8 to UCS-2, with \xHH standing for the character HH.
std::u16string Decode(const std::string &Text) {
  std::u16string Out;
  for (size_t I = 0; I < Text.size();) {
    const unsigned char C = Text[I];
    if (C == '\\' && Text.compare(I, 2, "\\x") == 0 && I + 4 <= Text.size()) {
      Out.push_back(static_cast<char16_t>(std::stoi(Text.substr(I + 2, 2), nullptr, 16)));
      I += 4;
      continue;
    }
    const size_t Length = C < 0x80 ? 1 : C < 0xE0 ? 2 : 3;
    char16_t Unit = Length == 1 ? C : C & (Length == 2 ? 0x1F : 0x0F);
    for (size_t K = 1; K < Length; K++)
      Unit = static_cast<char16_t>(Unit << 6 | (Text[I + K] & 0x3F));
    Out.push_back(Unit);
    I += Length;
  }
  return Out;
}

// Shell words: blanks separate them, double quotes group and are dropped.
std::vector<std::u16string> Words(const std::u16string &Line) {
  std::vector<std::u16string> Out;
  bool InWord = false, Quoted = false;
  for (char16_t C : Line) {
    if (C == u' ' && !Quoted) {
      InWord = false;
      continue;
    }
    if (!InWord)
      Out.emplace_back();
    InWord = true;
    if (C == u'"')
      Quoted = !Quoted;
    else
      Out.back().push_back(C);
  }
  return Out;
}

ExpectedTexts Load() {
  std::ifstream File(KESTREL_SOURCE_DIR "/tests/data/expected_texts.txt");
  if (!File)
    throw std::runtime_error("tests/data/expected_texts.txt cannot be read");
  ExpectedTexts Texts;
  std::string Line, Section, *Into = nullptr;
  while (std::getline(File, Line)) {
    if (Line.rfind("=== ", 0) == 0) {
      std::istringstream Header(Line.substr(4));
      Header >> Section;
      if (Section == "refusal") {
        ExpectedRefusal Row{};
        Header >> Row.Status;
        std::string Args;
        std::getline(Header >> std::ws, Args);
        Row.Args = Words(Decode(Args));
        Texts.Refusals.push_back(Row);
        Into = &Texts.Refusals.back().Output;
      } else {
        Into = Section == "banner" ? &Texts.Banner : &Texts.Help;
      }
    } else if (Into != nullptr) {
      *Into += Line == "BANNER" ? Texts.Banner : NarrowText(Decode(Line)) + "\n";
    }
  }
  return Texts;
}

} // namespace

const ExpectedTexts &Expected() {
  static const ExpectedTexts Texts = Load();
  return Texts;
}

const std::vector<uint8_t> &ExampleRecord() {
  static const std::vector<uint8_t> Record = [] {
    const std::string Hex = "24456570726f6d240100020020000000b00000006d33b9c70000000000000000"
                            "24427264496e666f01000000900000005665786f722420202020202020202020"
                            "50796c6f6e242020202020202020202031323334353637382020202020202020"
                            "ffffffffffffffffffffffff0000000000000000000000000000000000000000"
                            "3039383736202020202020202020202038373635343332312020202020202020"
                            "00000000000000000000000000000000";
    std::vector<uint8_t> Bytes;
    for (size_t I = 0; I < Hex.size(); I += 2)
      Bytes.push_back(static_cast<uint8_t>(std::stoul(Hex.substr(I, 2), nullptr, 16)));
    return Bytes;
  }();
  return Record;
}

std::string RecordDump(const std::vector<uint8_t> &Record) {
  const std::string Rule = "+----------------------------------------------------+"
                           "------------------+\n";
  std::string Out = "      " + Rule +
                    "      | x0 x1 x2 x3  x4 x5 x6 x7  x8 x9 xA xB  xC xD xE xF |      String"
                    "      |\n";
  for (size_t Row = 0; Row < 11; Row++) {
    if (Row % 4 == 0)
      Out += " +----" + Rule;
    char Line[80];
    std::string Text;
    int At = snprintf(Line, sizeof Line, " | %zXx | ", Row);
    for (size_t I = Row * 16; I < Row * 16 + 16; I++) {
      At += snprintf(Line + At, sizeof Line - At, I % 4 == 3 ? "%02X  " : "%02X ", Record[I]);
      Text += Record[I] >= 0x20 && Record[I] <= 0x7E ? char(Record[I]) : '.';
    }
    Out += std::string(Line, At - 1) + "| " + Text + " |\n";
  }
  return Out + " +----" + Rule;
}
