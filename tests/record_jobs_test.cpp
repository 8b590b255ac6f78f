// The jobs around the record: guards that must hold before a write or a clear, an edit of some
// fields, and a dry run. The oracle for what lands on GPP1 is a plain -w (or -c) of the record
// that the command asks for, run on a board of its own.
#include <gtest/gtest.h>

#include "shell/platform_context.h"
#include "tests/support/board_fixture.h"

namespace {

using Args = std::vector<std::string>;

enum class Stored { Blank, Erased, Provisioned, Corrupt };
const Args Provisioning = {"-w", "-p", "11111111", "-m", "09876", "-s", "55555555", "-b", "3"};

void Prepare(Board &B, Stored State) {
  if (State == Stored::Erased)
    B.SetBlock0(std::vector<uint8_t>(B.BlockSize, 0xFF));
  if (State == Stored::Provisioned || State == Stored::Corrupt)
    ASSERT_EQ(B.Run(Provisioning).Status, 0u);
  if (State == Stored::Corrupt) {
    std::vector<uint8_t> Block = B.Block0();
    Block[90] ^= 0x01;
    B.SetBlock0(Block);
  }
}

// Block 0 after Command on a fresh board: the record a plain write stores, zeros after a clear.
std::vector<uint8_t> BlockAfter(const Args &Command) {
  Board B;
  EXPECT_EQ(B.Run(Command).Status, 0u);
  return B.Block0();
}

TEST(RecordJobs, GuardsEditAndDryRun) {
  const Args Write = {"-w", "-p", "12345678", "-m", "09876"};
  auto With = [](Args A, const Args &More) {
    A.insert(A.end(), More.begin(), More.end());
    return A;
  };
  const std::string NotBlank =
      "ERROR: GPP1 holds the record of Pylon Serial #11111111, not a blank record!";
  const std::string CorruptNotBlank =
      "ERROR: GPP1 holds data that fails its CRC check, not a blank record!";
  const std::string DryRun = "Dry run: nothing was written.";
  struct {
    Stored State;
    Args Command;
    uint64_t Status;
    std::string LastLine;
    Args WrittenAs; // empty: block 0 stays as it was
  } Cases[] = {
      {Stored::Blank, With(Write, {"--if-blank"}), 0, "Operation successful!", Write},
      {Stored::Erased, With(Write, {"--IF-BLANK"}), 0, "Operation successful!", Write},
      {Stored::Provisioned, With(Write, {"--if-blank"}), 21, NotBlank, {}},
      {Stored::Corrupt, With(Write, {"--if-blank"}), 21, CorruptNotBlank, {}},
      {Stored::Provisioned, With(Write, {"--if-serial", "11111111"}), 0, "Operation successful!",
       Write},
      {Stored::Provisioned, With(Write, {"--if-serial", "22222222"}), 21,
       "ERROR: GPP1 holds the record of Pylon Serial #11111111, not that of Pylon Serial "
       "#22222222!",
       {}},
      {Stored::Blank, With(Write, {"--if-serial", "11111111"}), 21,
       "ERROR: GPP1 holds a blank record, not the record of Pylon Serial #11111111!", {}},
      {Stored::Corrupt, {"-c", "--if-serial", "11111111"}, 21,
       "ERROR: GPP1 holds data that fails its CRC check, not the record of Pylon Serial "
       "#11111111!",
       {}},
      {Stored::Provisioned, {"-c", "--if-blank"}, 21, NotBlank, {}},
      {Stored::Provisioned, {"-c", "--if-serial", "11111111"}, 0, "Operation successful!", {"-c"}},
      {Stored::Provisioned, {"--edit", "-s", "87654321"}, 0, "Operation successful!",
       {"-w", "-p", "11111111", "-m", "09876", "-s", "87654321", "-b", "3"}},
      {Stored::Provisioned, {"--edit", "--no-sandrel", "-f", "2", "--if-serial", "11111111"}, 0,
       "Operation successful!", {"-w", "-p", "11111111", "-m", "09876", "-b", "3", "-f", "2"}},
      {Stored::Blank, {"--edit", "-s", "1"}, 2,
       "ERROR: GPP1 holds a blank record: there is nothing to edit!", {}},
      {Stored::Corrupt, {"--edit", "-s", "1"}, 10, "ERROR: GPP1 data is corrupted! CRC32 fails.",
       {}},
      {Stored::Provisioned, {"--edit", "-r", "-s", "1"}, 2,
       "ERROR: You can't write and read at the same time!", {}},
      {Stored::Provisioned, With(Write, {"--dry-run"}), 0, DryRun, {}},
      {Stored::Provisioned, {"--edit", "-m", "1", "--dry-run", "--if-serial", "11111111"}, 0, DryRun,
       {}},
      {Stored::Provisioned, {"-c", "--dry-run"}, 0, DryRun, {}},
      {Stored::Provisioned, With(Write, {"--dry-run", "--if-blank"}), 21, NotBlank, {}},
  };
  for (const auto &Case : Cases) {
    std::string Command;
    Args Real; // the same command without --dry-run
    for (const std::string &Word : Case.Command) {
      Command += Word + " ";
      if (Word != "--dry-run")
        Real.push_back(Word);
    }
    SCOPED_TRACE(Command);
    // A dry run shows the record that the command without --dry-run stores, as -r shows it.
    std::string Display;
    if (Case.LastLine == DryRun) {
      Board Rehearsed;
      Prepare(Rehearsed, Case.State);
      ASSERT_EQ(Rehearsed.Run(Real).Status, 0u);
      Display = Unix(Rehearsed.Run({"-r"}).Output);
      Display = Display.substr(Display.find("\n\n") + 2);
      Display = Display.substr(0, Display.find("Operation successful!")) + DryRun;
    }
    std::vector<uint8_t> Expected;
    if (!Case.WrittenAs.empty())
      Expected = BlockAfter(Case.WrittenAs);

    Board B;
    Prepare(B, Case.State);
    if (Expected.empty())
      Expected = B.Block0();
    RunResult R = B.Run(Case.Command);
    std::string Output = Unix(R.Output);
    EXPECT_EQ(R.Status, Case.Status);
    std::string Last = Output.substr(0, Output.size() - 1);
    EXPECT_EQ(Last.substr(Last.rfind('\n') + 1), Case.LastLine);
    EXPECT_EQ(Output.find("Operation successful!") != std::string::npos,
              Case.Status == 0 && Case.LastLine != DryRun);
    EXPECT_NE(Output.find(Display), std::string::npos) << Output;
    EXPECT_EQ(B.Block0(), Expected);
  }
}

} // namespace
