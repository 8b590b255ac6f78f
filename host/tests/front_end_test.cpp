// The Linux front end in process: its options, the file medium's safety rules, the JSON view and
// whole runs over image files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/board_record.h"
#include "app/command_line.h"
#include "host/block_device_identity.h"
#include "host/front_end.h"
#include "host/front_end_options.h"
#include "host/gpp1_medium.h"
#include "host/host_files.h"
#include "host/host_board.h"
#include "host/record_json.h"
#include "sim/sim_firmware.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> Example = {"-w", "-p", "12345678", "-s", "87654321", "-m", "09876"};

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

void WriteFile(const std::string &Path, const std::vector<uint8_t> &Bytes) {
  std::ofstream F(Path, std::ios::binary | std::ios::trunc);
  F.write(reinterpret_cast<const char *>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string &Path) {
  std::ifstream F(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(F), {});
}

std::vector<std::string> With(std::vector<std::string> Front,
                              const std::vector<std::string> &Tail) {
  Front.insert(Front.end(), Tail.begin(), Tail.end());
  return Front;
}

struct Outcome {
  int Status;
  std::string Out;
  std::string Err;
};

// One invocation of the front end with stdout and stderr captured.
Outcome Kestrel(const std::vector<std::string> &Args, const std::string &DeviceDir = "/dev",
                bool DefaultMayBeFile = false, int LockWaitMilliseconds = 0) {
  char *OutText = nullptr, *ErrText = nullptr;
  size_t OutSize = 0, ErrSize = 0;
  FILE *Out = open_memstream(&OutText, &OutSize);
  FILE *Err = open_memstream(&ErrText, &ErrSize);
  FrontEndPlatform Platform{DeviceDir, DefaultMayBeFile, "/sys", LockWaitMilliseconds};
  int Status = RunFrontEnd(Args, Out, Err, Platform);
  fclose(Out);
  fclose(Err);
  Outcome R{Status, std::string(OutText, OutSize), std::string(ErrText, ErrSize)};
  free(OutText);
  free(ErrText);
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
  EXPECT_EQ(O.ToolArgs, (std::vector<std::string>{"--backup", "b.bin", "-R", "--Debug", "x"}));

  // "--" ends the front end's part; the "=" form gives a value in the same word.
  ASSERT_TRUE(ParseFrontEndOptions({"--image=/x=y", "--block-size=0004096", "--", "-r"}, &O, &E));
  EXPECT_EQ(O.ImagePath, "/x=y");
  EXPECT_EQ(O.BlockSize, 4096u);
  EXPECT_EQ(O.ToolArgs, (std::vector<std::string>{"-r"}));

  ASSERT_TRUE(ParseFrontEndOptions({}, &O, &E));
  EXPECT_TRUE(O.ToolArgs.empty());
}

TEST(FrontEndOptions, UsageErrorsAreRefused) {
  const std::vector<std::vector<std::string>> Bad = {
      {"--imag", "a.img", "-r"},                // mistyped front-end option
      {"--image"},                              // value missing
      {"--image", "a", "--device", "/dev/x"},   // both media
      {"--image", "a", "--image", "b"},         // twice
      {"--image", "a", "--block-size", "1000"}, // not a power of two
      {"--image", "a", "--block-size", "256"},  // below an eMMC sector
      {"--image", "a", "--block-size", "131072"},
      {"--image", "a", "--block-size", "0x200"},
      {"--device", "/dev/x", "--block-size", "512"}, // a device's size is the kernel's
      {"-r", "--image", "a.img"},                    // front-end option after the tool's
      {"-w", "-p", "1", "-m", "2", "--write-protect"},
      {"--json=yes", "-r"}, // a flag given a value
      {"--image=", "-r"},   // an empty value
      {"--force", "-r"},    // the default search never forces
      {"-r", "--force"},
  };
  for (const auto &Args : Bad) {
    FrontEndOptions O;
    std::string E;
    EXPECT_FALSE(ParseFrontEndOptions(Args, &O, &E)) << Args[0] << " " << Args.back();
    EXPECT_FALSE(E.empty());
    EXPECT_EQ(E.find('\n'), std::string::npos);
  }
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

    SimFirmware Sim;
    Sim.InstallInPlatformContext();
    std::u16string Wide = WideText(Word);
    CHAR16 *Argv[] = {const_cast<CHAR16 *>(u"kestrel"), Wide.data(), nullptr};
    CliOptions Parsed{};
    ParseCommandLine(2, Argv, &Parsed);
    EXPECT_EQ(Sim.ConsoleText().find("Unknown!"), std::string::npos) << Word;
  }
}

