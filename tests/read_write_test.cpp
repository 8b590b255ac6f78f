// The read, write and clear operations end to end over the simulated board.
#include <gtest/gtest.h>

#include "app/board_record.h"
#include "app/gpp1.h"
#include "shell/platform_context.h"
#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

const std::string &Banner = Expected().Banner;

const std::vector<std::string> Example = {"-w", "-p", "12345678", "-s", "87654321", "-m", "09876"};

const std::string ExampleDisplay = "           Pylon Serial   #12345678        \n"
                                   "           Pylon Board ID  FFFFFFFF\n"
                                   "           Pylon Fab ID    FFFFFFFF\n"
                                   "           Pylon BOM ID    FFFFFFFF\n"
                                   "           Pylon MM       #09876           \n"
                                   "         Sandrel Serial   #87654321        \n";

const std::string BlankDisplay = "                 Serial   #\n"
                                 "                 Board ID  00000000\n"
                                 "                 Fab ID    00000000\n"
                                 "                 BOM ID    00000000\n"
                                 "                 MM       #\n"
                                 "         Sandrel Serial   #\n";

const std::string ExampleDump =
    "      +----------------------------------------------------+------------------+\n"
    "      | x0 x1 x2 x3  x4 x5 x6 x7  x8 x9 xA xB  xC xD xE xF |      String      |\n"
    " +----+----------------------------------------------------+------------------+\n"
    " | 0x | 24 45 65 70  72 6F 6D 24  01 00 02 00  20 00 00 00 | $Eeprom$.... ... |\n"
    " | 1x | B0 00 00 00  6D 33 B9 C7  00 00 00 00  00 00 00 00 | ....m3.......... |\n"
    " | 2x | 24 42 72 64  49 6E 66 6F  01 00 00 00  90 00 00 00 | $BrdInfo........ |\n"
    " | 3x | 56 65 78 6F  72 24 20 20  20 20 20 20  20 20 20 20 | Vexor$           |\n"
    " +----+----------------------------------------------------+------------------+\n"
    " | 4x | 50 79 6C 6F  6E 24 20 20  20 20 20 20  20 20 20 20 | Pylon$           |\n"
    " | 5x | 31 32 33 34  35 36 37 38  20 20 20 20  20 20 20 20 | 12345678         |\n"
    " | 6x | FF FF FF FF  FF FF FF FF  FF FF FF FF  00 00 00 00 | ................ |\n"
    " | 7x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " +----+----------------------------------------------------+------------------+\n"
    " | 8x | 30 39 38 37  36 20 20 20  20 20 20 20  20 20 20 20 | 09876            |\n"
    " | 9x | 38 37 36 35  34 33 32 31  20 20 20 20  20 20 20 20 | 87654321         |\n"
    " | Ax | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " +----+----------------------------------------------------+------------------+\n";

const std::string BlankDump =
    "      +----------------------------------------------------+------------------+\n"
    "      | x0 x1 x2 x3  x4 x5 x6 x7  x8 x9 xA xB  xC xD xE xF |      String      |\n"
    " +----+----------------------------------------------------+------------------+\n"
    " | 0x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | 1x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | 2x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | 3x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " +----+----------------------------------------------------+------------------+\n"
    " | 4x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | 5x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | 6x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | 7x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " +----+----------------------------------------------------+------------------+\n"
    " | 8x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | 9x | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " | Ax | 00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00 | ................ |\n"
    " +----+----------------------------------------------------+------------------+\n";

const std::string WriteLines = "- Creating binary image...\n- Writing binary image...\n"
                               "- Verifying binary image...\n";

TEST(Read, BlankPartitionIsAValidEmptyRecord) {
  Board B;
  RunResult R = RunUnix(B, {"-r"});
  EXPECT_EQ(R.Status, 0u);
  EXPECT_EQ(R.Output, Banner + BlankDisplay + "Operation successful!\n");
  R = RunUnix(B, {"--debug", "-r"});
  EXPECT_EQ(R.Output, Banner +
                          "- GetBlockIo()...\n"
                          "GetBlockIo(#460) - BlockIo handle count is: 8\n"
                          "Get eMMC Partition number is: 0\n"
                          "Get eMMC Partition number is: 1\n"
                          "Get eMMC Partition number is: 2\n"
                          "Get eMMC Partition number is: 3\n"
                          "Get eMMC Partition number is: 4\n" +
                          BlankDisplay + BlankDump + "Operation successful!\n");
  EXPECT_EQ(B.Gpp1().WriteCalls, 0u);
  EXPECT_EQ(B.Sim.LiveAllocations(), 0u);
}

