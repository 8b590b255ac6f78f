// The Linux front end in process: its options, the file medium's safety rules, the JSON view and
// whole runs over image files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "app/board_record.h"
#include "app/command_line.h"
#include "hosted/block_device_identity.h"
#include "host/front_end.h"
#include "host/front_end_options.h"
#include "hosted/gpp1_medium.h"
#include "hosted/linux_files.h"
#include "host/host_board.h"
#include "host/record_json.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const Args Example = {"-w", "-p", "12345678", "-s", "87654321", "-m", "09876"};

class TempDir {
public:
  TempDir() {
    std::string Pattern = (fs::temp_directory_path() / "kestrel-host-XXXXXX").string();
    Path = mkdtemp(Pattern.data());
  }
  ~TempDir() { fs::remove_all(Path); }
  std::string File(const std::string &Name) const { return Path + "/" + Name; }
  std::string Path;
};

void WriteFile(const std::string &Path, const Bytes &Contents) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(Contents.data()),
             static_cast<std::streamsize>(Contents.size()));
}

Bytes ReadFile(const std::string &Path) {
  std::ifstream F(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(F), {});
}

bool AllAre(Bytes::const_iterator From, Bytes::const_iterator To, uint8_t Value) {
  return std::all_of(From, To, [Value](uint8_t B) { return B == Value; });
}

Args With(Args Front, const Args &Tail) {
  Front.insert(Front.end(), Tail.begin(), Tail.end());
  return Front;
}

struct Outcome {
  int Status;
  std::string Out;
  std::string Err;
};

// One invocation of the front end with stdout and stderr captured.
Outcome Kestrel(const Args &Words, const std::string &DeviceDir = "/dev",
                bool DefaultMayBeFile = false, int LockWaitMilliseconds = 0) {
  char *Text[2] = {};
  size_t Size[2] = {};
  FILE *Out = open_memstream(&Text[0], &Size[0]), *Err = open_memstream(&Text[1], &Size[1]);
  int Status =
      RunFrontEnd(Words, Out, Err, {DeviceDir, DefaultMayBeFile, "/sys", LockWaitMilliseconds});
  fclose(Out);
  fclose(Err);
  Outcome R{Status, std::string(Text[0], Size[0]), std::string(Text[1], Size[1])};
  free(Text[0]);
  free(Text[1]);
  return R;
}

// R ended with Status, and its stdout holds OutHas.
Outcome Expect(Outcome R, int Status, const std::string &OutHas = "") {
  EXPECT_EQ(R.Status, Status) << R.Out << R.Err;
  EXPECT_THAT(R.Out, HasSubstr(OutHas));
  return R;
}

// --- Options -------------------------------------------------------------------------------

TEST(FrontEndOptions, FrontEndWordsAreConsumedAndTheToolLineFollowsUnchanged) {
  FrontEndOptions O;
  std::string E;
  // --backup is the tool's own: the tool's line starts there.
  ASSERT_TRUE(ParseFrontEndOptions({"--image", "a.img", "--write-protect", "--block-size", "4096",
                                    "--json", "--backup", "b.bin", "-R", "--Debug", "x"},
                                   &O, &E));
  EXPECT_EQ(O.ImagePath, "a.img");
  EXPECT_TRUE(O.WriteProtect);
  EXPECT_EQ(O.BlockSize, 4096u);
  EXPECT_TRUE(O.Json);
  EXPECT_EQ(O.ToolArgs, (Args{"--backup", "b.bin", "-R", "--Debug", "x"}));

  // "--" ends the front end's part; the "=" form gives a value in the same word.
  ASSERT_TRUE(ParseFrontEndOptions({"--image=/x=y", "--block-size=0004096", "--", "-r"}, &O, &E));
  EXPECT_EQ(O.ImagePath, "/x=y");
  EXPECT_EQ(O.BlockSize, 4096u);
  EXPECT_EQ(O.ToolArgs, (Args{"-r"}));

  ASSERT_TRUE(ParseFrontEndOptions({}, &O, &E));
  EXPECT_TRUE(O.ToolArgs.empty());
}

