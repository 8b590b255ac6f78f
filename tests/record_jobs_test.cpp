// The jobs around the record, on a station: guards that must hold before a write or a clear, an
// edit of some fields, a dry run, and the station's files: the block a write replaces (--backup),
// put back (--restore), and the run's line in the station's log (--log), on a stick that may be
// full or read-only, under UEFI Shell 2.0 (its own file functions) and under a shell without them
// (the image's own volume). The oracle for block 0 is a board that ran the plain -w (or -c) of
// the record the command asks for, or the block as it was.
#include <gtest/gtest.h>

#include <map>

#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

using Args = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// Tight: room for the run's log line and no more; Unaccounted: roomy, but its file system does
// not say how much room it has; Dying: fails every write after the first; Garbling: reads back
// other bytes than it holds.
enum class Stick { Roomy, Full, ReadOnly, Tight, Unaccounted, Dying, Garbling };
enum class Device { Blank, Erased, Good, Corrupt, Protected, FailsWrites, DropsWrites, Missing };

const Args Provision = {"-w", "-p", "11111111", "-m", "09876", "-s", "55555555", "-b", "3"};
const Args Write = {"-w", "-p", "12345678", "-m", "09876"};

Args With(Args A, const Args &More) {
  A.insert(A.end(), More.begin(), More.end());
  return A;
}

struct Station {
  Station(ShellKind Kind, WriteProtect Protect) : B(512, Protect), Volume(B.Sim) {
    B.InstallShell(Kind, EnvironmentPlacement::OnImage);
    if (Kind == ShellKind::Uefi20)
      Volume.Serve(&B.Shell20->Protocol);
    else
      Volume.LoadImageFrom(B.Sim.ImageHandle);
  }
  Bytes File(const std::string &Name) { return Volume.Files[WideText(Name)]; }
  Board B;
  SimVolume Volume;
};

Bytes BlockAfter(const Args &Command) {
  Board B;
  EXPECT_EQ(B.Run(Command).Status, 0u);
  return B.Block0();
}