TEST(Read, CorruptedCrcShowsOnlyTheCorruptionLine) {
  Board B;
  ASSERT_EQ(B.Run(Example).Status, 0u);
  for (size_t Bit : {0u, 7u, 20u * 8u, 175u * 8u + 7u}) {
    std::vector<uint8_t> Block = B.Block0();
    Block[Bit / 8] ^= static_cast<uint8_t>(1u << (Bit % 8));
    B.SetBlock0(Block);
    RunResult R = RunUnix(B, {"-r"});
    EXPECT_EQ(R.Status, 10u);
    EXPECT_EQ(R.Output, Banner + "ERROR: GPP1 data is corrupted! CRC32 fails.\n");
    Block[Bit / 8] ^= static_cast<uint8_t>(1u << (Bit % 8));
    B.SetBlock0(Block);
  }
  // A stored length beyond the record cannot be checked: reported as corrupt, nothing over-read.
  std::vector<uint8_t> Block = B.Block0();
  StoreLe32(Block.data() + RecordOffset::RecordLength, 177);
  B.SetBlock0(Block);
  EXPECT_EQ(RunUnix(B, {"-r"}).Status, 10u);
}

TEST(Read, ProductFieldWithoutDollarGivesASixteenCharacterLabel) {
  Board B;
  ASSERT_EQ(B.Run(Example).Status, 0u);
  std::vector<uint8_t> Block = B.Block0();
  memcpy(Block.data() + RecordOffset::Product, "ABCDEFGHIJKLMNOP", 16);
  memcpy(Block.data() + RecordOffset::MmNumber, "                ", 16); // only padding
  StoreLe32(Block.data() + RecordOffset::Crc32, 0);
  uint32_t Crc = 0;
  B.Sim.BootServices.CalculateCrc32(Block.data(), BoardRecordSize, &Crc);
  StoreLe32(Block.data() + RecordOffset::Crc32, Crc);
  B.SetBlock0(Block);
  RunResult R = RunUnix(B, {"-r"});
  EXPECT_EQ(R.Status, 0u);
  EXPECT_NE(R.Output.find("ABCDEFGHIJKLMNOP Serial   #12345678        \n"), std::string::npos);
  EXPECT_NE(R.Output.find("ABCDEFGHIJKLMNOP MM       #\n"), std::string::npos);
}

TEST(Write, HelpExampleThenReadRoundTripsWithDump) {
  Board B;
  RunResult R = RunUnix(B, Example);
  EXPECT_EQ(R.Status, 0u);
  EXPECT_EQ(R.Output, Banner + WriteLines + "Operation successful!\n");
  R = RunUnix(B, {"-r"});
  EXPECT_EQ(R.Output, Banner + ExampleDisplay + "Operation successful!\n");
  R = RunUnix(B, {"-r", "--debug"});
  EXPECT_EQ(R.Status, 0u);
  size_t At = R.Output.find(ExampleDisplay + ExampleDump + "Operation successful!\n");
  EXPECT_NE(At, std::string::npos) << R.Output;
  EXPECT_EQ(B.Sim.LiveAllocations(), 0u);
}

TEST(Write, DebugShowsTheNewImageBetweenCreateAndWrite) {
  Board B;
  std::vector<std::string> Args = Example;
  Args.push_back("--debug");
  RunResult R = RunUnix(B, Args);
  EXPECT_EQ(R.Status, 0u);
  std::string Search = "- GetBlockIo()...\n"
                       "GetBlockIo(#460) - BlockIo handle count is: 8\n"
                       "Get eMMC Partition number is: 0\n"
                       "Get eMMC Partition number is: 1\n"
                       "Get eMMC Partition number is: 2\n"
                       "Get eMMC Partition number is: 3\n"
                       "Get eMMC Partition number is: 4\n";
  EXPECT_EQ(R.Output, Banner + "- Creating binary image...\n" + ExampleDump +
                          "- Writing binary image...\n" + Search +
                          "- Copying data...\n- Writing data...\n"
                          "- Verifying binary image...\n" +
                          Search + "Operation successful!\n");
}

