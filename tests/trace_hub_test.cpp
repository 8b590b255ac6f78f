// The trace-hub encoder: the exact store sequence of debug records, optional record parts, the
// CRC, and silence without a hub.
#include <gtest/gtest.h>

#include <string>

#include "diag/trace_hub.h"
#include "sim/hardware_model.h"
#include "sim/sim_firmware.h"
#include "support/diag_board.h"

namespace {

using A = SimAccess;
using namespace diagboard;

class TraceRecord : public ::testing::Test {
protected:
  SimHardware Hw;
  void SetUp() override { AddTraceHub(Hw); }
};

TEST_F(TraceRecord, ThirteenBytesGoOutAsEightFourOneWithEveryStoreReadingTheWindowFirst) {
  std::string Text = "Hello, trace!";
  ASSERT_EQ(Text.size(), 13u);
  EXPECT_EQ(SendDebugTrace(0, Text.data(), Text.size()), EFI_SUCCESS);
  // The probe reads the vendor ID and the window, then the window is read before every store.
  const A WindowRead = R32(EcamOf(0, 2) + 0x18, TraceWindow);
  std::vector<A> Expected = {R16(EcamOf(0, 2), PlatformVendorId), WindowRead};
  for (const A &Store : DebugRecord(Text, {64, 32, 8}))
    Expected.insert(Expected.end(), {WindowRead, Store});
  EXPECT_ACCESSES(Hw.Log, Expected);
}

TEST_F(TraceRecord, PayloadWidthsFollowTheRemainderOfTheLengthCutToSixteenBits) {
  const struct {
    size_t Length;
    std::vector<unsigned> Widths;
  } Rows[] = {{1, {8}},
              {7, {32, 16, 8}},
              {8, {64}},
              {15, {64, 32, 16, 8}},
              {255, StoreWidths(31, {32, 16, 8})}};
  for (const auto &Row : Rows) {
    SCOPED_TRACE(Row.Length);
    Hw.ClearLog();
    std::string Text = TextOf(Row.Length);
    SendDebugTrace(0, Text.data(), Text.size());
    EXPECT_ACCESSES(Writes(Hw), DebugRecord(Text, Row.Widths));
  }
  // 255 bytes: 31 64-bit stores, then 4, 2 and 1: 39 stores, 40 window reads and the vendor ID.
  EXPECT_EQ(Writes(Hw).size(), 39u);
  EXPECT_EQ(Hw.Log.size() - Writes(Hw).size(), 41u);
  // 7 bytes end in 32-, 16- and 8-bit stores.
  Hw.ClearLog();
  SendDebugTrace(0, "1234567", 7);
  std::vector<A> W = Writes(Hw);
  ASSERT_EQ(W.size(), 8u);
  EXPECT_EQ(W[4], W32(TraceChannel, 0x34333231));
  EXPECT_EQ(W[5], W16(TraceChannel, 0x3635));
  EXPECT_EQ(W[6], W8(TraceChannel, 0x37));
  // The length is cut to 16 bits, and the text need not end in a zero byte.
  const char Unterminated[4] = {'a', 'b', 'c', 'd'};
  Hw.ClearLog();
  SendDebugTrace(0, Unterminated, 0x10000 + 3);
  EXPECT_ACCESSES(Writes(Hw), DebugRecord("abc", {16, 8}));
}

// A length of 0 sends the text inline, without a length.
TEST_F(TraceRecord, InlinePayloadStopsAtTheZeroByteOrAfterTwentyFourBytes) {
  const std::string Long = TextOf(30);
  for (auto [Text, Sent] : {std::pair<const char *, std::string>{"", ""},
                            {Long.c_str(), Long.substr(0, 24)},
                            {"ab\0cdefgh", "ab"}}) {
    SCOPED_TRACE(Sent);
    Hw.ClearLog();
    SendDebugTrace(0, Text, 0);
    EXPECT_ACCESSES(Writes(Hw), InlineRecord(Sent));
  }
}

TEST_F(TraceRecord, SeverityKeepsItsLowThreeBits) {
  SendDebugTrace(9, "x", 1);
  EXPECT_EQ(Writes(Hw).front(), W32(TraceChannel + 0x10, 0x01FF0212));
}

TEST(TraceHubAbsent, NothingIsStoredWithoutAWindowOrAPlatformFunction) {
  for (uint32_t Window : {0x00000000u, 0xFFFFFFFFu, 0xFFFFFE00u}) {
    SCOPED_TRACE(Window);
    SimHardware Hw;
    Hw.Pci.Add(0, 0, 2, PlatformVendorId, 0x1234).Set32(0x18, Window);
    EXPECT_EQ(TraceChannelAddress(0, 0), 0u);
    EXPECT_EQ(SendDebugTrace(0, "hello", 5), EFI_SUCCESS);
    EXPECT_ACCESSES(Writes(Hw));
  }
  // Another vendor's function in the hub's place, whatever its register 0x18 holds.
  SimHardware Foreign;
  AddTraceHub(Foreign);
  Foreign.Pci.Find(0, 0, 2)->Set16(0x00, PlatformVendorId ^ 0x0001);
  SendDebugTrace(0, "hello", 5);
  EXPECT_ACCESSES(Writes(Foreign));
}

// Encoder layers used directly, with parts the debug records do not carry.
class TraceHandleParts : public TraceRecord {
protected:
  TraceState State;
  TraceHandle Handle = {};
  const TracePlatformData Channel = {256, 13};