// The front end tells its own mistyped words from the tool's long options by a list of the
// latter; every word on that list must be one the tool knows.
TEST(FrontEndOptions, ToolLongOptionsPassThroughAndAreKnownToTheTool) {
  for (const char *Word : {"--board", "--bom", "--clear", "--fab", "--help", "--pylon", "--mm",
                           "--read", "--sandrel", "--write", "--debug", "--HELP"}) {
    FrontEndOptions O;
    std::string E;
    ASSERT_TRUE(ParseFrontEndOptions({Word}, &O, &E)) << Word;
    ASSERT_EQ(O.ToolArgs.size(), 1u);

    HostedFirmware Firmware;
    std::u16string Said;
    Firmware.ConsoleSink = [&Said](const std::u16string &Text) { Said += Text; };
    Firmware.InstallInPlatformContext();
    std::u16string Wide = WideText(Word);
    CHAR16 *Argv[] = {const_cast<CHAR16 *>(u"kestrel"), Wide.data(), nullptr};
    CliOptions Parsed{};
    ParseCommandLine(2, Argv, &Parsed);
    EXPECT_EQ(NarrowText(Said).find("Unknown!"), std::string::npos) << Word;
  }
}

TEST(FrontEndOptions, ExitStatusKeepsSmallCodesAndNeverTurnsAFailureIntoSuccess) {
  const std::pair<uint64_t, int> Rows[] = {
      {0, 0}, {2, 2}, {27, 27}, {255, 255}, {256, 255}, {~0ULL, 255}, {0x8000000000000000ULL, 255}};
  for (const auto &[Status, Exit] : Rows)
    EXPECT_EQ(ExitStatusOf(Status), Exit) << Status;
}

// --- The medium ------------------------------------------------------------------------------

TEST(Gpp1Medium, OnlyTheWholeOfBlockZeroIsEverWritten) {
  TempDir D;
  Bytes Original(4 * 512, 0x77);
  WriteFile(D.File("g.img"), Original);
  MediumError E;
  auto M = Gpp1Medium::OpenImage(D.File("g.img"), 512, &E);
  ASSERT_NE(M, nullptr);
  EXPECT_EQ(M->Size(), 2048u);
  EXPECT_FALSE(M->OpenedForWriting());

  Bytes Block(512, 0x11);
  EXPECT_FALSE(M->Write(512, Block.data(), 512));
  EXPECT_FALSE(M->Write(0, Block.data(), 256));
  EXPECT_FALSE(M->Write(0, Block.data(), 1024));
  EXPECT_EQ(ReadFile(D.File("g.img")), Original);
  EXPECT_FALSE(M->OpenedForWriting());

  ASSERT_TRUE(M->Write(0, Block.data(), 512));
  Bytes Expected = Original;
  std::fill(Expected.begin(), Expected.begin() + 512, 0x11);
  EXPECT_EQ(ReadFile(D.File("g.img")), Expected);
  Bytes Back(512);
  ASSERT_TRUE(M->Read(0, Back.data(), 512));
  EXPECT_EQ(Back, Block);
  EXPECT_EQ(M->LastBlock0(), Block);
}

TEST(Gpp1Medium, DefaultCandidatesAreTheCardsGpp1sLowestNumberFirst) {
  TempDir D;
  EXPECT_TRUE(FindGpp1Candidates(D.Path).empty());
  for (const char *Name : {"mmcblk10gp0", "mmcblk2gp0", "mmcblk0boot0", "mmcblk1gp1", "mmcblk0",
                           "mmcblkgp0", "mmcblk3gp0p1"})
    WriteFile(D.File(Name), {});
  EXPECT_EQ(FindGpp1Candidates(D.Path), (Args{D.File("mmcblk2gp0"), D.File("mmcblk10gp0")}));
  EXPECT_TRUE(FindGpp1Candidates(D.File("absent")).empty());
}