TEST(FrontEndOptions, ExitStatusKeepsSmallCodesAndNeverTurnsAFailureIntoSuccess) {
  EXPECT_EQ(ExitStatusOf(0), 0);
  EXPECT_EQ(ExitStatusOf(2), 2);
  EXPECT_EQ(ExitStatusOf(27), 27);
  EXPECT_EQ(ExitStatusOf(255), 255);
  EXPECT_EQ(ExitStatusOf(256), 255);
  EXPECT_EQ(ExitStatusOf(~0ULL), 255);
  EXPECT_EQ(ExitStatusOf(0x8000000000000000ULL), 255);
}

// --- The medium ------------------------------------------------------------------------------

TEST(Gpp1Medium, ImagesThatCannotBeGpp1AreRefusedWhenOpened) {
  TempDir D;
  MediumError E;
  EXPECT_EQ(Gpp1Medium::OpenImage(D.File("missing.img"), 512, &E), nullptr);
  EXPECT_NE(E.Message.find("No such file"), std::string::npos) << E.Message;
  WriteFile(D.File("odd.img"), std::vector<uint8_t>(1000));
  EXPECT_EQ(Gpp1Medium::OpenImage(D.File("odd.img"), 512, &E), nullptr);
  EXPECT_NE(E.Message.find("1000 bytes"), std::string::npos) << E.Message;
  WriteFile(D.File("empty.img"), {});
  EXPECT_EQ(Gpp1Medium::OpenImage(D.File("empty.img"), 512, &E), nullptr);
  WriteFile(D.File("small.img"), std::vector<uint8_t>(2048));
  EXPECT_EQ(Gpp1Medium::OpenImage(D.File("small.img"), 4096, &E), nullptr);
  EXPECT_EQ(Gpp1Medium::OpenImage(D.Path, 512, &E), nullptr);
  EXPECT_EQ(Gpp1Medium::OpenDevice(D.File("small.img"), "/sys", &E), nullptr);
  EXPECT_NE(E.Message.find("not a block device"), std::string::npos) << E.Message;
}

TEST(Gpp1Medium, OnlyTheWholeOfBlockZeroIsEverWritten) {
  TempDir D;
  std::vector<uint8_t> Original(4 * 512, 0x77);
  WriteFile(D.File("g.img"), Original);
  MediumError E;
  auto M = Gpp1Medium::OpenImage(D.File("g.img"), 512, &E);
  ASSERT_NE(M, nullptr);
  EXPECT_EQ(M->Size(), 2048u);
  EXPECT_FALSE(M->OpenedForWriting());

  std::vector<uint8_t> Block(512, 0x11);
  EXPECT_FALSE(M->Write(512, Block.data(), 512));
  EXPECT_FALSE(M->Write(0, Block.data(), 256));
  EXPECT_FALSE(M->Write(0, Block.data(), 1024));
  EXPECT_EQ(ReadFile(D.File("g.img")), Original);
  EXPECT_FALSE(M->OpenedForWriting());

  ASSERT_TRUE(M->Write(0, Block.data(), 512));
  std::vector<uint8_t> Expected = Original;
  std::fill(Expected.begin(), Expected.begin() + 512, 0x11);
  EXPECT_EQ(ReadFile(D.File("g.img")), Expected);
  std::vector<uint8_t> Back(512);
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
  EXPECT_EQ(FindGpp1Candidates(D.Path),
            (std::vector<std::string>{D.File("mmcblk2gp0"), D.File("mmcblk10gp0")}));
  EXPECT_TRUE(FindGpp1Candidates(D.File("absent")).empty());
}