  void SetUp() override {
    TraceRecord::SetUp();
    InitTraceState(&State, InstallTraceHubWriters, nullptr);
    ASSERT_EQ(InitTraceHandle(&State, &Handle, &Channel, 1), &Handle);
  }
};

TEST_F(TraceHandleParts, BindingCopiesTheChannelAndStateWordsAreSet) {
  EXPECT_EQ(Handle.Master, 256u);
  EXPECT_EQ(Handle.Channel, 13u);
  EXPECT_EQ(Handle.PlatformData, &Channel);
  EXPECT_EQ(Handle.Flags & 1u, 1u);
  EXPECT_EQ(State.Version, 0x00010400u);
  EXPECT_EQ(State.Reserved, 0xFFFFFFFFu);
  EXPECT_EQ(State.Ops.WriteRecord, &WriteScatterRecord);
}

TEST_F(TraceHandleParts, HubThatVanishesMidRecordLosesOnlyTheRemainingStores) {
  // The hub goes away after the probe: every store asks again and skips itself.
  Hw.Pci.Find(0, 0, 2)->Set32(0x18, 0);
  WriteTraceString(&Handle, nullptr, 1, 0, 3, "abc");
  EXPECT_ACCESSES(Writes(Hw));
}

TEST_F(TraceHandleParts, SequenceNumberIsSentAndCounted) {
  Handle.HeaderTemplate = 1u << 7;
  WriteTraceString(&Handle, nullptr, 5, 0, 1, "z");
  WriteTraceString(&Handle, nullptr, 5, 0, 1, "z");
  std::vector<A> W = Writes(Hw);
  ASSERT_EQ(W.size(), 10u);
  EXPECT_EQ(W[0], W32(TraceChannel + 0x10, 0x05000282));
  EXPECT_EQ(W[1], W32(TraceChannel, 0));
  EXPECT_EQ(W[6], W32(TraceChannel, 1));
  EXPECT_EQ(Handle.Sequence, 2u);
}

TEST_F(TraceHandleParts, LocationIsSentAsFormatByteAndThirtyTwoOrSixtyFourBitAddress) {
  TraceLocation Short = {0, 0x1122334455667788ull};
  TraceLocation Wide = {1, 0x1122334455667788ull};
  WriteTraceString(&Handle, &Short, 1, 0, 1, "z");
  WriteTraceString(&Handle, &Wide, 1, 0, 1, "z");
  std::vector<A> W = Writes(Hw);
  ASSERT_EQ(W.size(), 12u);
  EXPECT_EQ(W[0].Value, 0x01000302u); // location and length follow
  EXPECT_EQ(W[1], W8(TraceChannel, 0));
  EXPECT_EQ(W[2], W32(TraceChannel, 0x55667788));
  EXPECT_EQ(W[7], W8(TraceChannel, 1));
  EXPECT_EQ(W[8], W64(TraceChannel, 0x1122334455667788ull));
}

TEST_F(TraceHandleParts, CrcCoversEveryStoredByteAndPrecedesTheEnd) {
  Handle.HeaderTemplate = (1u << 10) | 0x00FF0000;
  Handle.Origin = {0x23A3E7BA, 0x75D1, 0x4CB9, {0x9C, 0x8F, 0x56, 0xFA, 0x4E, 0x48, 0xD9, 0x9E}};
  std::string Text = "CRC-checked text";
  WriteTraceString(&Handle, nullptr, 1, 0, static_cast<UINT16>(Text.size()), Text.data());
  std::vector<A> W = Writes(Hw);
  // header, GUID x2, length, 2 x 64-bit payload, CRC, end
  ASSERT_EQ(W.size(), 8u) << DescribeAccesses(W);
  EXPECT_EQ(W[0].Value, 0x01FF0602u);
  std::vector<uint8_t> Stored;
  for (size_t I = 0; I < 6; I++)
    for (int B = 0; B < W[I].Width / 8; B++)
      Stored.push_back(static_cast<uint8_t>(W[I].Value >> (8 * B)));
  // The firmware's CRC-32 is the same IEEE one.
  SimFirmware Sim;
  UINT32 Crc = 0;
  Sim.BootServices.CalculateCrc32(Stored.data(), Stored.size(), &Crc);
  EXPECT_EQ(W[6], W32(TraceChannel, Crc));
  EXPECT_EQ(W[7], W32(TraceChannel + 0x30, 0));
}

// Without storage for a handle the null handle is given, and without a hook the default state
// is used: neither stores anything nor crashes.
TEST_F(TraceHandleParts, NullHandleAndDefaultStateSendNothing) {
  TraceHandle *Null = InitTraceHandle(&State, nullptr, nullptr, 0);
  EXPECT_EQ(Null, &NullTraceHandle);
  WriteTraceString(Null, nullptr, 1, 0, 3, "abc");
  InitTraceState(nullptr, nullptr, nullptr);
  TraceHandle Default = {};
  InitTraceHandle(nullptr, &Default, nullptr, 0);
  EXPECT_EQ(Default.State, &DefaultTraceState);
  WriteTraceString(&Default, nullptr, 1, 0, 3, "abc");
  EXPECT_ACCESSES(Writes(Hw));
}

} // namespace