// The kernel's word on a block device, as its resolved sysfs path gives it: GPP1 is a disk the
// eMMC driver names mmcblkNgp0 whose first PCI function is device 28, on any domain, bus or
// function; later functions on the path play no part. An empty description is not checked.
TEST(BlockDeviceIdentity, OnlyAGpp1WhoseFirstPciFunctionIsDevice28IsTheBoards) {
  const std::string Card = "/mmc_host/mmc0/mmc0:0001/block/", Pci = "/devices/pci0000:00/0000:00:";
  const std::string NotController = ", not the board's eMMC controller, PCI device 28";
  const struct {
    std::string Path;
    bool Board;
    std::string Described;
  } Rows[] = {
      // clang-format off
      {Pci + "1c.0" + Card + "mmcblk0gp0", true, "the kernel calls it mmcblk0gp0"},
      {"/devices/pci0001:40/0001:40:1C.7" + Card + "mmcblk12gp0", true,
       "the kernel calls it mmcblk12gp0"},
      {"/devices/pci10000:00/10000:00:1c.0" + Card + "mmcblk0gp0", true, ""},
      {Pci + "1c.3/0000:01:09.1" + Card + "mmcblk0gp0", true, ""},
      {Pci + "14.0/0000:01:1c.0" + Card + "mmcblk1gp0", false,
       "the kernel calls it mmcblk1gp0, behind PCI function 0000:00:14.0" + NotController},
      // Not a function sysfs names: the device number in three digits, the bus in one.
      {Pci + "01c.0" + Card + "mmcblk0gp0", false,
       "the kernel calls it mmcblk0gp0, on no PCI function" + NotController},
      {"/devices/pci0000:00/0000:0:1c.0" + Card + "mmcblk0gp0", false, ""},
      {"/devices/platform/80860F14:00" + Card + "mmcblk0gp0", false,
       "the kernel calls it mmcblk0gp0, on no PCI function" + NotController},
      {Pci + "1c.0" + Card + "mmcblk0gp1", false, "the kernel calls it mmcblk0gp1"},
      {Pci + "1c.0" + Card + "mmcblk0boot0", false, ""},
      {Pci + "1c.0" + Card + "mmcblk0", false, ""},
      {Pci + "1c.0" + Card + "mmcblk0gp0/mmcblk0gp0p1", false, "the kernel calls it mmcblk0gp0p1"},
      {"/devices/virtual/block/loop0", false, "the kernel calls it loop0"},
      {"/devices/virtual/block/loop0/loop0p1", false, "the kernel calls it loop0p1"},
      {Pci + "14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda", false,
       "the kernel calls it sda"},
      {Pci + "1c.0/block/sdb", false, "the kernel calls it sdb"},
      {"", false, "the kernel does not say what it is"},
      // clang-format on
  };
  for (const auto &R : Rows) {
    BlockDeviceIdentity Identity = IdentityFromSysfsPath(R.Path);
    EXPECT_EQ(IsBoardGpp1(Identity), R.Board) << R.Path;
    if (!R.Described.empty())
      EXPECT_EQ(DescribeIdentity(Identity), R.Described) << R.Path;
  }
}

// Two media on one image hold its lock as two runs would: readers share it, a writer has it
// alone, and a run that cannot get it gives up after its wait with nothing read or written.
TEST(Gpp1Medium, TheLockLetsReadersShareAndAWriterGoAlone) {
  TempDir D;
  const std::string Image = D.File("g.img");
  WriteFile(Image, Bytes(512, 0x33));
  MediumError E;
  auto First = Gpp1Medium::OpenImage(Image, 512, &E);
  auto Second = Gpp1Medium::OpenImage(Image, 512, &E);
  ASSERT_EQ(First->Lock(false, 0), LockResult::Locked);
  EXPECT_EQ(Second->Lock(false, 0), LockResult::Locked);
  Second = Gpp1Medium::OpenImage(Image, 512, &E);
  EXPECT_EQ(Second->Lock(true, 50), LockResult::Busy);
  First.reset();
  EXPECT_EQ(Second->Lock(true, 0), LockResult::Locked);

  Bytes Before = ReadFile(Image);
  for (const Args &Words : {Example, Args{"-r"}, Args{"-c"}}) {
    Outcome R = Kestrel(With({"--image", Image}, Words), "/dev", false, 50);
    EXPECT_EQ(R.Status, 7) << Words[0];
    EXPECT_EQ(R.Out, "");
    EXPECT_EQ(R.Err, "kestrel: GPP1 is in use by another process; nothing was read or written\n");
  }
  EXPECT_EQ(ReadFile(Image), Before);
}

// The console is passed on one OutputString text at a time; a CR LF split between two texts is
// still one line end, and a CR with no LF after it is still shown as '?'.
TEST(ConsoleConverter, LineEndsSplitBetweenTextsComeOutAsTheWholeConsoleWould) {
  const std::pair<std::vector<std::u16string>, std::string> Rows[] = {
      {{u"a\r", u"\nb"}, "a\nb"},
      {{u"a\r", u"b\r\n"}, "a?b\n"},
      {{u"a\r"}, "a?"},
      {{u"\r", u"\r", u"\n"}, "?\n"},
      {{u"x", u"", u"\r\n"}, "x\n"}};
  for (const auto &[Texts, Expected] : Rows) {
    ConsoleConverter Converter;
    std::string Streamed;
    for (const auto &Text : Texts)
      Streamed += Converter.Feed(Text);
    EXPECT_EQ(Streamed + Converter.Finish(), Expected);
  }
}

