// Option parsing and the choice of operation in ToolMain.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "tests/support/board_fixture.h"

namespace {

const std::string Banner = "Kestrel for Tarnm - Version #1.01.00\n"
                           "Board record tool for Tarn boards, eMMC GPP1 block 0; first released "
                           "2017.\n\n";

const std::string Help =
    " Kestrel.efi is a tool to manipulate the data in eMMC GPP1 partition.\n"
    "\n"
    " Switches:\n"
    " -b [--board]    ID                Programs the Pylon Board ID\n"
    " -c [--clear]                      Clears the GPP1 data\n"
    " -f [--fab]      ID                Programs the Pylon Fab ID\n"
    " -h [--help]                       Prints this\n"
    " -p [--pylon]    Serial #          Programs the Pylon serial #\n"
    " -m [--mm]       MM #              Programs the Pylon MM #\n"
    " -o [--bom]      ID                Programs the Pylon BOM ID\n"
    " -r [--read]                       Prints out the data in GPP1\n"
    " -s [--sandrel]  Serial #          Programs the Sandrel Serial #\n"
    " -w [--write]    -p # -m # [-s #]  Programs the data into the GPP1\n"
    "                                   -p & -m are required.\n"
    "                                   -b, -f, -o, -s are optional.\n"
    "\n"
    " Examples:\n"
    "  Kestrel.efi -w -p 12345678 -s 87654321 -m 09876\n"
    "  - Writes the Pylon Serial #12345678, Sandrel Serial #87654321,\n"
    "  - and MM #09876 to GPP1.\n"
    "  Kestrel.efi -r\n"
    "  - Dumps the GPP1 info to the screen in human readable form.\n";
// The long-only options, after the lines above.
const std::string MoreHelp =
    "\n"
    " More switches:\n"
    " --edit          [-p #] [-m #] ... Changes only the fields given\n"
    "                                   -b, -f, -m, -o, -p, -s as with -w.\n"
    " --no-sandrel                      With --edit: removes the Sandrel Serial #\n"
    " --if-blank                        -w, --edit, -c only over a blank GPP1\n"
    " --if-serial     Serial #          -w, --edit, -c only over this Pylon #\n"
    " --dry-run                         Shows what would be written; writes nothing\n"
    " --backup        File              Saves block 0 to a new File before a change\n"
    " --restore       File              Writes a block saved by --backup back\n"
    " --log           File              Appends one JSON line about the run to File\n"
    "\n"
    "  Kestrel.efi -w -p 12345678 -m 09876 --if-blank\n"
    "  - Provisions a board whose GPP1 is blank, and no other.\n"
    "  Kestrel.efi --edit -s 11223344 --if-serial 12345678\n"
    "  - Changes only the Sandrel Serial # of board 12345678.\n"
    "  Kestrel.efi -w -p 12345678 -m 09876 --backup old.bin --log run.log\n"
    "  - Keeps the replaced block in old.bin and logs the run in run.log.\n"
    "  Kestrel.efi --restore old.bin\n"
    "  - Puts the saved block back.\n";

RunResult RunUnix(Board &B, const std::vector<std::string> &Args) {
  RunResult R = B.Run(Args);
  R.Output = Unix(R.Output);
  return R;
}

TEST(ToolMain, HelpWinsOverEverythingAndEndsSuccessfully) {
  Board B;
  for (auto Args : {std::vector<std::string>{"-h"}, {"-h", "-w", "-c"}, {"--HELP", "-r"}}) {
    RunResult R = RunUnix(B, Args);
    EXPECT_EQ(R.Status, 0u);
    EXPECT_EQ(R.Output, Banner + Help + MoreHelp + "Operation successful!\n");
  }
  EXPECT_EQ(B.Gpp1().WriteCalls + B.Gpp1().ReadCalls, 0u);
}

TEST(ToolMain, NoOperationIsAnInvalidCommandLine) {
  Board B;
  RunResult R = RunUnix(B, {});
  EXPECT_EQ(R.Status, 2u);
  EXPECT_EQ(R.Output, Banner + "ERROR: Invalid CLI option(s)!\n");
  R = RunUnix(B, {"-x"});
  EXPECT_EQ(R.Output, "Unknown! - Argv[1]: \"-x\"\n" + Banner + "ERROR: Invalid CLI option(s)!\n");
}

TEST(ToolMain, NullVectorAndNullEntriesAreInternalErrors) {
  Board B;
  EXPECT_EQ(ToolMain(3, nullptr), 2u);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()), "ERROR: [#52] Internal coding error!\n");
  B.Sim.ClearConsole();
  CHAR16 Name[] = u"Kestrel.efi";
  CHAR16 Help[] = u"-h";
  CHAR16 *Argv[] = {Name, nullptr, Help, nullptr};
  EXPECT_EQ(ToolMain(3, Argv), 0u);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()).rfind("ERROR: [#845] Internal coding error!\n" + Banner, 0),
            0u);
  B.Sim.ClearConsole();
  ParseCommandLine(1, Argv, nullptr);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()), "ERROR: [#517] Internal coding error!\n");
}