TEST(RecordJobs, GuardsEditsDryRunsBackupsRestoresAndLogs) {
  const Bytes Provisioned = BlockAfter(Provision);
  Bytes Damaged = Provisioned;
  Damaged[90] ^= 1;
  Damaged[400] = 0x5A; // beyond the record: a backup keeps the whole block
  const std::string Ok = "Operation successful!";
  const std::string DryRun = "Dry run: nothing was written.";
  const std::string NotBlank =
      "ERROR: GPP1 holds the record of Pylon Serial #11111111, not a blank record!";
  const std::string OldBin = "old.bin";
  const std::string CrcFails = "ERROR: GPP1 data is corrupted! CRC32 fails.";
  const std::string Dump = RecordDump(Bytes(Damaged.begin(), Damaged.begin() + 176));
  const Bytes Written = BlockAfter(Write);
  // A station job's last two lines: its verdict and the banner's closing rule.
  const auto Verdict = [](const std::string &Line) {
    return "   " + Line + "\n  " + std::string(65, '=');
  };
  const Args Job = {"--log", "run.log"};
  const std::string JobLine = R"("operation":"provision","guard":"if-blank","guard_serial":null,)";
  constexpr ShellKind V20 = ShellKind::Uefi20, V11 = ShellKind::Efi11;
  using enum Stick;
  using enum Device;
  struct Case {
    ShellKind Kind;
    Stick Stick;
    Device Device;
    Bytes OldFile; // old.bin on the stick before the run, if not empty
    Args Command;
    uint64_t Status;
    std::string Tail;             // the output's last lines
    Bytes Block0 = {};            // block 0 afterwards; empty: as it was
    const char *Kept = nullptr;   // the file that holds block 0 as it was before the run
    std::string Log = {};         // words the log line must hold; empty: no log line
    std::string Earlier = "{}\n"; // the log before the run
    std::u16string Typed = u"";   // at the console's prompts
    const char *Saved = nullptr;  // the record file an inspection leaves
  } Cases[] = {
      // clang-format off
      // Guards: over a blank or erased GPP1, or over one Pylon serial's record, and nothing else.
      {V20, Roomy, Blank, {}, With(Write, {"--if-blank"}), 0, Ok, Written},
      {V20, Roomy, Erased, {}, With(Write, {"--IF-BLANK"}), 0, Ok, Written},
      {V20, Roomy, Good, {}, With(Write, {"--if-blank"}), 21, NotBlank},
      {V20, Roomy, Corrupt, {}, With(Write, {"--if-blank"}), 21,
       "ERROR: GPP1 holds data that fails its CRC check, not a blank record!"},
      {V20, Roomy, Good, {}, With(Write, {"--if-serial", "11111111"}), 0, Ok, Written},
      {V20, Roomy, Good, {}, With(Write, {"--if-serial", "-h"}), 21, "ERROR: GPP1 holds the record "
       "of Pylon Serial #11111111, not that of Pylon Serial #-h!"},
      {V20, Roomy, Good, {}, {"-r", "--if-serial", "22222222"}, 21, "ERROR: GPP1 holds the record "
       "of Pylon Serial #11111111, not that of Pylon Serial #22222222!"},
      // A guarded change that GPP1 holds already, a retry say, is not made again.
      {V20, Roomy, Good, {}, With(Provision, {"--if-blank", "--log", "run.log"}), 0,
       "- GPP1 already holds this record: nothing was written.\n" + Ok, {}, nullptr,
       R"("backup":null,"restore":null,"saved":null,"before":{"blank":false,"module_serial":"11111111 )"},
      {V20, Roomy, Good, {}, With(Write, {"--if-serial", "22222222"}), 21,
       "ERROR: GPP1 holds the record of Pylon Serial #11111111, not that of Pylon Serial "
       "#22222222!"},
      {V20, Roomy, Blank, {}, With(Write, {"--if-serial", "11111111"}), 21,
       "ERROR: GPP1 holds a blank record, not the record of Pylon Serial #11111111!"},
      {V20, Roomy, Corrupt, {}, {"-c", "--if-serial", "11111111"}, 21,
       "ERROR: GPP1 holds data that fails its CRC check, not the record of Pylon Serial "
       "#11111111!"},
      {V20, Roomy, Good, {}, {"-c", "--if-blank"}, 21, NotBlank},
      {V20, Roomy, Good, {}, {"-c", "--if-serial", "11111111"}, 0, Ok, Bytes(512, 0)},
      // Edits: the stored record with only the fields given changed.
      {V20, Roomy, Good, {}, {"--edit", "-s", "87654321"}, 0, Ok,
       BlockAfter({"-w", "-p", "11111111", "-m", "09876", "-s", "87654321", "-b", "3"})},
      {V20, Roomy, Good, {},
       {"--edit", "--no-sandrel", "-f", "2", "--if-serial", "11111111"}, 0, Ok,
       BlockAfter({"-w", "-p", "11111111", "-m", "09876", "-b", "3", "-f", "2"})},
      {V20, Roomy, Blank, {}, {"--edit", "-s", "1"}, 2,
       "ERROR: GPP1 holds a blank record: there is nothing to edit!"},
      {V20, Roomy, Corrupt, {}, {"--edit", "-s", "1"}, 10, CrcFails},
      {V20, Roomy, Good, {}, {"--edit", "-r", "-s", "1"}, 2,
       "ERROR: You can't write and read at the same time!"},
      // Dry runs: the record the command would store, and nothing written.
      {V20, Roomy, Good, {}, With(Write, {"--dry-run"}), 0, DryRun},
      {V20, Roomy, Good, {},
       {"--edit", "-m", "1", "--dry-run", "--if-serial", "11111111"}, 0, DryRun},
      {V20, Roomy, Good, {}, {"-c", "--dry-run"}, 0, DryRun},
      {V20, Roomy, Good, {}, With(Write, {"--dry-run", "--if-blank"}), 21, NotBlank},
      // Backups: whole block as it was, never over a file, never left by a run that wrote nothing.
      {V20, Roomy, Good, {}, With(Write, {"--backup", OldBin}), 0, Ok, Written, "old.bin"},
      {V11, Roomy, Corrupt, {}, {"-c", "--backup", OldBin}, 0, Ok, Bytes(512, 0), "old.bin"},
      {V20, Roomy, Good, {1, 2, 3}, With(Write, {"--backup", OldBin, "--log", "run.log"}), 0,
       "- Verifying binary image...\n" + Ok, Written, "old-2.bin", R"("backup":"old-2.bin")"},
      {V20, Full, Good, {}, With(Write, {"--backup", OldBin}), 0x40,
       "ERROR: Backup old.bin does not fit: 40 bytes are free on its volume!"},
      {V20, Tight, Good, {}, With(Write, {"--backup", OldBin, "--log", "run.log"}), 0x40,
       "ERROR: Backup old.bin does not fit: 100 bytes are free on its volume!", {}, nullptr,
       R"("backup":null,"restore":null,"saved":null,"before":{)"},
      {V20, Unaccounted, Good, {}, With(Write, {"--backup", OldBin, "--log", "run.log"}), 0, Ok,
       Written, "old.bin", R"("backup":"old.bin")"},
      {V11, ReadOnly, Good, {}, With(Write, {"--backup", OldBin}), 0x40,
       "ERROR: Cannot create backup old.bin: Write Protected!"},
      {V20, Roomy, Good, {}, With(Write, {"--backup", OldBin, "--if-blank"}), 21, NotBlank},
      // A write the device refuses leaves GPP1 as it was: its backup stands for nothing.
      {V20, Roomy, FailsWrites, {}, With(Write, {"--backup", OldBin}), 0x42,
       "ERROR: Failed to write binary data!"},
      // A dry run makes its backup to show that it can, and keeps nothing.
      {V20, Roomy, Good, {}, With(Write, {"--dry-run", "--backup", OldBin, "--log", "run.log"}),
       0, DryRun, {}, nullptr, R"("backup":null)"},
      {V20, Roomy, Good, {}, With(Write, {"--backup"}), 2,
       "ERROR: You can't use --backup without a file name!"},
      // Restores: the saved block back byte for byte, under the guards and the dry run.
      {V20, Roomy, Good, Damaged, {"--restore", OldBin}, 0, Ok, Damaged},
      {V11, Roomy, Corrupt, Provisioned, {"--restore", OldBin, "--debug"}, 0, Ok, Provisioned},
      {V20, Roomy, Good, Bytes(100, 1), {"--restore", OldBin}, 2,
       "ERROR: old.bin holds 100 bytes, not the 512 of a GPP1 block!"},
      {V20, Roomy, Good, {}, {"--restore", OldBin}, 2, "ERROR: Cannot open old.bin: Not Found!"},
      {V20, Roomy, Good, Damaged, {"--restore", OldBin, "--if-blank"}, 21, NotBlank},
      {V20, Roomy, Good, Provisioned, {"--restore", OldBin, "--if-blank"}, 0,
       "- GPP1 already holds this record: nothing was written.\n" + Ok},
      {V20, Roomy, Good, Damaged, {"--restore", OldBin, "--dry-run"}, 0, DryRun},
      {V20, Roomy, Good, Damaged, {"--restore", OldBin, "-r"}, 2,
       "ERROR: You can't restore a block and read or change fields at the same time!"},
      {V20, Roomy, Protected, Damaged, {"--restore", OldBin}, 8,
       "ERROR: eMMC GPP1 is still write protected!"},
      // The run log: one line per run whatever the outcome, or no run at all.
      {V20, Roomy, Good, {}, With(Write, {"--log", "run.log", "--if-serial", "11111111"}), 0, Ok,
       Written, nullptr, R"("operation":"write","guard":"if-serial","guard_serial":"11111111",)"
       R"("asked":{"pylon":"12345678","mm":"09876"})"},
      {V11, Roomy, Good, {}, With(Write, {"--log", "run.log", "--if-blank"}), 21, NotBlank, {},
       nullptr, R"("after":null,"status":21,"reason":"guard refused: GPP1 is not blank"})", "{}"},
      {V20, Roomy, Missing, {}, With(Write, {"--log", "run.log"}), 7,
       "ERROR: Failed to read eMMC GPP1!", {}, nullptr,
       R"("before":null,"after":null,"status":7,"reason":"GPP1 not found"})"},
      {V20, Roomy, FailsWrites, {}, With(Write, {"--log", "run.log"}), 0x42,
       "ERROR: Failed to write binary data!", {}, nullptr,
       R"("status":66,"reason":"write failed, GPP1 unchanged"})"},
      {V20, Roomy, DropsWrites, {}, With(Write, {"--log", "run.log"}), 27,
       "ERROR: Failed to verify binary data!", {}, nullptr,
       R"("status":27,"reason":"written, verify failed"})"},
      {V20, Roomy, Protected, {}, {"-c", "--log", "run.log"}, 8,
       "ERROR: eMMC GPP1 is still write protected!", {}, nullptr,
       R"("status":8,"reason":"write-protected"})"},
      {V20, Roomy, Good, {},
       {"-w", "-p", "1 2", "-m", "", "--log", "run.log"}, 2, "ERROR: MM # is empty!", {}, nullptr,
       R"("asked":{"pylon":"1 2","mm":""},"backup":null,"restore":null,"saved":null,"before":null)"},
      // A value far too long is logged cut short, so that the line always fits.
      {V20, Roomy, Good, {}, {"-w", "-p", std::string(200, 'x'), "-m", "1", "--log", "run.log"}, 2,
       "ERROR: Pylon Serial # \"" + std::string(200, 'x') + "\" is longer than 16 characters!", {},
       nullptr, R"("asked":{"pylon":")" + std::string(64, 'x') + R"(...","mm":"1"})"},
      {V20, Roomy, Corrupt, {}, {"-r", "--log", "run.log"}, 10, CrcFails, {}, nullptr,
       R"("after":null,"status":10,"reason":"record fails its CRC"})"},
      // A record that fails its CRC still shows its bytes under --debug, to be saved.
      {V20, Roomy, Corrupt, {}, {"-r", "--debug"}, 10,
       CrcFails + "\n" + Dump.substr(0, Dump.size() - 1)},
      {V20, ReadOnly, Good, {}, With(Write, {"--log", "run.log"}), 0x4B,
       "ERROR: Cannot open log run.log for appending: Write Protected; GPP1 untouched!"},
      {V11, Full, Good, {}, With(Write, {"--log", "run.log"}), 0x4B,
       "ERROR: Log run.log cannot take the run's line: Volume Full; GPP1 untouched!"},
      {V20, Dying, Good, {}, With(Write, {"--log", "run.log"}), 0x4C,
       "ERROR: GPP1 was written and verified, but not logged: run.log: Device Error!", Written, nullptr,
       R"("status":null,"reason":"no outcome recorded"})"},
      // What a stick reads back is what the run relies on: other bytes refuse the run.
      {V20, Garbling, Good, {}, With(Write, {"--backup", OldBin}), 0x40,
       "ERROR: Backup old.bin reads back other bytes than were saved!"},
      {V20, Garbling, Good, {}, With(Write, {"--log", "run.log"}), 0x4B,
       "ERROR: Log run.log cannot take the run's line: Volume Corrupt; GPP1 untouched!", {},
       nullptr, R"("status":null,"reason":"no outcome recorded"})"},
      // Station jobs: the values are values, the backup is SERIAL.bin, the proof the whole block.
      {V20, Roomy, Blank, {}, With(Job, {"--provision", "12345678", "09876"}), 0,
       Verdict("PASS: provision of 12345678: ok (status 0x0)"), Written, "12345678.bin",
       JobLine + R"("asked":{"pylon":"12345678","mm":"09876"},"backup":"12345678.bin")"},
      {V11, Roomy, Good, {}, With(Job, {"--provision", "11111111", "09876", "55555555", "3",
       "ffffffff", "0xFFFFFFFF"}), 0, Verdict("PASS: provision of 11111111: already holds this "
       "record (status 0x0)"), {}, nullptr, R"("backup":null,"restore":null,"saved":null,)"},
      {V20, Roomy, Good, {}, With(Job, {"--provision", "12345678", "09876"}), 21,
       Verdict("FAIL: provision of 12345678: guard refused: GPP1 is not blank (status 0x15)"), {},
       nullptr, JobLine},
      {V20, Roomy, Good, {}, With(Job, {"--rework", "11111111", "12345678", "09876"}), 0,
       Verdict("PASS: rework of 12345678: ok (status 0x0)"), Written, "12345678.bin",
       R"("operation":"rework","guard":"if-serial","guard_serial":"11111111","asked":{"pylon":)"},
      {V20, Roomy, Good, {}, With(Job, {"--rework", "22222222", "12345678", "09876"}), 21,
       Verdict("FAIL: rework of 12345678: guard refused: GPP1 holds another record (status 0x15)"),
       {}, nullptr, R"("operation":"rework")"},
      {V20, Roomy, Good, {}, With(Job, {"--provision", "12345678", "-h"}), 2,
       Verdict("FAIL: provision of 12345678: bad arguments (status 0x2)"), {}, nullptr,
       R"("asked":{"pylon":"12345678","mm":"-h"},)"},
      {V20, Roomy, Good, {}, With(Job, {"--rework", "11111111", "50000005", "-c"}), 2,
       Verdict("FAIL: rework of 50000005: bad arguments (status 0x2)"), {}, nullptr,
       R"("status":2,)"},
      {V20, Roomy, Blank, {}, With(Job, {"--provision", "1234 5678", "09876"}), 2,
       "ERROR: Pylon Serial # \"1234 5678\" holds a space!\n\n  " + std::string(65, '=') +
       "\n   FFFFFFF     AAA     IIII   LL\n   FF         AA AA     II    LL\n   FFFFF     AA   "
       "AA    II    LL\n   FF        AAAAAAA    II    LL\n   FF        AA   AA   IIII   LLLLLLL\n"
       "\n" + Verdict("FAIL: provision of 1234 5678: bad arguments (status 0x2)"), {}, nullptr,
       R"("status":2,)"},
      {V20, Roomy, Blank, {}, With(Job, {"--provision", "1", "2", "3", "4"}), 2,
       Verdict("FAIL: provision of 1: bad arguments (status 0x2)"), {}, nullptr, R"("status":2,)"},
      // A script's nine positions, one of them come apart at a quoted space; and its rework form.
      {V20, Roomy, Blank, {}, With(Job, {"--from-script", "--provision", "1234", "5678", "09876",
       "", "", "", "", "", "", ""}), 2, Verdict("FAIL: provision of 1234: bad arguments (status "
       "0x2)"), {}, nullptr, R"("status":2,)"},
      {V20, Roomy, Good, {}, With(Job, {"--from-script", "--provision", "REWORK", "11111111",
       "12345678", "09876", "", "", "", "", ""}), 0, Verdict("PASS: rework of 12345678: ok (status "
       "0x0)"), Written, "12345678.bin", R"("operation":"rework")"},
      {V20, Roomy, Good, {}, With(Job, {"--inspect", "11111111"}), 0,
       Verdict("PASS: inspect of 11111111: ok (status 0x0)"), {}, nullptr,
       R"("operation":"inspect","guard":"if-serial","guard_serial":"11111111","asked":{},)"
       R"("backup":null,"restore":null,"saved":"11111111.json")", "{}\n", u"", "11111111.json"},
      {V20, Roomy, Good, {}, With(Job, {"--inspect", "22222222"}), 21,
       Verdict("FAIL: inspect of 22222222: guard refused: GPP1 holds another record (status "
       "0x15)"), {}, nullptr, R"("saved":null,)"},
      {V20, Roomy, Blank, {}, With(Job, {"--inspect", "11111111"}), 21,
       Verdict("FAIL: inspect of 11111111: guard refused: GPP1 is blank (status 0x15)"), {},
       nullptr, R"("saved":null,)"},
      {V20, Full, Blank, {}, With(Job, {"--provision", "12345678", "09876"}), 0x4B,
       Verdict("FAIL: provision of 12345678: not logged, nothing written (status 0x4B)")},
      {V20, Tight, Blank, {}, With(Job, {"--provision", "12345678", "09876"}), 0x40,
       Verdict("FAIL: provision of 12345678: backup failed, nothing written (status 0x40)"), {},
       nullptr, R"("status":64,)"},
      // The values typed at the prompts, as a scanner types them: one refused and asked again.
      {V20, Roomy, Blank, {}, With(Job, {"--provision"}), 0,
       Verdict("PASS: provision of 12345678: ok (status 0x0)"), Written, "12345678.bin",
       JobLine + R"("asked":{"pylon":"12345678","mm":"09876"},)", "{}\n",
       u"1234 5678\r12345678\r09876\r\r"},
      {V20, Roomy, Blank, {}, With(Job, {"--rework"}), 2,
       Verdict("FAIL: rework of 12345678: ended at a prompt, nothing written (status 0x2)"), {},
       nullptr, R"("guard_serial":"11111111","asked":{"pylon":"12345678"},)", "{}\n",
       u"11111111\r12345678\r\x1b"},
      {V20, Roomy, Good, {}, {"-h", "--log", "run.log", "--provision", "1", "2"}, 2,
       "ERROR: The help was asked for beside other options: nothing was done!", {}, nullptr,
       R"("operation":"help",)"},
      // clang-format on
  };
  // The bytes a run's line takes in a log, as the same run on a roomy stick shows them.
  const auto LineBytes = [](const Case &C) {
    Station S(C.Kind, WriteProtect::Off);
    S.Volume.Files[u"run.log"] = {};
    S.B.Start(C.Command);
    return S.Volume.Files[u"run.log"].size();
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(testing::PrintToString(C.Command));
    const size_t Room = C.Stick == Tight ? LineBytes(C) + 100 : 0;
    Station S(C.Kind, C.Device == Protected ? WriteProtect::On : WriteProtect::Off);
    const std::map<Device, Bytes> Blocks = {{Blank, Bytes(512, 0)},
                                            {Erased, Bytes(512, 0xFF)},
                                            {Corrupt, Damaged},
                                            {Missing, Bytes(512, 0)}};
    S.B.SetBlock0(Blocks.count(C.Device) ? Blocks.at(C.Device) : Provisioned);
    if (!C.OldFile.empty())
      S.Volume.Files[u"old.bin"] = C.OldFile;
    // An earlier line in the log, which a run must leave as it is.
    S.Volume.Files[u"run.log"] = Bytes(C.Earlier.begin(), C.Earlier.end());
    S.Volume.ReadOnly = C.Stick == ReadOnly;
    S.Volume.AccountsSpace = C.Stick != Unaccounted;
    S.Volume.WritesLeft = C.Stick == Dying ? 1 : SIZE_MAX;
    S.Volume.GarblesReads = C.Stick == Garbling;
    if (C.Stick == Full || C.Stick == Tight)
      S.Volume.Capacity = S.Volume.UsedBytes() + (C.Stick == Full ? 40 : Room);
    S.B.Sim.Type(C.Typed);
    S.B.Gpp1().Faults.WriteStatus = C.Device == FailsWrites ? EFI_DEVICE_ERROR : EFI_SUCCESS;
    S.B.Gpp1().Faults.DropWrites = C.Device == DropsWrites;
    if (C.Device == Missing)
      S.B.Sim.LocateHandleBufferStatus = EFI_NOT_FOUND;

    const Bytes Before = S.B.Block0();
    const auto [Status, Output] = S.B.Start(C.Command);
    EXPECT_EQ(Status, C.Status) << Output;
    EXPECT_TRUE(Output.ends_with("\n" + C.Tail + "\n")) << Output;
    EXPECT_EQ(Output.find(Ok) != std::string::npos, C.Status == 0 && C.Tail != DryRun);
    EXPECT_EQ(S.B.Block0(), C.Block0.empty() ? Before : C.Block0);
    if (C.Kept != nullptr)
      EXPECT_EQ(S.File(C.Kept), Before);
    if (!C.OldFile.empty())
      EXPECT_EQ(S.File(OldBin), C.OldFile);
    // An inspection's file: the record as one JSON object on one line.
    if (C.Saved != nullptr) {
      const Bytes Json = S.File(C.Saved);
      const std::string Text(Json.begin(), Json.end());
      EXPECT_EQ(
          Text.rfind(R"({"blank":false,"module_serial":"11111111        ","mm_number":"09876)", 0),
          0u)
          << Text;
      EXPECT_EQ(Text.find('\n'), Text.size() - 1);
    }
    // Nothing else on the stick: no backup a run did not keep, nothing left of a probe.
    for (const auto &[Name, Bytes] : S.Volume.Files)
      EXPECT_TRUE(Name == u"run.log" || (Name == u"old.bin" && !C.OldFile.empty()) ||
                  (C.Kept != nullptr && Name == WideText(C.Kept)) ||
                  (C.Saved != nullptr && Name == WideText(C.Saved)))
          << testing::PrintToString(std::string(Name.begin(), Name.end()));
    // The log: the earlier line (given its newline), then exactly one line for this run when it
    // has words to check, which gives the run's status.
    Bytes Log = S.File("run.log");
    std::string Lines(Log.begin(), Log.end());
    EXPECT_EQ(Lines.rfind("{}\n", 0), 0u);
    if (C.Log.empty()) {
      EXPECT_EQ(Lines, C.Stick == ReadOnly ? C.Earlier : "{}\n");
    } else {
      std::string Line = Lines.substr(3);
      // (A garbling stick misreads the log's last newline, and puts one of its own first.)
      EXPECT_EQ(Line.find('\n', C.Stick == Garbling ? 1 : 0), Line.size() - 1) << Line;
      EXPECT_NE(Line.find(C.Log), std::string::npos) << Line;
      if (C.Stick != Dying && C.Stick != Garbling)
        EXPECT_NE(Line.find(",\"status\":" + std::to_string(Status) + ","), std::string::npos);
    }
    EXPECT_EQ(S.Volume.OpenHandles, 0u);
    EXPECT_EQ(Leftovers(S.B.Sim), "");
    // A dry run of a change shows the record that the command without --dry-run then stores, as
    // -r shows it (a restore's dry run speaks of the saved block instead).
    if (C.Tail == DryRun && C.OldFile.empty()) {
      Args Real = C.Command;
      std::erase(Real, "--dry-run");
      ASSERT_EQ(S.B.Start(Real).Status, 0u);
      std::string Display = S.B.Start({"-r"}).Output;
      Display = Display.substr(Display.find("\n\n") + 2);
      EXPECT_NE(Output.find(Display.substr(0, Display.find(Ok)) + DryRun), std::string::npos)
          << Output;
    }
  }
  {
    // A file that has the name of the probe a volume without free-space figures needs is
    // someone's: the probe goes round it, and it stays as it was.
    Station S(V20, WriteProtect::Off);
    S.Volume.AccountsSpace = false;
    S.Volume.Files[u"run.log.room"] = {7};
    EXPECT_EQ(S.B.Start(With(Write, {"--log", "run.log"})).Status, 0u);
    EXPECT_EQ(S.File("run.log.room"), Bytes{7});
    EXPECT_EQ(S.Volume.Files.size(), 2u);
  }
  // However many runs a serial has had, its next block is kept under the next free number.
  Station Many(V20, WriteProtect::Off);
  Many.B.SetBlock0(Provisioned);
  Many.Volume.Files[u"11111111.bin"] = {1};
  for (int N = 2; N <= 150; N++)
    Many.Volume.Files[WideText("11111111-" + std::to_string(N) + ".bin")] = {1};
  EXPECT_EQ(Many.B.Start({"--rework", "11111111", "11111111", "1"}).Status, 0u);
  EXPECT_EQ(Many.File("11111111-151.bin"), Provisioned);
}

} // namespace