// --- JSON ------------------------------------------------------------------------------------

TEST(RecordJson, TextsAreEscapedIntoPlainAsciiJson) {
  EXPECT_EQ(JsonString("ab"), "\"ab\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString(std::string("\x01\t\n\x7f\xe9", 5)),
            "\"\\u0001\\u0009\\u000a\\u007f\\u00e9\"");
  EXPECT_EQ(JsonString(""), "\"\"");
}

// --- Whole runs --------------------------------------------------------------------------

class ImageRun : public ::testing::Test {
protected:
  void SetUp() override { WriteFile(Image, Bytes(8 * 512, 0xEE)); }
  Outcome Run(const Args &Words) { return Kestrel(With({"--image", Image}, Words)); }
  TempDir Dir;
  std::string Image = Dir.File("gpp1.img");
};

// Text is empty when Expected is; a front-end error is one line starting with Expected; any
// other Expected is found in Text.
void ExpectText(const std::string &Text, const std::string &Expected) {
  if (Expected.empty()) {
    EXPECT_EQ(Text, "");
  } else if (Expected.rfind("kestrel: ", 0) == 0) {
    EXPECT_EQ(Text.rfind(Expected, 0), 0u) << Text;
    EXPECT_EQ(Text.find('\n'), Text.size() - 1) << Text;
  } else {
    EXPECT_THAT(Text, HasSubstr(Expected));
  }
}