TEST(ToolMain, WriteChecksStopAtTheFirstMissingRequirement) {
  Board B;
  struct Case {
    std::vector<std::string> Args;
    std::string Error;
  } Cases[] = {
      {{"-w", "-r"}, "ERROR: You can't write and read at the same time!\n"},
      {{"-w", "-p", "1"}, "ERROR: You can't write without both Pylon Serial # and MM #!\n"},
      {{"-w", "-m", "1"}, "ERROR: You can't write without both Pylon Serial # and MM #!\n"},
      {{"-w", "-p", "-m", "5"}, "ERROR: You can't write without Pylon Serial #!\n"},
      {{"-w", "-p", "1", "-m"}, "ERROR: You can't write without MM #!\n"},
      {{"-w", "-p", "1", "-m", "2", "-b", "-f"},
       "ERROR: You can't write Board ID without ID!\nERROR: You can't write Fab ID without ID!\n"},
      {{"-w", "-p", "1", "-m", "2", "-s", "-o"},
       "ERROR: You can't write Sandrel without Serial #!\n"
       "ERROR: You can't write BOM ID without ID!\n"},
  };
  for (const auto &C : Cases) {
    RunResult R = RunUnix(B, C.Args);
    EXPECT_EQ(R.Status, 2u) << C.Error;
    EXPECT_EQ(R.Output, Banner + C.Error);
  }
  EXPECT_EQ(B.Gpp1().WriteCalls + B.Gpp1().ReadCalls, 0u);
}

TEST(ToolMain, ClearWinsOverReadAndWrite) {
  Board B;
  B.SetBlock0(std::vector<uint8_t>(512, 0x77));
  RunResult R = RunUnix(B, {"-c", "-w", "-p", "1", "-m", "2"});
  EXPECT_EQ(R.Status, 0u);
  EXPECT_EQ(R.Output, Banner + "- Clearing GPP1 data...\nOperation successful!\n");
  EXPECT_EQ(B.Block0(), std::vector<uint8_t>(512, 0));
}

TEST(ParseCommandLine, LowersOptionWordsButNeverValues) {
  Board B;
  ArgVector V({"--READ", "-M", "AbC", "--Pylon", "XyZ", "-B", "-Q"});
  CliOptions O{};
  ParseCommandLine(V.Argc(), V.Argv(), &O);
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
  ParseCommandLine(V.Argc(), V.Argv(), &O);
  EXPECT_FALSE(O.ReadRequested);
  EXPECT_EQ(std::u16string(O.ModuleSerialText), u"2");
  EXPECT_EQ(DebugEnabled, 1);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()), "Unknown! - Argv[1]: \"-rr\"\nUnknown! - Argv[2]: \"--rea\"\n");
  DebugEnabled = 0;
}

TEST(ToolMain, DebugDoesNotCarryOverToTheNextRunInTheSameProcess) {
  Board B;
  RunResult R = RunUnix(B, {"--debug", "-r"});
  EXPECT_NE(R.Output.find("GetBlockIo(#460)"), std::string::npos);
  R = RunUnix(B, {"-r"});
  EXPECT_EQ(R.Output.find("GetBlockIo(#460)"), std::string::npos);
}

} // namespace
