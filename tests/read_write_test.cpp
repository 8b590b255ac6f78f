// The read, write and clear operations end to end over the simulated board.
#include <gtest/gtest.h>

#include "app/board_record.h"
#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

using Args = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const std::string &Banner = Expected().Banner;
const Args Example = {"-w", "-p", "12345678", "-s", "87654321", "-m", "09876"};
const std::string Ok = "Operation successful!\n";
const std::string WriteLines = "- Creating binary image...\n- Writing binary image...\n"
                               "- Verifying binary image...\n";
const std::string WriteProtected = "ERROR: eMMC GPP1 is still write protected!\n";
// One search for GPP1 under --debug: the simulated card's partitions 0 to 4.
const std::string Search = "- GetBlockIo()...\nGetBlockIo(#460) - BlockIo handle count is: 8\n"
                           "Get eMMC Partition number is: 0\nGet eMMC Partition number is: 1\n"
                           "Get eMMC Partition number is: 2\nGet eMMC Partition number is: 3\n"
                           "Get eMMC Partition number is: 4\n";

// What -r shows of a record: each Pylon line labelled with the record's product (right-aligned in
// 16 columns, none for a blank record), a text field in 16 columns or nothing when it is absent,
// an ID as eight hexadecimal digits. Fields: serial, board, fab, BOM, MM, Sandrel serial.
std::string Display(const std::string &Product, const Args &F) {
  const std::string L = std::string(16 - Product.size(), ' ') + Product;
  const auto Text = [](const std::string &T) {
    return T + std::string(T.empty() ? 0 : 16 - T.size(), ' ');
  };
  return L + " Serial   #" + Text(F[0]) + "\n" + L + " Board ID  " + F[1] + "\n" + L +
         " Fab ID    " + F[2] + "\n" + L + " BOM ID    " + F[3] + "\n" + L + " MM       #" +
         Text(F[4]) + "\n         Sandrel Serial   #" + Text(F[5]) + "\n";
}
const std::string ExampleDisplay =
    Display("Pylon", {"12345678", "FFFFFFFF", "FFFFFFFF", "FFFFFFFF", "09876", "87654321"});
const std::string BlankDisplay = Display("", {"", "00000000", "00000000", "00000000", "", ""});

struct Step {
  Args A;
  uint64_t Status;
  std::string Output; // after the banner
};

// Runs of the tool one after another on one board: each step's status and whole console text,
// nothing left allocated, and block 0 at the end. (A stored length beyond the record reads as
// corrupt: the read fuzz target's seed long_length; every flipped bit is the fault sweep's.)
TEST(ReadWrite, StepsOnOneBoard) {
  const Bytes Blank(512, 0), Protected(512, 0x42);
  Bytes Written = ExampleRecord();
  Written.resize(512, 0);
  // The example's record with a product field that holds no '$' and an MM # of only padding.
  Bytes NoDollar = ExampleRecord();
  memcpy(NoDollar.data() + RecordOffset::Product, "ABCDEFGHIJKLMNOP", 16);
  memcpy(NoDollar.data() + RecordOffset::MmNumber, "                ", 16);
  StoreLe32(NoDollar.data() + RecordOffset::Crc32, 0);
  uint32_t Crc = 0;
  SimFirmware().BootServices.CalculateCrc32(NoDollar.data(), BoardRecordSize, &Crc);
  StoreLe32(NoDollar.data() + RecordOffset::Crc32, Crc);
  NoDollar.resize(512, 0);
  const std::string DebugWrite = "- Creating binary image...\n" + RecordDump(ExampleRecord()) +
                                 "- Writing binary image...\n" + Search +
                                 "- Copying data...\n- Writing data...\n"
                                 "- Verifying binary image...\n" +
                                 Search + Ok;
  struct {
    const char *Name;
    WriteProtect Protect;
    Bytes Before; // empty: a blank medium
    std::vector<Step> Steps;
    Bytes After;
    bool Writes; // false: not a single WriteBlocks call
  } Sessions[] = {
      // clang-format off
      {"a blank partition reads as a valid empty record", WriteProtect::Off, {},
       {{{"-r"}, 0, BlankDisplay + Ok},
        {{"--debug", "-r"}, 0, Search + BlankDisplay + RecordDump(Bytes(176, 0)) + Ok},
        {{"-r"}, 0, BlankDisplay + Ok}}, // --debug does not carry over to the next run
       Blank, false},
      // The same options twice give the same block.
      {"the help's example round-trips", WriteProtect::Off, {},
       {{Example, 0, WriteLines + Ok}, {{"-r"}, 0, ExampleDisplay + Ok},
        {{"-r", "--debug"}, 0, Search + ExampleDisplay + RecordDump(ExampleRecord()) + Ok},
        {Example, 0, WriteLines + Ok}},
       Written, true},
      {"--debug shows the new image between the creation and the write", WriteProtect::Off, {},
       {{{"-w", "-p", "12345678", "-s", "87654321", "-m", "09876", "--debug"}, 0, DebugWrite}},
       Written, true},
      {"all six options round-trip every field", WriteProtect::Off, {},
       {{{"--write", "--pylon", "PY-0001", "--mm", "Mm42", "--sandrel", "SD7", "--board", "0x1b",
          "--fab", "C", "--bom", "0x12345678"}, 0, WriteLines + Ok},
        {{"-r"}, 0,
         Display("Pylon", {"PY-0001", "0000001B", "0000000C", "12345678", "Mm42", "SD7"}) + Ok}},
       {}, true},
      {"only the required options store absent markers", WriteProtect::Off, {},
       {{{"-w", "-p", "1", "-m", "2"}, 0, WriteLines + Ok},
        {{"-r"}, 0, Display("Pylon", {"1", "FFFFFFFF", "FFFFFFFF", "FFFFFFFF", "2", ""}) + Ok}},
       {}, true},
      {"a clear leaves the blank record", WriteProtect::Off, {},
       {{Example, 0, WriteLines + Ok}, {{"--clear"}, 0, "- Clearing GPP1 data...\n" + Ok},
        {{"-r"}, 0, BlankDisplay + Ok}},
       Blank, true},
      {"a clear beside a write is refused; alone it blanks the block", WriteProtect::Off,
       Bytes(512, 0x77),
       {{{"-c", "-w", "-p", "1", "-m", "2"}, 2,
         "ERROR: You can't clear and write, read or change fields at the same time!\n"},
        {{"-c"}, 0, "- Clearing GPP1 data...\n" + Ok}}, Blank, true},
      {"a product field without '$' is a label of 16 characters", WriteProtect::Off, NoDollar,
       {{{"-r"}, 0, Display("ABCDEFGHIJKLMNOP", {"12345678", "FFFFFFFF", "FFFFFFFF", "FFFFFFFF",
                                                 "", "87654321"}) + Ok}}, NoDollar, false},
      // A read still runs (the block holds no record).
      {"write protection refuses a write and a clear", WriteProtect::On, Protected,
       {{Example, 8, WriteProtected}, {{"-c"}, 8, WriteProtected},
        {{"-r"}, 10, "ERROR: GPP1 data is corrupted! CRC32 fails.\n"}},
       Protected, false},
      // clang-format on
  };
  for (const auto &S : Sessions) {
    SCOPED_TRACE(S.Name);
    Board B(512, S.Protect);
    if (!S.Before.empty())
      B.SetBlock0(S.Before);
    for (const Step &Step : S.Steps) {
      const BoardRun R = B.Run(Step.A);
      EXPECT_EQ(R.Status, Step.Status) << R.Output;
      EXPECT_EQ(R.Output, Banner + Step.Output);
      EXPECT_EQ(B.Sim.LiveAllocations(), 0u);
    }
    if (!S.After.empty())
      EXPECT_EQ(B.Block0(), S.After);
    if (!S.Writes)
      EXPECT_EQ(B.Gpp1().WriteCalls, 0u);
  }
}