// Runs refused by the front end or by the tool, and reads of a block that holds no record: each
// ends with its status and says why on the stream it belongs to (a front-end error in one line,
// before anything is opened), and none changes the image, an image of no whole number of blocks,
// a backup that exists, or the board's own GPP1 (a file standing in for it, which a run without
// a medium would find). A front-end option among the tool's words is refused however spelled.
TEST_F(ImageRun, RefusalsChangeNothingAndSayWhyOnTheRightStream) {
  TempDir Dev;
  const std::string Gpp1 = Dev.File("mmcblk0gp0"), Odd = Dir.File("odd.img"), I = Image;
  const std::string Empty = Dir.File("empty.img"), Small = Dir.File("small.img");
  const std::string Exists = Dir.File("exists.bin"), Backup = Dir.File("b.bin");
  const std::string Absent = Dir.File("absent.img"), Missing = Dir.File("missing");
  WriteFile(Gpp1, Bytes(4 * 512, 0x77));
  WriteFile(Odd, Bytes(1000, 0xEE)); // no whole number of blocks at any block size
  WriteFile(Empty, {});
  WriteFile(Small, Bytes(2048));
  WriteFile(Exists, {9});
  const Bytes Before = ReadFile(Image), Gpp1Before = ReadFile(Gpp1), OddBefore = ReadFile(Odd);
  const Args W = {"-w", "-p", "X", "-m", "1"};
  const std::string Protected = "ERROR: eMMC GPP1 is still write protected!\n";
  const std::string Pow = " is not a power of two from 512 to 65536";
  const auto Holds = [](const std::string &File, int Size, int Block) {
    return "kestrel: image " + File + " holds " + std::to_string(Size) +
           " bytes, not a whole number of " + std::to_string(Block) + "-byte blocks";
  };
  const auto Misplaced = [](const std::string &Word) {
    return "kestrel: " + Word + " is a front-end option: it must come before the tool's options";
  };
  struct Row {
    Args Words;
    int Status;
    std::string Out, Err; // see ExpectText
  };
  std::vector<Row> Rows = {
      // clang-format off
      // The tool's refusals and reads, through the front end.
      {{"--image", I}, 2, "ERROR: Invalid CLI option(s)!\n", ""},
      {{"--image", I, "-w", "-p", "1"}, 2,
       "ERROR: You can't write without both Pylon Serial # and MM #!\n", ""},
      {{"--image", I, "-w", "-p", "caf\xc3\xa9", "-m", "1"}, 2,
       "ERROR: Pylon Serial # \"caf\xc3\xa9\" can hold only", ""},
      {{"--image", I, "-r", "-\xe2\x82\xac"}, 10, "Unknown! - Argv[2]: \"-\xe2\x82\xac\"\n", ""},
      {With({"--image", I, "--write-protect", "--backup", Backup}, Example), 8, Protected, ""},
      {{"--image", I, "--write-protect", "-c"}, 8, Protected, ""},
      {With({"--image", I, "--json", "--write-protect"}, Example), 8, "", "write protected"},
      {{"--image", I, "--json", "-w", "-p", "1", "-m", "2", "-b", "x"}, 2, "",
       "ERROR: Board ID \"x\" is not a hexadecimal number"},
      {{"--image", I, "-r", "--then", "off"}, 2, "", "kestrel: --wait and --then end a run"},
      // A log that is the medium, or the block to restore under another name.
      {{"--image", I, "-r", "--log", I}, 2, "",
       "kestrel: --log " + I + " is the medium itself; nothing was read or written"},
      {{"--image", I, "--restore", Exists, "--log", Dir.Path + "/./exists.bin"}, 2, "",
       "kestrel: --log " + Dir.Path + "/./exists.bin is the file to restore"},
      // Media that cannot be GPP1.
      {{"--image", Odd, "-c"}, 2, "", Holds(Odd, 1000, 512)},
      {{"--image", Odd, "--block-size", "4096", "-c"}, 2, "", Holds(Odd, 1000, 4096)},
      {{"--image", Odd, "--backup", Exists, "-c"}, 2, "", Holds(Odd, 1000, 512)},
      {{"--image", Empty, "-c"}, 2, "", Holds(Empty, 0, 512)},
      {{"--image", Small, "--block-size", "4096", "-c"}, 2, "", Holds(Small, 2048, 4096)},
      {{"--image", Absent, "-c"}, 2, "",
       "kestrel: cannot open image " + Absent + ": No such file or directory\n"},
      {{"--image", Dir.Path, "-c"}, 2, "", "kestrel: image " + Dir.Path + " is not a regular file"},
      {{"--device", Odd, "-c"}, 2, "", "kestrel: " + Odd + " is not a block device"},
      {{"--device", "/dev/null", "-c"}, 2, "", "kestrel: /dev/null is not a block device"},
      {{"--device", Missing, "-r"}, 7, "", "kestrel: cannot open device " + Missing +
       ": No such file or directory; GPP1 cannot be found\n"},
      // The front end's own words, misused.
      {{"--imag", "a.img", "-r"}, 2, "", "kestrel: unknown option --imag"},
      {{"--image", Odd, "--bogus", "-c"}, 2, "", "kestrel: unknown option --bogus"},
      {{"--image"}, 2, "", "kestrel: --image needs a value"},
      {{"--image=", "-r"}, 2, "", "kestrel: --image needs a value"},
      {{"--json=yes", "-r"}, 2, "", "kestrel: --json takes no value"},
      {{"--image", "a", "--device", "/dev/x"}, 2, "",
       "kestrel: --device and --image exclude each other"},
      {{"--image", "a", "--image", "b"}, 2, "", "kestrel: --image given twice"},
      {{"--force", "-r"}, 2, "", "kestrel: --force applies to --device only"},
      {{"--device", "/dev/x", "--block-size", "512"}, 2, "",
       "kestrel: --block-size applies to --image only"},
      {{"--image", I, "--block-size", "0x200", "-c"}, 2, "",
       "kestrel: --block-size 0x200 is not a decimal number"},
      {{"--image", I, "--block-size", "256", "-c"}, 2, "", "kestrel: --block-size 256" + Pow},
      {{"--image", I, "--block-size", "131072", "-c"}, 2, "", "kestrel: --block-size 131072" + Pow},
      {{"--image", I, "--block-size", "3000", "-c"}, 2, "", "kestrel: --block-size 3000" + Pow},
      {{"--image", I, "--block-size", "1000", "-c"}, 2, "", "kestrel: --block-size 1000" + Pow},
      {{"--image", I, "--block-size", "0001000", "-c"}, 2, "",
       "kestrel: --block-size 0001000" + Pow},
      {{"--image", I, "--block-size", "99999999999999999999999", "-c"}, 2, "",
       "kestrel: --block-size 99999999999999999999999" + Pow},
      {{"-c", "--image", I}, 2, "", Misplaced("--image")},
      {{"-r", "--image", "a.img"}, 2, "", Misplaced("--image")},
      {With({"--", "--image", I}, W), 2, "", Misplaced("--image")},
      {With(W, {"--image=" + I}), 2, "", Misplaced("--image=" + I)},
      {With(W, {"--IMAGE", I}), 2, "", Misplaced("--IMAGE")},
      {With(W, {"-image", I}), 2, "", Misplaced("-image")},
      {With(W, {"--Json"}), 2, "", Misplaced("--Json")},
      {With(W, {"--write-protect"}), 2, "", Misplaced("--write-protect")},
      {{"-c", "-block-size=512"}, 2, "", Misplaced("-block-size=512")},
      {{"-r", "--force"}, 2, "", Misplaced("--force")},
      // clang-format on
  };
  // Arguments that are not UTF-8 cannot reach the tool as the characters given.
  for (const char *Bad : {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf0\x9f\x98\x80"})
    Rows.push_back({{"--image", I, "-w", "-p", Bad, "-m", "1"}, 2, "", "kestrel: "});
  for (const Row &Row : Rows) {
    SCOPED_TRACE(::testing::PrintToString(Row.Words));
    Outcome R = Kestrel(Row.Words, Dev.Path, true);
    EXPECT_EQ(R.Status, Row.Status) << R.Out << R.Err;
    EXPECT_EQ(R.Out.find("ERROR: "), R.Out.rfind("ERROR: ")) << "said twice: " << R.Out;
    ExpectText(R.Out, Row.Out);
    ExpectText(R.Err, Row.Err);
  }
  EXPECT_EQ(ReadFile(Image), Before);
  EXPECT_EQ(ReadFile(Gpp1), Gpp1Before);
  EXPECT_EQ(ReadFile(Odd), OddBefore);
  EXPECT_TRUE(ReadFile(Empty).empty());
  EXPECT_EQ(ReadFile(Small), Bytes(2048));
  EXPECT_EQ(ReadFile(Exists), Bytes{9});
  EXPECT_FALSE(fs::exists(Backup));

  // In front, the same spellings are the front end's own; a block size's number is the same
  // however it is written.
  EXPECT_EQ(Kestrel(With({"--image=" + Image}, W), Dev.Path, true).Status, 0);
  EXPECT_EQ(ReadFile(Gpp1), Gpp1Before);
  EXPECT_NE(ReadFile(Image), Before);
  EXPECT_EQ(Run({"--block-size", "000512", "-r"}).Status, 0);
}

TEST_F(ImageRun, ReadsAndHelpNeverOpenTheMediumForWriting) {
  for (const Args &Words : {Args{"-r"}, Args{"-h"}, Args{"-r", "--debug"}, Args{"-x"}}) {
    MediumError E;
    auto M = Gpp1Medium::OpenImage(Image, 512, &E);
    ASSERT_NE(M, nullptr);
    HostBoard Board(M.get(), 512, false);
    std::vector<std::u16string> Wide = {u"kestrel"};
    for (const std::string &Word : Words)
      Wide.push_back(WideText(Word));
    std::vector<CHAR16 *> Argv;
    for (std::u16string &Word : Wide)
      Argv.push_back(Word.data());
    ToolRequest Request;
    ParseToolRequest(Argv.size(), Argv.data(), &Request);
    Board.Run(Request);
    EXPECT_FALSE(M->OpenedForWriting()) << Words[0];
    EXPECT_EQ(M->WritesAttempted(), 0u);
  }
}

TEST_F(ImageRun, WithoutAnyGpp1TheToolReportsAMissingPartition) {
  TempDir NoDevices;
  Expect(Kestrel({"-r"}, NoDevices.Path), 7,
         "ERROR: Failed to find partition!\nERROR: Failed to open eMMC driver!\n");
}

// A write, its read-back as display lines and as JSON (which then takes stdout, the console
// going to stderr), and a clear, through the tool to the file.
TEST_F(ImageRun, WriteReadJsonAndClearGoThroughTheToolToTheFile) {
  Outcome W = Expect(Run(With({"--"}, With(Example, {"-b", "1a", "-f", "0x2"}))), 0,
                     "- Verifying binary image...\nOperation successful!\n");
  EXPECT_EQ(W.Out.find('\r'), std::string::npos);
  EXPECT_EQ(W.Err, "");
  Bytes Disk = ReadFile(Image);
  EXPECT_EQ(std::string(Disk.begin(), Disk.begin() + 8), "$Eeprom$");
  EXPECT_TRUE(AllAre(Disk.begin() + 176, Disk.begin() + 512, 0));
  EXPECT_TRUE(AllAre(Disk.begin() + 512, Disk.end(), 0xEE));

  Outcome R = Expect(Run({"--json", "-r"}), 0);
  const std::string Crc = std::to_string(LoadLe32(Disk.data() + RecordOffset::Crc32));
  EXPECT_EQ(R.Out,
            R"({"blank":false,"module_serial":"12345678        ",)"
            R"("mm_number":"09876           ","carrier_serial":"87654321        ",)"
            R"("board_id":26,"board_id_text":"0000001A","fab_id":2,"fab_id_text":"00000002",)"
            R"("bom_id":4294967295,"bom_id_text":"FFFFFFFF","vendor":"Vexor",)"
            R"("product":"Pylon","crc_stored":)" +
                Crc + R"(,"crc_computed":)" + Crc + R"(,"crc_matches":true})" + "\n");
  Outcome Read = Expect(Run({"-r"}), 0, "           Pylon Serial   #12345678        \n");
  EXPECT_THAT(Read.Out, HasSubstr("\n           Pylon Board ID  0000001A\n"));
  EXPECT_EQ(R.Err, Read.Out);
  // An unknown word is named, and the read goes on.
  Expect(Run({"-x", "-r"}), 0, "Unknown! - Argv[1]: \"-x\"\n");

  // A damaged record still shows, with the mismatch, and the status of the plain read.
  Disk[RecordOffset::ModuleSerial] = '"';
  WriteFile(Image, Disk);
  Expect(Run({"-r"}), 10);
  Outcome Bad = Expect(Run({"--json", "-r"}), 10);
  EXPECT_THAT(Bad.Out, HasSubstr("\"module_serial\":\"\\\"2345678        \""));
  EXPECT_THAT(Bad.Out, HasSubstr("\"crc_matches\":false}"));
  EXPECT_THAT(Bad.Err, HasSubstr("ERROR: GPP1 data is corrupted! CRC32 fails.\n"));

  // A cleared block is a blank record, with empty texts.
  EXPECT_EQ(Run({"-c"}).Status, 0);
  Disk = ReadFile(Image);
  EXPECT_TRUE(AllAre(Disk.begin(), Disk.begin() + 512, 0));
  EXPECT_THAT(Expect(Run({"--json", "-r"}), 0).Out,
              HasSubstr(R"({"blank":true,"module_serial":"","mm_number":"","carrier_serial":"",)"));
}

// Arguments are UTF-8 on Linux and reach the tool as the UCS-2 a shell would hand it (see the
// refusals above); the console comes back as UTF-8, and record bytes that would steer a
// terminal show as '?'.
TEST_F(ImageRun, TextCrossesTheFrontEndAsUtf8AndNeverSteersTheTerminal) {
  // A record written by something else, with an escape sequence, DEL and a C1 control.
  ASSERT_EQ(Run(Example).Status, 0);
  Bytes Disk = ReadFile(Image);
  const uint8_t Steering[] = {0x1B, '[', '2', 'J', 0x7F, 0x85, '\t', 0xE9, 0x00, 'Z'};
  std::copy(std::begin(Steering), std::end(Steering), Disk.begin() + RecordOffset::ModuleSerial);
  StoreLe32(Disk.data() + RecordOffset::Crc32, 0);
  uint32_t Crc = 0;
  HostedFirmware().BootServices.CalculateCrc32(Disk.data(), BoardRecordSize, &Crc);
  StoreLe32(Disk.data() + RecordOffset::Crc32, Crc);
  WriteFile(Image, Disk);
  Expect(Run({"-r"}), 0, "Pylon Serial   #?[2J??\t\xc3\xa9\n");
  EXPECT_THAT(
      Run({"--json", "-r"}).Out,
      HasSubstr("\"module_serial\":\"\\u001b[2J\\u007f\\u0085\\u0009\\u00e9\\u0000Z      \""));
}

// The tool's backup on Linux files: whole before the write, or the run stops with a line naming
// the backup (never the medium); a run that writes nothing leaves no backup; a restore of it
// gives the image back byte for byte; no temporary is left beside it.
TEST_F(ImageRun, BackupsNameTheBackupAreNotLeftUnneededAndRestoreByteForByte) {
  Bytes Before = ReadFile(Image);
  const std::string Backup = Dir.File("b.bin"), Unreachable = Dir.File("no/dir/b.bin");
  Expect(Run(With({"--backup", Unreachable}, Example)), 0x40,
         "ERROR: Cannot create backup " + Unreachable + ": Not Found!\n");
  EXPECT_EQ(Run({"--backup", Backup, "-w", "-p", "1", "-m", "1", "--if-serial", "2"}).Status, 21);
  EXPECT_FALSE(fs::exists(Backup));
  EXPECT_EQ(ReadFile(Image), Before);

  EXPECT_EQ(Run(With({"--backup", Backup}, Example)).Status, 0);
  EXPECT_EQ(ReadFile(Backup), Bytes(Before.begin(), Before.begin() + 512));
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir.Path), fs::directory_iterator()), 2);
  // A taken name is never overwritten: the block goes under the next free one.
  Expect(Run(With({"--backup", Backup}, Example)), 0,
         "- " + Backup + " is taken: the block is kept in " + Dir.File("b-2.bin") + ".\n");
  EXPECT_EQ(ReadFile(Backup), Bytes(Before.begin(), Before.begin() + 512));
  Expect(Run({"--restore", Backup}), 0);
  EXPECT_EQ(ReadFile(Image), Before);
  EXPECT_EQ(OpenLinuxFiles(), 0u);
}