TEST(Write, AllSixOptionsRoundTripEveryField) {
  Board B;
  RunResult R = RunUnix(B, {"--write", "--pylon", "PY-0001", "--mm", "Mm42", "--sandrel", "SD7",
                            "--board", "0x1b", "--fab", "C", "--bom", "0x12345678"});
  ASSERT_EQ(R.Status, 0u) << R.Output;
  R = RunUnix(B, {"-r"});
  EXPECT_EQ(R.Output, Banner + "           Pylon Serial   #PY-0001         \n"
                               "           Pylon Board ID  0000001B\n"
                               "           Pylon Fab ID    0000000C\n"
                               "           Pylon BOM ID    12345678\n"
                               "           Pylon MM       #Mm42            \n"
                               "         Sandrel Serial   #SD7             \n"
                               "Operation successful!\n");
}

TEST(Write, BlockSizesAndJunkBeyondTheRecord) {
  for (uint32_t Size : {512u, 4096u}) {
    Board B(Size);
    std::vector<uint8_t> Junk(Size, 0xA5);
    B.SetBlock0(Junk);
    ASSERT_EQ(B.Run(Example).Status, 0u);
    std::vector<uint8_t> Block = B.Block0();
    for (size_t I = BoardRecordSize; I < Size; I++)
      ASSERT_EQ(Block[I], 0) << Size << " " << I;
    EXPECT_EQ(B.Gpp1().WrittenLbas, std::vector<uint64_t>{0});
    // Junk beyond the record does not disturb a read.
    std::fill(Block.begin() + BoardRecordSize, Block.end(), 0x3C);
    B.SetBlock0(Block);
    RunResult R = RunUnix(B, {"-r"});
    EXPECT_EQ(R.Output, Banner + ExampleDisplay + "Operation successful!\n");
    // Nothing but block 0 was touched.
    EXPECT_EQ(std::vector<uint8_t>(B.Gpp1Medium.Bytes.begin() + Size, B.Gpp1Medium.Bytes.end()),
              std::vector<uint8_t>(B.Gpp1Medium.Bytes.size() - Size, 0));
  }
}

TEST(Write, SameOptionsTwiceGiveIdenticalBlocks) {
  Board B;
  ASSERT_EQ(B.Run(Example).Status, 0u);
  std::vector<uint8_t> First = B.Block0();
  ASSERT_EQ(B.Run(Example).Status, 0u);
  EXPECT_EQ(B.Block0(), First);
}

TEST(Write, OnlyRequiredOptionsStoreAbsentMarkers) {
  Board B;
  ASSERT_EQ(B.Run({"-w", "-p", "1", "-m", "2"}).Status, 0u);
  RunResult R = RunUnix(B, {"-r"});
  EXPECT_EQ(R.Output, Banner + "           Pylon Serial   #1               \n"
                               "           Pylon Board ID  FFFFFFFF\n"
                               "           Pylon Fab ID    FFFFFFFF\n"
                               "           Pylon BOM ID    FFFFFFFF\n"
                               "           Pylon MM       #2               \n"
                               "         Sandrel Serial   #\n"
                               "Operation successful!\n");
}

