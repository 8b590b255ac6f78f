// The one status table against every place that lists the statuses for people and scripts:
// README's and docs/' tables (number, reason, what GPP1 holds), kestrel(8)'s EXIT STATUS, the
// factory scripts and the help. A changed number or meaning fails here until each place says it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/tool_status.h"
#include "tests/support/expected_texts.h"

namespace {

std::string ReadText(const std::string &Path) {
  std::ifstream File(Path);
  std::ostringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

// The table's rows as documents give them: number -> {reason, GPP1}.
std::map<long, std::pair<std::string, std::string>> TableRows() {
  std::map<long, std::pair<std::string, std::string>> Rows;
  for (const ToolStatusRow &Row : ToolStatuses)
    Rows[static_cast<long>(Row.Value)] = {Row.Reason, Row.Gpp1};
  return Rows;
}

TEST(StatusTable, ReadmeDocsManPageScriptsAndHelpAgreeWithIt) {
  const std::string Root = KESTREL_SOURCE_DIR;
  // Markdown tables headed "| status | meaning | reason in the log | GPP1 |"; "-1" is the image's
  // own status for a start without arguments, not one of the tool's.
  const std::regex Row(R"(^\| (-?\d+)(?: \(0x[0-9A-F]+\))? \| .* \| ([^|]*) \| ([^|]*) \|$)");
  std::vector<std::string> Documents = {Root + "/README.md"};
  for (const auto &Entry : std::filesystem::directory_iterator(Root + "/docs"))
    if (Entry.path().extension() == ".md")
      Documents.push_back(Entry.path().string());
  size_t Tables = 0;
  for (const std::string &Path : Documents) {
    std::istringstream Lines(ReadText(Path));
    std::string Line;
    bool InTable = false;
    std::map<long, std::pair<std::string, std::string>> Found;
    while (std::getline(Lines, Line)) {
      if (Line == "| status | meaning | reason in the log | GPP1 |") {
        InTable = true;
        Tables++;
        continue;
      }
      std::smatch M;
      if (InTable && std::regex_match(Line, M, Row)) {
        if (M[1] != "-1")
          Found[std::stol(M[1])] = {M[2], M[3]};
      } else if (InTable && Line.rfind("|-", 0) != 0) {
        EXPECT_EQ(Found, TableRows()) << Path;
        InTable = false;
        Found.clear();
      }
    }
  }
  EXPECT_GE(Tables, 1u);

  // kestrel(8): an entry for each status, and otherwise only the front end's own (a signal's
  // 128 + N, and 255 for an image status that does not fit).
  const std::string Man = ReadText(Root + "/host/kestrel.8");
  const size_t From = Man.find(".SH EXIT STATUS"), To = Man.find(".SH ", From + 1);
  std::istringstream Section(Man.substr(From, To - From));
  std::set<long> Listed, Wanted = {129, 130, 131, 143, 255};
  for (const ToolStatusRow &Row : ToolStatuses)
    Wanted.insert(static_cast<long>(Row.Value));
  std::string Line;
  for (bool AfterTp = false; std::getline(Section, Line); AfterTp = Line == ".TP") {
    if (!AfterTp)
      continue;
    const std::regex Number(R"((?:^\.BR? |" )(\d+))");
    for (std::sregex_iterator I(Line.begin(), Line.end(), Number), End; I != End; ++I)
      Listed.insert(std::stol((*I)[1]));
  }
  EXPECT_EQ(Listed, Wanted);

  // The factory scripts give the tool's status as it is; the one of their own is 0xE (no tool).
  // Neither they nor the help name a status the table lacks.
  const std::regex Hex(R"(\b0x([0-9A-Fa-f]+)\b)");
  for (const std::string &Text : {ReadText(Root + "/examples/provision.nsh"),
                                  ReadText(Root + "/examples/inspect.nsh"), Expected().Help}) {
    for (std::sregex_iterator I(Text.begin(), Text.end(), Hex), End; I != End; ++I) {
      const long Value = std::stol((*I)[1], nullptr, 16);
      EXPECT_TRUE(Value == 0xE || StatusRow(static_cast<ToolStatus>(Value)) != nullptr) << (*I)[0];
    }
  }
}

} // namespace