TEST(Write, BlockSizesAndJunkBeyondTheRecord) {
  for (uint32_t Size : {512u, 4096u}) {
    Board B(Size);
    B.SetBlock0(Bytes(Size, 0xA5));
    ASSERT_EQ(B.Run(Example).Status, 0u);
    Bytes Block = B.Block0();
    EXPECT_EQ(Bytes(Block.begin() + BoardRecordSize, Block.end()),
              Bytes(Size - BoardRecordSize, 0));
    EXPECT_EQ(B.Gpp1().WrittenLbas, std::vector<uint64_t>{0});
    // Junk beyond the record does not disturb a read.
    std::fill(Block.begin() + BoardRecordSize, Block.end(), 0x3C);
    B.SetBlock0(Block);
    EXPECT_EQ(B.Run({"-r"}).Output, Banner + ExampleDisplay + Ok);
    // Nothing but block 0 was touched.
    EXPECT_EQ(Bytes(B.Gpp1Medium.Bytes.begin() + Size, B.Gpp1Medium.Bytes.end()),
              Bytes(B.Gpp1Medium.Bytes.size() - Size, 0));
  }
}

// What is refused in a write (ToolMain.HelpNoOperationAndWriteChecksNeverReachTheDevice) is
// harmless in a read, which still runs; and the same values in their proper form are stored.
TEST(Write, ValuesInTheirProperFormAreStored) {
  Board Open;
  EXPECT_EQ(Open.Run(Args{"-x", "-r"}).Status, 0u);
  ASSERT_EQ(Open.Run({"-w", "-p", "~ !#", "-m", "0123456789ABCDEF", "-b", "0X1a", "-o",
                      "00000000000000000000ff", "-f", "FFFFFFFF"})
                .Status,
            0u);
  const uint8_t *Record = Open.Gpp1Medium.Bytes.data();
  const char *Text = reinterpret_cast<const char *>(Record);
  EXPECT_EQ(std::string(Text + RecordOffset::ModuleSerial, 4), "~ !#");
  EXPECT_EQ(LoadLe32(Record + RecordOffset::BoardId), 0x1Au);
  EXPECT_EQ(LoadLe32(Record + RecordOffset::BomId), 0xFFu);
  EXPECT_EQ(LoadLe32(Record + RecordOffset::FabId), 0xFFFFFFFFu);
  EXPECT_EQ(std::string(Text + RecordOffset::MmNumber, 16), "0123456789ABCDEF");
  // Nine digits of an ID still make 32 bits.
  ASSERT_EQ(
      Open.Run({"-w", "-p", "1", "-m", "2", "-b", "023456789", "-f", "0x1a", "-o", "00ff"}).Status,
      0u);
  EXPECT_EQ(LoadLe32(Record + RecordOffset::BoardId), 0x23456789u);
  EXPECT_EQ(LoadLe32(Record + RecordOffset::FabId), 0x1Au);
  EXPECT_EQ(LoadLe32(Record + RecordOffset::BomId), 0xFFu);
}

} // namespace