// Standard input holding Text while it lives, as a station's scanner types into a terminal.
class TypedInput {
public:
  explicit TypedInput(const std::string &Text) : Saved(dup(STDIN_FILENO)) {
    int Pipe[2];
    EXPECT_EQ(pipe(Pipe), 0);
    EXPECT_EQ(write(Pipe[1], Text.data(), Text.size()), static_cast<ssize_t>(Text.size()));
    close(Pipe[1]);
    dup2(Pipe[0], STDIN_FILENO);
    close(Pipe[0]);
  }
  ~TypedInput() {
    dup2(Saved, STDIN_FILENO);
    close(Saved);
  }

private:
  int Saved;
};

// A station job on Linux: its values on the command line or typed on standard input at prompts
// on standard error; its files in the current folder; a value that looks like a front-end option
// is the tool's to refuse and log.
TEST_F(ImageRun, StationJobsTakeValuesFromTheCommandLineOrStandardInput) {
  const fs::path Was = fs::current_path();
  fs::current_path(Dir.Path);
  WriteFile(Image, Bytes(8 * 512, 0));
  Outcome Job = Expect(Run({"--json", "--provision", "12345678", "09876", "87654321"}), 0);
  EXPECT_EQ(Job.Out, Run({"--json", "-r"}).Out);
  EXPECT_THAT(Job.Err, HasSubstr("   PASS: provision of 12345678: ok (status 0x0)\n"));
  EXPECT_EQ(ReadFile(Dir.File("12345678.bin")), Bytes(512, 0));
  Expect(Run({"--inspect", "12345678"}), 0, "- Saving the record to 12345678.json...\n");
  EXPECT_THAT(Run({"--provision", "22222222", "--json"}).Out,
              HasSubstr("ERROR: MM # \"--json\" starts with '-'"));
  {
    TypedInput Typed("1234 5678\n22222222\n09876\n");
    Outcome Asked = Expect(Run({"--rework"}), 2, "ERROR: Old Pylon Serial # \"1234 5678\" holds");
    EXPECT_THAT(Asked.Err, HasSubstr("Old Pylon serial: 1234 5678\nOld Pylon serial: 22222222\n"
                                     "Pylon serial: 09876\nMM: \n"));
  }
  {
    TypedInput Typed("12345678\n33333333\r\n09876\n");
    Expect(Run({"--rework"}), 0, "   PASS: rework of 33333333: ok (status 0x0)\n");
  }
  const Bytes Log = ReadFile(Dir.File("provision.log"));
  EXPECT_EQ(std::count(Log.begin(), Log.end(), '\n'), 5);
  fs::current_path(Was);
}

// --json after a verified write shows what was read back; help ends with the front end's own
// options; --version is one line.
TEST_F(ImageRun, JsonAfterAWriteHelpAndVersion) {
  Outcome W = Expect(Run(With({"--json"}, Example)), 0);
  EXPECT_EQ(W.Out, Run({"--json", "-r"}).Out);
  EXPECT_THAT(W.Err, HasSubstr("Operation successful!\n"));

  Outcome H = Expect(Kestrel({"-h"}), 0, "Operation successful!\n\n Linux front end (kestrel)");
  EXPECT_THAT(H.Out, HasSubstr(" --backup        File"));
  EXPECT_EQ(Expect(Kestrel({"--version"}), 0).Out, "kestrel 1.01.00\n");
}

} // namespace