// A write or clear whose result would not be what was asked is refused before the device is
// asked anything: the board is write-protected, so a refusal that came after the platform's
// write-protect report would show as status 8.
TEST(Write, ValuesThatCannotBeStoredAsGivenAreRefusedBeforeTheDeviceIsAsked) {
  {
    Board B(512, WriteProtect::On);
    std::vector<uint8_t> Before(512, 0x42);
    B.SetBlock0(Before);
    for (const ExpectedRefusal &Row : Expected().Refusals) {
      RunResult R = B.Run(Row.Args);
      EXPECT_EQ(R.Status, Row.Status) << Row.Output;
      EXPECT_EQ(Unix(R.Output), Row.Output);
    }
    EXPECT_EQ(B.Gpp1().WriteCalls + B.Gpp1().ReadCalls, 0u);
    EXPECT_EQ(B.Block0(), Before);
  }

  // What is refused in a write is harmless in a read, which still runs; and the same values in
  // their proper form are stored.
  Board Open;
  EXPECT_EQ(RunUnix(Open, {"-x", "-r"}).Status, 0u);
  ASSERT_EQ(
      RunUnix(Open, {"-w", "-p", "~ !#", "-m", "0123456789ABCDEF", "-b", "0X1a", "-o",
                     "00000000000000000000ff", "-f", "FFFFFFFF"})
          .Status,
      0u);
  std::vector<uint8_t> Block = Open.Block0();
  EXPECT_EQ(std::string(Block.begin() + RecordOffset::ModuleSerial,
                        Block.begin() + RecordOffset::ModuleSerial + 4),
            "~ !#");
  EXPECT_EQ(LoadLe32(Block.data() + RecordOffset::BoardId), 0x1Au);
  EXPECT_EQ(LoadLe32(Block.data() + RecordOffset::BomId), 0xFFu);
  EXPECT_EQ(LoadLe32(Block.data() + RecordOffset::FabId), 0xFFFFFFFFu);
  EXPECT_EQ(std::string(Block.begin() + RecordOffset::MmNumber,
                        Block.begin() + RecordOffset::MmNumber + 16),
            "0123456789ABCDEF");
}

TEST(WriteProtected, WriteAndClearRefuseWhileReadWorks) {
  Board B(512, WriteProtect::On);
  std::vector<uint8_t> Before(512, 0x42);
  B.SetBlock0(Before);
  for (auto Args : {Example, std::vector<std::string>{"-c"}}) {
    RunResult R = RunUnix(B, Args);
    EXPECT_EQ(R.Status, 8u);
    EXPECT_EQ(R.Output, Banner + "ERROR: eMMC GPP1 is still write protected!\n");
  }
  EXPECT_EQ(B.Block0(), Before);
  EXPECT_EQ(B.Gpp1().WriteCalls, 0u);
  EXPECT_EQ(RunUnix(B, {"-r"}).Status, 10u); // read still runs (the block holds no record)
}

// A HOB list that cannot be walked soundly to the platform block or its end (a block shorter than
// its header, no end block within the bound) cannot vouch for a writable GPP1.
TEST(WriteProtected, ADamagedHobListRefusesWriteAndClear) {
  std::vector<uint8_t> Endless(8 * (MaxHobBlocks + 1), 0);
  for (size_t I = 0; I < Endless.size(); I += 8) {
    Endless[I] = 3;
    Endless[I + 2] = 8;
  }
  for (uint16_t Length : {0, 7, 8}) {
    Board B;
    SimHobList Damaged;
    Damaged.AddFirmwareBlocks();
    if (Length < 8)
      Damaged.AddRaw(EFI_HOB_TYPE_HANDOFF, Length, {}).AddPlatformInfo(0).End();
    PlatformContext.HobList = Length < 8 ? Damaged.Data() : Endless.data();
    std::vector<uint8_t> Before(512, 0x42);
    B.SetBlock0(Before);
    for (auto Args : {Example, std::vector<std::string>{"-c"}}) {
      RunResult R = RunUnix(B, Args);
      EXPECT_EQ(R.Status, 8u) << Length;
      EXPECT_EQ(R.Output, Banner + "ERROR: GPP1 write protection is unknown: the firmware's HOB "
                                   "list is damaged!\n");
    }
    EXPECT_EQ(B.Block0(), Before);
    EXPECT_EQ(B.Gpp1().WriteCalls, 0u);
    EXPECT_EQ(RunUnix(B, {"-r"}).Status, 10u); // a read does not depend on the flag
  }
}

TEST(Clear, WriteThenClearThenReadShowsTheBlankRecord) {
  Board B;
  ASSERT_EQ(B.Run(Example).Status, 0u);
  RunResult R = RunUnix(B, {"--clear"});
  EXPECT_EQ(R.Status, 0u);
  EXPECT_EQ(R.Output, Banner + "- Clearing GPP1 data...\nOperation successful!\n");
  EXPECT_EQ(B.Block0(), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(RunUnix(B, {"-r"}).Output, Banner + BlankDisplay + "Operation successful!\n");
}

} // namespace
