// The record layout and the ID parser.
#include <gtest/gtest.h>

#include <cstring>

#include "app/board_record.h"
#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(BoardRecord, AbsentOptionalFieldsAndTextLimits) {
  Board B; // the firmware that computes the CRC
  // 20 characters: the first 16 kept.
  const WriteRequest Request{
      u"ABCDEFGHIJKLMNOPQRST", u"AbC", nullptr, AbsentId, AbsentId, AbsentId};
  Bytes R(BoardRecordSize, 0xEE);
  ASSERT_EQ(BuildBoardRecord(&Request, R.data()), 0u);
  const auto Field = [&](size_t At) { return std::string(R.begin() + At, R.begin() + At + 16); };
  EXPECT_EQ(Field(RecordOffset::ModuleSerial), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(Field(RecordOffset::MmNumber), "AbC             ");
  EXPECT_EQ(Field(RecordOffset::CarrierSerial), "$               ");
  for (size_t Off : {RecordOffset::BoardId, RecordOffset::FabId, RecordOffset::BomId})
    EXPECT_EQ(LoadLe32(R.data() + Off), 0xFFFFFFFFu);
  // Reserved areas stay zero, including the byte after the IDs and the tail.
  for (size_t I = RecordOffset::IdReserved; I < RecordOffset::MmNumber; I++)
    EXPECT_EQ(R[I], 0) << I;
  for (size_t I = RecordOffset::TailReserved; I < BoardRecordSize; I++)
    EXPECT_EQ(R[I], 0) << I;
  EXPECT_TRUE(RecordCrcMatches(R.data(), nullptr, nullptr));
}

TEST(BoardRecord, MissingArgumentsReportTheInternalCheck) {
  Board B;
  Bytes Record(BoardRecordSize, 0xEE);
  EXPECT_EQ(BuildBoardRecord(nullptr, Record.data()), 2u);
  EXPECT_EQ(Record, Bytes(BoardRecordSize, 0)); // zeroed first
  WriteRequest Request{u"1", u"2", nullptr, AbsentId, AbsentId, AbsentId};
  EXPECT_EQ(BuildBoardRecord(&Request, nullptr), 2u);
  EXPECT_EQ(Unix(B.Sim.ConsoleText()), "ERROR: [#259] Internal coding error!\n"
                                       "ERROR: [#259] Internal coding error!\n");
}

TEST(BoardRecordCrc, BlankRecordIsValidAndLengthsBeyondTheRecordAreNot) {
  Board B;
  Bytes Blank(BoardRecordSize, 0);
  EXPECT_TRUE(RecordCrcMatches(Blank.data(), nullptr, nullptr));

  // Length and CRC zero cover nothing: only the whole blank block counts, not a torn clear or
  // foreign data that happens to have zeros there.
  for (size_t At : {size_t{0}, size_t{RecordOffset::HeaderReserved}, BoardRecordSize - 1}) {
    Bytes Torn(BoardRecordSize, 0);
    Torn[At] = 0x5A;
    EXPECT_FALSE(RecordCrcMatches(Torn.data(), nullptr, nullptr)) << At;
  }

  // A record claiming more bytes than it has must not be checked past its end.
  Bytes R = ExampleRecord();
  StoreLe32(R.data() + RecordOffset::RecordLength, 0xFFFFFFFF);
  EXPECT_FALSE(RecordCrcMatches(R.data(), nullptr, nullptr));

  // A shorter covered length is honoured as stored.
  R = Bytes(BoardRecordSize, 0x41);
  StoreLe32(R.data() + RecordOffset::RecordLength, 24);
  StoreLe32(R.data() + RecordOffset::Crc32, 0);
  uint32_t Crc = 0;
  B.Sim.BootServices.CalculateCrc32(R.data(), 24, &Crc);
  StoreLe32(R.data() + RecordOffset::Crc32, Crc);
  EXPECT_TRUE(RecordCrcMatches(R.data(), nullptr, nullptr));
}

// The number forms an ID option takes: hexadecimal digits after an optional 0x, up to the
// record's 32 bits; a refused text leaves the value as it was.
TEST(ParseIdValue, TakesHexadecimalUpToThirtyTwoBitsAndNothingElse) {
  constexpr UINT32 Left = 0xDEAD;
  const struct {
    const char16_t *Text;
    IdFault Fault;
    UINT32 Value;
  } Cases[] = {
      // clang-format off
      {u"0X1A", IdFault::None, 0x1A}, {u"0", IdFault::None, 0}, {u"ffffffff", IdFault::None, 0xFFFFFFFF},
      {u"000000000000000000000001", IdFault::None, 1},
      {u"100000000", IdFault::TooLarge, Left}, {u"FFFFFFFFFFFFFFFF", IdFault::TooLarge, Left},
      {u"10000000000000000", IdFault::NotANumber, Left},
      {u"", IdFault::NotANumber, Left}, {u"0x", IdFault::NotANumber, Left},
      {u"  12", IdFault::NotANumber, Left}, {u"1A 77", IdFault::NotANumber, Left},
      {u"-5", IdFault::NotANumber, Left}, {u"12G", IdFault::NotANumber, Left},
      {u"0x 5", IdFault::NotANumber, Left}, {u"\t5", IdFault::NotANumber, Left},
      // clang-format on
  };
  for (const auto &C : Cases) {
    UINT32 V = Left;
    EXPECT_EQ(ParseIdValue(C.Text, &V), C.Fault) << NarrowText(C.Text);
    EXPECT_EQ(V, C.Value) << NarrowText(C.Text);
  }
}

} // namespace
