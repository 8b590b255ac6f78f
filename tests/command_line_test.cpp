// Option parsing and the choice of operation in ToolMain.
#include <gtest/gtest.h>

#include "app/tool_main.h"
#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

const std::string &Banner = Expected().Banner;
const std::string &Help = Expected().Help;

// Command lines that never reach GPP1: help is shown wherever it is asked for and ends
// successfully alone, but with 2 beside anything the run does not do; no operation is an invalid
// command line, the write checks stop at the first missing requirement,
// and a value that cannot be stored as given is refused (the refusal rows of expected_texts.txt).
// The board is write-protected, so a refusal that came after the platform's write-protect report
// would show as status 8.
TEST(ToolMain, HelpNoOperationAndWriteChecksNeverReachTheDevice) {
  const std::string Invalid = "ERROR: Invalid CLI option(s)!\n";
  const std::string HelpShown = Banner + Help + "Operation successful!\n";
  const std::string HelpBeside =
      Banner + Help + "ERROR: The help was asked for beside other options: nothing was done!\n";
  const std::string Both = "ERROR: You can't write without both Pylon Serial # and MM #!\n";
  const struct {
    std::vector<std::string> Args;
    uint64_t Status;
    std::string Output;
  } Cases[] = {
      // clang-format off
      {{"-h"}, 0, HelpShown}, {{"-h", "--wait", "0", "--debug"}, 0, HelpShown},
      {{"-h", "-w", "-c"}, 2, HelpBeside}, {{"--HELP", "-r"}, 2, HelpBeside},
      {{"-w", "-p", "1", "-m", "2", "-s", "-h"}, 2, HelpBeside}, {{"-h", "-q"}, 2,
       "Unknown! - Argv[2]: \"-q\"\n" + HelpBeside},
      {{}, 2, Banner + Invalid}, {{"-x"}, 2, "Unknown! - Argv[1]: \"-x\"\n" + Banner + Invalid},
      {{"-w", "-r"}, 2, Banner + "ERROR: You can't write and read at the same time!\n"},
      {{"-w", "-p", "1"}, 2, Banner + Both}, {{"-w", "-m", "1"}, 2, Banner + Both},
      {{"-w", "-p", "-m", "5"}, 2, Banner + "ERROR: You can't write without Pylon Serial #!\n"},
      {{"-w", "-p", "1", "-m"}, 2, Banner + "ERROR: You can't write without MM #!\n"},
      {{"-w", "-p", "1", "-m", "2", "-b", "-f"}, 2, Banner +
       "ERROR: You can't write Board ID without ID!\nERROR: You can't write Fab ID without ID!\n"},
      {{"-w", "-p", "1", "-m", "2", "-s", "-o"}, 2, Banner +
       "ERROR: You can't write Sandrel without Serial #!\n"
       "ERROR: You can't write BOM ID without ID!\n"},
      // clang-format on
  };
  Board B(512, WriteProtect::On);
  B.SetBlock0(std::vector<uint8_t>(512, 0x42));
  const auto Check = [&](const auto &Args, uint64_t Status, const std::string &Output) {
    BoardRun R = B.Run(Args);
    EXPECT_EQ(R.Status, Status) << Output;
    EXPECT_EQ(R.Output, Output);
  };
  for (const auto &C : Cases)
    Check(C.Args, C.Status, C.Output);
  for (const ExpectedRefusal &Row : Expected().Refusals)
    Check(Row.Args, Row.Status, Row.Output);
  EXPECT_EQ(B.Gpp1().WriteCalls + B.Gpp1().ReadCalls, 0u);
  EXPECT_EQ(B.Block0(), std::vector<uint8_t>(512, 0x42));
}

// The request as the run gets it, from one parse.
RunResult RunParsed(UINTN Argc, CHAR16 **Argv) {
  ToolRequest Request;
  ParseToolRequest(Argc, Argv, &Request);
  return ToolMain(Request);
}

TEST(ToolMain, NullVectorAndNullEntriesAreInternalErrors) {
  Board B;
  EXPECT_EQ(RunParsed(3, nullptr).Status, 2u);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()), "ERROR: [#52] Internal coding error!\n");
  B.Sim.ClearConsole();
  CHAR16 Name[] = u"Kestrel.efi";
  CHAR16 Help[] = u"-h";
  CHAR16 *Argv[] = {Name, nullptr, Help, nullptr};
  EXPECT_EQ(RunParsed(3, Argv).Status, 0u);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()).rfind("ERROR: [#845] Internal coding error!\n" + Banner, 0),
            0u);
  B.Sim.ClearConsole();
  ParseCommandLine(1, Argv, nullptr);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()), "ERROR: [#517] Internal coding error!\n");
}

TEST(ParseCommandLine, LowersOptionWordsButNeverValues) {
  Board B;
  ArgVector V({"--READ", "-M", "AbC", "--Pylon", "XyZ", "-B", "-Q"});
  CliOptions O{};
  ParseNotes Notes{};
  ParseCommandLine(V.Argc(), V.Argv(), &O, &Notes);
  SayParseNotes(Notes, V.Argv());
  EXPECT_TRUE(O.ReadRequested);
  EXPECT_EQ(std::u16string(O.MmText), u"AbC");
  EXPECT_EQ(std::u16string(O.ModuleSerialText), u"XyZ");
  EXPECT_TRUE(O.BoardGiven);
  EXPECT_EQ(O.BoardText, nullptr); // the next entry starts with '-'
  EXPECT_EQ(std::u16string(V.Argv()[1]), u"--read");
  EXPECT_EQ(std::u16string(V.Argv()[7]), u"-q");
  EXPECT_EQ(Unix(B.Sim.ConsoleText()), "Unknown! - Argv[7]: \"-q\"\n");
}

TEST(ParseCommandLine, ExactWordsOnlyAndLastValueWins) {
  Board B;
  ArgVector V({"-rr", "--rea", "-p", "1", "-p", "2", "--debug"});
  CliOptions O{};
  ParseNotes Notes{};
  ParseCommandLine(V.Argc(), V.Argv(), &O, &Notes);
  SayParseNotes(Notes, V.Argv());
  EXPECT_FALSE(O.ReadRequested);
  EXPECT_EQ(std::u16string(O.ModuleSerialText), u"2");
  EXPECT_EQ(O.DebugRequested, 1);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()),
            "Unknown! - Argv[1]: \"-rr\"\nUnknown! - Argv[2]: \"--rea\"\n");
}

} // namespace