// The kernel's word on a block device, as its resolved sysfs path gives it: GPP1 is a disk the
// eMMC driver names mmcblkNgp0 whose first PCI function is device 28, on any domain, bus or
// function; later functions on the path play no part.
TEST(BlockDeviceIdentity, OnlyAGpp1WhoseFirstPciFunctionIsDevice28IsTheBoards) {
  const std::string Card = "/mmc_host/mmc0/mmc0:0001/block/";
  struct Row {
    std::string Path;
    bool Board;
    std::string Described;
  };
  const Row Rows[] = {
      {"/devices/pci0000:00/0000:00:1c.0" + Card + "mmcblk0gp0", true,
       "the kernel calls it mmcblk0gp0"},
      {"/devices/pci0001:40/0001:40:1C.7" + Card + "mmcblk12gp0", true,
       "the kernel calls it mmcblk12gp0"},
      {"/devices/pci10000:00/10000:00:1c.0" + Card + "mmcblk0gp0", true, ""},
      {"/devices/pci0000:00/0000:00:1c.3/0000:01:09.1" + Card + "mmcblk0gp0", true, ""},
      {"/devices/pci0000:00/0000:00:14.0/0000:01:1c.0" + Card + "mmcblk1gp0", false,
       "the kernel calls it mmcblk1gp0, behind PCI function 0000:00:14.0, not the board's eMMC "
       "controller, PCI device 28"},
      {"/devices/platform/80860F14:00" + Card + "mmcblk0gp0", false,
       "the kernel calls it mmcblk0gp0, on no PCI function, not the board's eMMC controller, PCI "
       "device 28"},
      {"/devices/pci0000:00/0000:00:1c.0" + Card + "mmcblk0gp1", false,
       "the kernel calls it mmcblk0gp1"},
      {"/devices/pci0000:00/0000:00:1c.0" + Card + "mmcblk0boot0", false, ""},
      {"/devices/pci0000:00/0000:00:1c.0" + Card + "mmcblk0", false, ""},
      {"/devices/pci0000:00/0000:00:1c.0" + Card + "mmcblk0gp0/mmcblk0gp0p1", false,
       "the kernel calls it mmcblk0gp0p1"},
      {"/devices/virtual/block/loop0", false, "the kernel calls it loop0"},
      {"/devices/virtual/block/loop0/loop0p1", false, "the kernel calls it loop0p1"},
      {"/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda",
       false, "the kernel calls it sda"},
      {"/devices/pci0000:00/0000:00:1c.0/block/sdb", false, "the kernel calls it sdb"},
      {"", false, "the kernel does not say what it is"},
  };
  for (const Row &R : Rows) {
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
  WriteFile(D.File("g.img"), std::vector<uint8_t>(512, 0x33));
  MediumError E;
  auto First = Gpp1Medium::OpenImage(D.File("g.img"), 512, &E);
  auto Second = Gpp1Medium::OpenImage(D.File("g.img"), 512, &E);
  ASSERT_EQ(First->Lock(false, 0), LockResult::Locked);
  EXPECT_EQ(Second->Lock(false, 0), LockResult::Locked);
  Second = Gpp1Medium::OpenImage(D.File("g.img"), 512, &E);
  EXPECT_EQ(Second->Lock(true, 50), LockResult::Busy);
  First.reset();
  EXPECT_EQ(Second->Lock(true, 0), LockResult::Locked);

  std::vector<uint8_t> Before = ReadFile(D.File("g.img"));
  for (const std::vector<std::string> &Args :
       {Example, std::vector<std::string>{"-r"}, std::vector<std::string>{"-c"}}) {
    Outcome R = Kestrel(With({"--image", D.File("g.img")}, Args), "/dev", false, 50);
    EXPECT_EQ(R.Status, 7) << Args[0];
    EXPECT_EQ(R.Out, "");
    EXPECT_EQ(R.Err, "kestrel: GPP1 is in use by another process; nothing was read or written\n");
  }
  EXPECT_EQ(ReadFile(D.File("g.img")), Before);
}

// The console is passed on one OutputString text at a time; a CR LF split between two texts is
// still one line end, and a CR with no LF after it is still shown as '?'.
TEST(ConsoleConverter, LineEndsSplitBetweenTextsComeOutAsTheWholeConsoleWould) {
  const std::vector<std::vector<std::u16string>> Cases = {
      {u"a\r", u"\nb"}, {u"a\r", u"b\r\n"}, {u"a\r"}, {u"\r", u"\r", u"\n"}, {u"x", u"", u"\r\n"}};
  const std::string Expected[] = {"a\nb", "a?b\n", "a?", "?\n", "x\n"};
  for (size_t I = 0; I < Cases.size(); I++) {
    ConsoleConverter Converter;
    std::string Streamed;
    for (const auto &Text : Cases[I])
      Streamed += Converter.Feed(Text);
    Streamed += Converter.Finish();
    EXPECT_EQ(Streamed, Expected[I]) << I;
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
  void SetUp() override {
    Image = Dir.File("gpp1.img");
    WriteFile(Image, std::vector<uint8_t>(8 * 512, 0xEE));
  }
  TempDir Dir;
  std::string Image;
};

TEST_F(ImageRun, WriteReadAndClearGoThroughTheToolToTheFile) {
  Outcome W = Kestrel(With({"--image", Image, "--"}, Example));
  EXPECT_EQ(W.Status, 0) << W.Err;
  EXPECT_NE(W.Out.find("- Verifying binary image...\nOperation successful!\n"), std::string::npos)
      << W.Out;
  EXPECT_EQ(W.Out.find('\r'), std::string::npos);
  EXPECT_EQ(W.Err, "");
  std::vector<uint8_t> Disk = ReadFile(Image);
  EXPECT_EQ(std::string(Disk.begin(), Disk.begin() + 8), "$Eeprom$");
  EXPECT_TRUE(
      std::all_of(Disk.begin() + 176, Disk.begin() + 512, [](uint8_t B) { return B == 0; }));
  EXPECT_TRUE(std::all_of(Disk.begin() + 512, Disk.end(), [](uint8_t B) { return B == 0xEE; }));

  Outcome R = Kestrel({"--image", Image, "-r"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("           Pylon Serial   #12345678        \n"), std::string::npos)
      << R.Out;

  Outcome C = Kestrel({"--image", Image, "-c"});
  EXPECT_EQ(C.Status, 0);
  Disk = ReadFile(Image);
  EXPECT_TRUE(std::all_of(Disk.begin(), Disk.begin() + 512, [](uint8_t B) { return B == 0; }));
}

TEST_F(ImageRun, WriteProtectionRefusesWithoutTouchingTheImage) {
  std::vector<uint8_t> Before = ReadFile(Image);
  Outcome W =
      Kestrel(With({"--image", Image, "--write-protect", "--backup", Dir.File("b.bin")}, Example));
  EXPECT_EQ(W.Status, 8);
  EXPECT_NE(W.Out.find("ERROR: eMMC GPP1 is still write protected!\n"), std::string::npos);
  Outcome C = Kestrel({"--image", Image, "--write-protect", "-c"});
  EXPECT_EQ(C.Status, 8);
  EXPECT_EQ(ReadFile(Image), Before);
  EXPECT_FALSE(fs::exists(Dir.File("b.bin")));
}

TEST_F(ImageRun, ReadsAndHelpNeverOpenTheMediumForWriting) {
  for (const std::vector<std::string> &Args :
       {std::vector<std::string>{"-r"}, {"-h"}, {"-r", "--debug"}, {"-x"}}) {
    MediumError E;
    auto M = Gpp1Medium::OpenImage(Image, 512, &E);
    ASSERT_NE(M, nullptr);
    HostBoard Board(M.get(), 512, false);
    Board.Run(Args);
    EXPECT_FALSE(M->OpenedForWriting()) << Args[0];
    EXPECT_EQ(M->WritesAttempted(), 0u);
  }
}

TEST_F(ImageRun, FrontEndErrorsWriteNothingAndSayOneLine) {
  // 8 blocks and 100 bytes: no whole number of blocks at any block size.
  WriteFile(Image, std::vector<uint8_t>(8 * 512 + 100, 0xEE));
  std::vector<uint8_t> Before = ReadFile(Image);
  WriteFile(Dir.File("b.bin"), {9});
  const std::vector<std::vector<std::string>> Bad = {
      {"--image", Image, "-c"},
      {"--image", Image, "--block-size", "4096", "-c"},
      {"--image", Dir.File("absent.img"), "-c"},
      {"--image", Image, "--bogus", "-c"},
      {"--image", Image, "--backup", Dir.File("b.bin"), "-c"},
      {"--device", Image, "-c"},
      {"--image", Dir.Path, "-c"},
  };
  for (const auto &Args : Bad) {
    Outcome R = Kestrel(Args);
    EXPECT_EQ(R.Status, FrontEndErrorExit) << Args[1] << " " << Args[2];
    EXPECT_EQ(R.Out, "");
    ASSERT_FALSE(R.Err.empty());
    EXPECT_EQ(R.Err.find('\n'), R.Err.size() - 1) << R.Err;
    EXPECT_EQ(R.Err.rfind("kestrel: ", 0), 0u) << R.Err;
  }
  EXPECT_EQ(ReadFile(Image), Before);
  EXPECT_EQ(ReadFile(Dir.File("b.bin")), std::vector<uint8_t>{9});
}

TEST_F(ImageRun, WithoutAnyGpp1TheToolReportsAMissingPartition) {
  TempDir NoDevices;
  Outcome R = Kestrel({"-r"}, NoDevices.Path);
  EXPECT_EQ(R.Status, 7);
  EXPECT_NE(R.Out.find("ERROR: Failed to find partition!\nERROR: Failed to open eMMC driver!\n"),
            std::string::npos)
      << R.Out;
}

TEST_F(ImageRun, JsonReplacesTheDisplayLinesOnStdout) {
  ASSERT_EQ(Kestrel(With(With({"--image", Image}, Example), {"-b", "1a", "-f", "0x2"})).Status, 0);

  Outcome R = Kestrel({"--image", Image, "--json", "-r"});
  EXPECT_EQ(R.Status, 0);
  std::vector<uint8_t> Disk = ReadFile(Image);
  uint32_t Crc = LoadLe32(Disk.data() + RecordOffset::Crc32);
  EXPECT_EQ(R.Out, "{\"blank\":false,\"module_serial\":\"12345678        \",\"mm_number\":\"09876           \","
                   "\"carrier_serial\":\"87654321        \",\"board_id\":26,\"board_id_text\":"
                   "\"0000001A\",\"fab_id\":2,\"fab_id_text\":\"00000002\",\"bom_id\":4294967295,"
                   "\"bom_id_text\":\"FFFFFFFF\",\"vendor\":\"Vexor\",\"product\":\"Pylon\","
                   "\"crc_stored\":" +
                       std::to_string(Crc) + ",\"crc_computed\":" + std::to_string(Crc) +
                       ",\"crc_matches\":true}\n");
  // The console goes to stderr as it is, display lines included.
  EXPECT_EQ(R.Err, Kestrel({"--image", Image, "-r"}).Out);

  // A damaged record still shows, with the mismatch, and the status of the plain read.
  Disk[RecordOffset::ModuleSerial] = '"';
  WriteFile(Image, Disk);
  Outcome Bad = Kestrel({"--image", Image, "--json", "-r"});
  Outcome Plain = Kestrel({"--image", Image, "-r"});
  EXPECT_EQ(Bad.Status, Plain.Status);
  EXPECT_EQ(Bad.Status, 10);
  EXPECT_NE(Bad.Out.find("\"module_serial\":\"\\\"2345678        \""), std::string::npos)
      << Bad.Out;
  EXPECT_NE(Bad.Out.find("\"crc_matches\":false}"), std::string::npos);
  EXPECT_NE(Bad.Err.find("ERROR: GPP1 data is corrupted! CRC32 fails.\n"), std::string::npos);

  // Nothing read (the write-protected write): no object on stdout.
  Outcome W = Kestrel(With({"--image", Image, "--json", "--write-protect"}, Example));
  EXPECT_EQ(W.Status, 8);
  EXPECT_EQ(W.Out, "");
  EXPECT_NE(W.Err.find("write protected"), std::string::npos);
}

// A front-end option among the tool's words, however it is spelled, stops the run before any
// medium is opened; the board's own GPP1 (here a file standing in for it) stays as it was.
TEST_F(ImageRun, MisplacedFrontEndOptionsNeverReachTheBoardsOwnGpp1) {
  TempDir Dev;
  std::string Board = Dev.File("mmcblk0gp0");
  WriteFile(Board, std::vector<uint8_t>(4 * 512, 0x77));
  std::vector<uint8_t> Before = ReadFile(Board), ImageBefore = ReadFile(Image);
  const std::vector<std::string> Write = {"-w", "-p", "X", "-m", "1"};
  const std::vector<std::vector<std::string>> Misplaced = {
      With(Write, {"--image=" + Image}), With(Write, {"--IMAGE", Image}),
      With(Write, {"-image", Image}),    With({"--", "--image", Image}, Write),
      With(Write, {"--Json"}),           With({"-c"}, {"-block-size=" + std::to_string(512)}),
  };
  for (const auto &Args : Misplaced) {
    Outcome R = Kestrel(Args, Dev.Path, true);
    EXPECT_EQ(R.Status, FrontEndErrorExit) << R.Err;
    EXPECT_EQ(R.Out, "");
    EXPECT_NE(R.Err.find("front-end option"), std::string::npos) << R.Err;
  }
  EXPECT_EQ(ReadFile(Board), Before);
  EXPECT_EQ(ReadFile(Image), ImageBefore);
  // In front, the same spellings are the front end's own.
  EXPECT_EQ(Kestrel(With({"--image=" + Image}, Write), Dev.Path, true).Status, 0);
  EXPECT_EQ(ReadFile(Board), Before);
  EXPECT_NE(ReadFile(Image), ImageBefore);
  // The number of a block size is the same however it is written, and refused for one reason.
  EXPECT_EQ(Kestrel({"--image", Image, "--block-size", "000512", "-r"}).Status, 0);
  for (const char *Size : {"1000", "0001000", "99999999999999999999999"})
    EXPECT_NE(Kestrel({"--image", Image, "--block-size", Size, "-r"})
                  .Err.find(std::string(Size) + " is not a power of two from 512 to 65536"),
              std::string::npos)
        << Size;
}

// Arguments are UTF-8 on Linux and reach the tool as the UCS-2 a shell would hand it; the
// console comes back as UTF-8, and record bytes that would steer a terminal show as '?'.
TEST_F(ImageRun, TextCrossesTheFrontEndAsUtf8AndNeverSteersTheTerminal) {
  std::vector<uint8_t> Before = ReadFile(Image);
  Outcome Accent = Kestrel({"--image", Image, "-w", "-p", "caf\xc3\xa9", "-m", "1"});
  EXPECT_EQ(Accent.Status, 2);
  EXPECT_NE(Accent.Out.find("ERROR: Pylon Serial # \"caf\xc3\xa9\" can hold only"),
            std::string::npos)
      << Accent.Out;
  Outcome Euro = Kestrel({"--image", Image, "-r", "-\xe2\x82\xac"});
  EXPECT_NE(Euro.Out.find("Unknown! - Argv[2]: \"-\xe2\x82\xac\"\n"), std::string::npos);
  for (const char *Bad : {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf0\x9f\x98\x80"}) {
    Outcome R = Kestrel({"--image", Image, "-w", "-p", Bad, "-m", "1"});
    EXPECT_EQ(R.Status, FrontEndErrorExit) << Bad;
    EXPECT_EQ(R.Out, "");
  }
  EXPECT_EQ(ReadFile(Image), Before);

  // A record written by something else, with an escape sequence, DEL and a C1 control.
  ASSERT_EQ(Kestrel(With({"--image", Image}, Example)).Status, 0);
  std::vector<uint8_t> Disk = ReadFile(Image);
  const uint8_t Steering[] = {0x1B, '[', '2', 'J', 0x7F, 0x85, '\t', 0xE9, 0x00, 'Z'};
  std::copy(std::begin(Steering), std::end(Steering), Disk.begin() + RecordOffset::ModuleSerial);
  StoreLe32(Disk.data() + RecordOffset::Crc32, 0);
  uint32_t Crc = 0;
  {
    SimFirmware Sim;
    Sim.BootServices.CalculateCrc32(Disk.data(), BoardRecordSize, &Crc);
  }
  StoreLe32(Disk.data() + RecordOffset::Crc32, Crc);
  WriteFile(Image, Disk);
  Outcome R = Kestrel({"--image", Image, "-r"});
  EXPECT_EQ(R.Status, 0);
  EXPECT_NE(R.Out.find("Pylon Serial   #?[2J??\t\xc3\xa9\n"), std::string::npos) << R.Out;
  Outcome J = Kestrel({"--image", Image, "--json", "-r"});
  EXPECT_NE(
      J.Out.find("\"module_serial\":\"\\u001b[2J\\u007f\\u0085\\u0009\\u00e9\\u0000Z      \""),
      std::string::npos)
      << J.Out;
}

// The tool's backup on Linux files: whole before the write, or the run stops with a line naming
// the backup (never the medium); a run that writes nothing leaves no backup; a restore of it
// gives the image back byte for byte; no temporary is left beside it.
TEST_F(ImageRun, BackupsNameTheBackupAreNotLeftUnneededAndRestoreByteForByte) {
  std::vector<uint8_t> Before = ReadFile(Image);
  Outcome R = Kestrel(With({"--image", Image, "--backup", Dir.File("no/dir/b.bin")}, Example));
  EXPECT_EQ(R.Status, 2);
  EXPECT_NE(R.Out.find("ERROR: Cannot create backup " + Dir.File("no/dir/b.bin") + ": Not Found!\n"),
            std::string::npos)
      << R.Out;
  Outcome Refused = Kestrel({"--image", Image, "--backup", Dir.File("b.bin"), "-w", "-p", "1",
                             "-m", "1", "--if-serial", "2"});
  EXPECT_EQ(Refused.Status, 21);
  EXPECT_FALSE(fs::exists(Dir.File("b.bin")));
  EXPECT_EQ(ReadFile(Image), Before);

  Outcome W = Kestrel(With({"--image", Image, "--backup", Dir.File("b.bin")}, Example));
  EXPECT_EQ(W.Status, 0);
  EXPECT_EQ(ReadFile(Dir.File("b.bin")),
            std::vector<uint8_t>(Before.begin(), Before.begin() + 512));
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir.Path), fs::directory_iterator()), 2);
  Outcome Again = Kestrel(With({"--image", Image, "--backup", Dir.File("b.bin")}, Example));
  EXPECT_EQ(Again.Status, 2);
  EXPECT_NE(Again.Out.find("ERROR: Backup " + Dir.File("b.bin") + " exists;"), std::string::npos);
  Outcome Back = Kestrel({"--image", Image, "--restore", Dir.File("b.bin")});
  EXPECT_EQ(Back.Status, 0) << Back.Out;
  EXPECT_EQ(ReadFile(Image), Before);
  EXPECT_EQ(OpenLinuxFiles(), 0u);
}

// --json after a verified write shows what was read back; help ends with the front end's own
// options; --version is one line.
TEST_F(ImageRun, JsonAfterAWriteHelpAndVersion) {
  Outcome W = Kestrel(With({"--image", Image, "--json"}, Example));
  EXPECT_EQ(W.Status, 0);
  EXPECT_EQ(W.Out, Kestrel({"--image", Image, "--json", "-r"}).Out);
  EXPECT_NE(W.Err.find("Operation successful!\n"), std::string::npos);
  Outcome Refused = Kestrel({"--image", Image, "--json", "-w", "-p", "1", "-m", "2", "-b", "x"});
  EXPECT_EQ(Refused.Status, 2);
  EXPECT_EQ(Refused.Out, "");

  Outcome H = Kestrel({"-h"});
  EXPECT_EQ(H.Status, 0);
  EXPECT_NE(H.Out.find("Operation successful!\n\n Linux front end (kestrel)"), std::string::npos);
  EXPECT_NE(H.Out.find(" --backup        File"), std::string::npos);
  Outcome V = Kestrel({"--version"});
  EXPECT_EQ(V.Status, 0);
  EXPECT_EQ(V.Out, "kestrel 1.01.00\n");
}

} // namespace
