// Debug messages and the debug UART: the level mask, both outputs, the CMOS switch, the UART's
// window and power, bounded transmission, and the serial-controller lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "diag/debug_message.h"
#include "diag/debug_uart.h"
#include "diag/debug_uart_init.h"
#include "diag/trace_hub.h"
#include "sim/hardware_model.h"
#include "support/diag_board.h"

namespace {

using A = SimAccess;
using namespace diagboard;

UINTN UartWrite(const std::string &Text) {
  return DebugUartWrite(reinterpret_cast<const UINT8 *>(Text.data()), Text.size());
}

// A board with everything the messages go to.
class DebugBoard : public ::testing::Test {
protected:
  SimHardware Hw;
  SimUart *Uart = &AddWorkingDebugUart(Hw);
  void SetUp() override { AddTraceHub(Hw); }
  std::vector<A> TraceStores() const { return MemWritesIn(Hw, TraceChannel, TraceChannel + 0x40); }
};

// --- Level mask ----------------------------------------------------------------------------------

// Errors go out only while the selector reads 1 through a window that is assigned and below
// 4 GiB; Info never does. A dropped message is dropped on the last read of the selector's
// function or window, before anything is written.
TEST_F(DebugBoard, ErrorsGoOutOnlyWhileTheSelectorReadsOne) {
  const uint64_t Config = EcamOf(13, 3), Selector = LevelWindow + 0x1408;
  struct Row {
    uint32_t Window, Upper, Selector;
    A LastRead;
  } Rows[] = {{LevelWindow, 0, 1, {}},
              {LevelWindow, 0, 0, R32(Selector, 0)},
              {LevelWindow, 0, 2, R32(Selector, 2)},
              {LevelWindow, 0, 0xFFFFFFFF, R32(Selector, 0xFFFFFFFF)},
              {0x00000000, 0, 1, R32(Config + 0x10, 0)},
              {0xFFFFFFFF, 0, 1, R32(Config + 0x10, 0xFFFFFFFF)},
              {LevelWindow | 0x4, 1, 1, R32(Config + 0x14, 1)}}; // 64-bit, above 4 GiB
  for (const Row &R : Rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << R.Window << " " << R.Selector);
    const bool Emitted = R.Window == LevelWindow && R.Selector == 1;
    AddLevelSelector(Hw, R.Selector);
    Hw.Pci.Find(0, 13, 3)->Set32(0x10, R.Window);
    Hw.Pci.Find(0, 13, 3)->Set32(0x14, R.Upper);
    Uart->Transmitted.clear();
    Hw.ClearLog();
    EXPECT_EQ(CurrentDebugLevelMask(), Emitted ? DebugLevelError : DefaultDebugLevelMask);
    EmitDebugMessage(DebugLevelError, "Status: 0x%08x\r\n", 0x80000007u);
    EXPECT_EQ(TraceStores().empty(), !Emitted);
    EXPECT_EQ(Uart->Transmitted, Emitted ? "Status: 0x80000007\r\n" : "");
    if (!Emitted) {
      EXPECT_EQ(Hw.Log.back(), R.LastRead) << DescribeAccesses(Hw.Log);
      EXPECT_ACCESSES(Writes(Hw));
    }
    Hw.ClearLog();
    EmitDebugMessage(DebugLevelInfo, "info %d\n", 1);
    EXPECT_TRUE(TraceStores().empty());
  }
}

// A trace hub's window the firmware placed above 4 GiB (64-bit, upper half not zero) is out of
// the channel's reach: it is never written through its low half, and the UART still gets the text.
TEST_F(DebugBoard, TraceWindowAbove4GiBIsNeverWrittenThroughItsLowHalf) {
  AddLevelSelector(Hw, 1);
  SimPciFunction &Hub = *Hw.Pci.Find(0, 0, 2);
  Hub.Set32(0x18, TraceWindow | 0x4);
  Hub.Set32(0x1C, 0x2);
  EmitDebugMessage(DebugLevelError, "Status: 0x%08x\r\n", 7u);
  EXPECT_EQ(Uart->Transmitted, "Status: 0x00000007\r\n");
  EXPECT_TRUE(MemWritesIn(Hw, TraceWindow, TraceWindow + 0x1000).empty());
}

// --- Both outputs --------------------------------------------------------------------------------

// Hexadecimal digits are uppercase, and the engine already ends the line with "\r\n"; the
// channel sends the text as it is, cut at 255 bytes. An empty text goes as an empty inline record,
// and the UART is only waited on.
TEST_F(DebugBoard, MessageGoesToTheTraceHubThenTheUartExactlyAsFormatted) {
  AddLevelSelector(Hw, 1);
  const std::string Long(300, 'x');
  const FormatArg Status[] = {MakeFormatArg(0x1Fu)};
  struct Row {
    const char *Format;
    FormatArgList Args;
    std::string Text;
    std::vector<unsigned> Widths; // of the trace record's payload stores
  } Rows[] = {{"Status: 0x%08x\r\n", {Status, 1}, "Status: 0x0000001F\r\n", {64, 64, 32}},
              {Long.c_str(), {}, Long.substr(0, 255), StoreWidths(31, {32, 16, 8})},
              {"", {}, "", {}}};
  for (const Row &R : Rows) {
    SCOPED_TRACE(R.Text);
    Hw.ClearLog();
    Uart->Transmitted.clear();
    EmitDebugMessageArgs(DebugLevelError, R.Format, R.Args);
    EXPECT_ACCESSES(TraceStores(), R.Text.empty() ? InlineRecord("") : DebugRecord(R.Text, R.Widths));
    EXPECT_EQ(Uart->Transmitted, R.Text);
    // The record is complete before the first byte reaches the UART.
    const std::vector<A> Stores = AccessesIn(Hw.Log, MemWrites);
    auto First = [&](uint64_t At) {
      return std::find_if(Stores.begin(), Stores.end(),
                          [&](const A &S) { return S.Address == At; });
    };
    EXPECT_LT(First(TraceChannel + 0x30), First(UartBase + Thr));
  }
  EXPECT_ACCESSES(UartAccesses(Hw.Log), UartIn(Lsr, 0x60)); // the empty text's
}

// An empty bus (another machine, QEMU): every entry point of the channel looks and finds
// nothing, and none writes anything; the CMOS is not even read.
TEST(EmptyBus, NoEntryPointOfTheChannelWritesAnything) {
  SimHardware Hw;
  InitDebugUart();
  for (INT32 Index : {DebugUartController, -1, 15})
    SetupSerialIoController(Index, 2);
  EmitDebugMessage(DebugLevelError, "Status: 0x%08x\r\n", 0u);
  EXPECT_EQ(UartWrite("abc"), 0u);
  EXPECT_EQ(SendDebugTrace(0, "hello", 5), EFI_SUCCESS);
  EXPECT_ACCESSES(Writes(Hw));
}

// --- UART writes ---------------------------------------------------------------------------------

TEST_F(DebugBoard, FortyBytesGoOutAsSixteenSixteenAndEightAfterEachEmptyTransmitter) {
  const std::string Text = TextOf(40);
  // Bit 6 clear, then set; the holding-register bit alone (0x20) is not enough.
  Uart->LineStatusScript = {0x00, 0x40, 0x20, 0x00, 0x60, 0x20, 0x40};
  EXPECT_EQ(UartWrite(Text), 40u);
  std::vector<A> Expected;
  auto Burst = [&](std::vector<uint8_t> Polls, int From, int To) {
    for (uint8_t Status : Polls)
      Expected.push_back(UartIn(Lsr, Status));
    for (int I = From; I < To; I++)
      Expected.push_back(UartOut(Thr, Text[I]));
  };
  Burst({0x00, 0x40}, 0, 16);
  Burst({0x20, 0x00, 0x60}, 16, 32);
  Burst({0x20, 0x40}, 32, 40);
  EXPECT_ACCESSES(UartAccesses(Hw.Log), Expected);
  EXPECT_EQ(Uart->Transmitted, Text);
}

TEST_F(DebugBoard, ZeroBytesWaitForAnIdleTransmitterAndReturnZero) {
  Uart->LineStatusScript = {0x40, 0x20};
  EXPECT_EQ(DebugUartWrite(reinterpret_cast<const UINT8 *>("x"), 0), 0u);
  EXPECT_ACCESSES(UartAccesses(Hw.Log), UartIn(Lsr, 0x40), UartIn(Lsr, 0x20), UartIn(Lsr, 0x60));
}

TEST_F(DebugBoard, UartThatNeverEmptiesCostsBoundedPollsAndDropsTheBytes) {
  Uart->LineStatus = 0x00;
  EXPECT_EQ(UartWrite("abc"), 0u);
  EXPECT_EQ(Uart->LineStatusReads, DebugUartPollLimit);
  EXPECT_EQ(Uart->Transmitted, "");

  // Stuck after the first burst: the rest is dropped and the write reports nothing written.
  Uart->LineStatusReads = 0;
  Uart->LineStatusScript = {0x40};
  EXPECT_EQ(UartWrite(std::string(20, 'q')), 0u);
  EXPECT_EQ(Uart->Transmitted, std::string(16, 'q'));
  EXPECT_EQ(Uart->LineStatusReads, 1 + DebugUartPollLimit);

  // An idle wait on such a UART ends too.
  Uart->LineStatusReads = 0;
  EXPECT_EQ(DebugUartWrite(nullptr, 0), 0u);
  EXPECT_EQ(Uart->LineStatusReads, DebugUartPollLimit);
}

// --- CMOS ----------------------------------------------------------------------------------------

// The word is read high byte first; a valid one is left alone, an invalid one rewritten to
// "output on", low byte first, without a message (the warning is at Info, and errors pass).
TEST_F(DebugBoard, CmosWordIsReadHighByteFirstAndAnInvalidOneRewrittenToOutputOn) {
  AddLevelSelector(Hw, 1);
  for (uint32_t Word : {0x80000200u, 0x80000400u, 0xC0000000u, 0x00000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(Word);
    const bool Valid = Word == 0x80000200u; // and says "output off"
    SetCmosWord(Hw, Word);
    Hw.ClearLog();
    EXPECT_EQ(CheckDebugCmos(), Valid);
    std::vector<A> Expected;
    for (int Byte = 3; Byte >= 0; Byte--)
      Expected.insert(Expected.end(),
                      {Out8(0x70, 0x40 + Byte), In8(0x71, uint8_t(Word >> 8 * Byte))});
    for (int Byte = 0; Byte < 4 && !Valid; Byte++)
      Expected.insert(Expected.end(), {Out8(0x70, 0x40 + Byte), Out8(0x71, Byte == 3 ? 0x80 : 0)});
    EXPECT_ACCESSES(AccessesIn(Hw.Log, PortAccesses, 0x70, 0x72), Expected);
    EXPECT_EQ(CmosWord(Hw), Valid ? Word : 0x80000000u);
    EXPECT_TRUE(TraceStores().empty());
  }
  // From then on the output is on.
  EXPECT_EQ(UartWrite("ok"), 2u);
  EXPECT_EQ(Uart->Transmitted, "ok");
}

TEST(DebugCmos, AbsentUartMeansOffAndNeitherTheCmosNorAnythingElseIsWritten) {
  // A valid "output on" word, and invalid ones that a Tarn board would have reset.
  for (uint32_t Word : {0x80000000u, 0x00000000u, 0x12345678u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(Word);
    SimHardware Hw;
    SetCmosWord(Hw, Word);
    Hw.Pci.Add(0, 24, 2, PlatformVendorId + 1, 0x1236);
    EXPECT_TRUE(CheckDebugCmos());
    EXPECT_ACCESSES(AccessesIn(Hw.Log, PortAccesses, 0x70, 0x72));
    EXPECT_EQ(CmosWord(Hw), Word);
    // The start-up then writes nothing at all.
    InitDebugUart();
    EXPECT_ACCESSES(Writes(Hw));
  }
}

// --- Finding and powering the UART ---------------------------------------------------------------

class UartWindow : public DebugBoard {
protected:
  SimPciFunction &Function() { return *Hw.Pci.Find(0, 24, 2); }
  // Writes through the configuration data port.
  std::vector<A> ConfigWrites() const { return AccessesIn(Hw.Log, PortWrites, 0xCFC, 0xD00); }
};

TEST_F(UartWindow, FirstMemoryWindowAmongTheSixIsUsedAndDecodingSwitchedOn) {
  Function().Set32(0x10, 0x0000E001);     // I/O
  Function().Set32(0x14, 0x0000E101);     // I/O
  Function().Set32(0x18, UartBase | 0x4); // a 64-bit window, its upper half 0 in 0x1C
  EXPECT_EQ(LocateDebugUart(), UartBase);
  EXPECT_EQ(Function().Get16(0x04), 0x0002);
  // The window search reads 0x10, 0x14, 0x18, then 0x18 again and the upper half in 0x1C.
  std::vector<uint64_t> Selected;
  for (const A &Access : AccessesIn(Hw.Log, PortWrites, 0xCF8, 0xCF9))
    if (Access.Value & 0x80000000u)
      Selected.push_back(Access.Value & 0xFF);
  EXPECT_EQ(Selected, (std::vector<uint64_t>{0x10, 0x14, 0x18, 0x18, 0x1C, 0x04, 0x84}));
  EXPECT_ACCESSES(ConfigWrites(), Out16(0xCFC, 0x0002));
}

// An unassigned window is given the default base. None among the six (all ones: I/O), or one in
// the top mebibyte, where the firmware's flash is, means no UART; the function is left as it was.
TEST_F(UartWindow, UnassignedWindowGetsTheDefaultBaseAndUnusableOnesMeanNoUart) {
  struct Row {
    uint32_t Window, Located;
    std::vector<A> ConfigWrites;
  } Rows[] = {{0, 0xFEA10000, {Out32(0xCFC, 0xFEA10000), Out16(0xCFC, 0x0002)}},
              {0xFFEFF000, 0xFFEFF000, {Out16(0xCFC, 0x0002)}},
              {0xFFF00000, 0, {}},
              {0xFFFFF000, 0, {}},
              {0xFFFFFFFF, 0, {}}};
  for (const Row &R : Rows) {
    SCOPED_TRACE(R.Window);
    for (uint32_t Register = 0x10; Register <= 0x24; Register += 4)
      Function().Set32(Register, R.Window);
    Hw.ClearLog();
    EXPECT_EQ(LocateDebugUart(), R.Located);
    EXPECT_ACCESSES(ConfigWrites(), R.ConfigWrites);
    EXPECT_EQ(Function().Get32(0x10), R.Located != 0 ? R.Located : R.Window);
    if (R.Located == 0)
      EXPECT_EQ(UartWrite("a"), 0u);
  }
}

TEST_F(UartWindow, PowerStepBringsTheUartToFullPowerAndReenablesTheFifo) {
  Function().Set16(0x84, 0x0103);
  EXPECT_EQ(LocateDebugUart(), UartBase);
  EXPECT_EQ(Function().Get16(0x84), 0x0100);
  EXPECT_ACCESSES(ConfigWrites(), Out16(0xCFC, 0x0002), Out16(0xCFC, 0x0100));
  EXPECT_EQ(Uart->FcrWrites, (std::vector<uint8_t>{0x01}));
  // Already on: nothing more.
  Hw.ClearLog();
  Uart->FcrWrites.clear();
  LocateDebugUart();
  EXPECT_ACCESSES(ConfigWrites(), Out16(0xCFC, 0x0002));
  EXPECT_TRUE(Uart->FcrWrites.empty());
}

// --- Serial-controller lookup --------------------------------------------------------------------

TEST(SerialIoBase, SelectorsGiveConfigurationSpaceOrAWindow) {
  SimHardware Hw;
  SimPciFunction &Spi = Hw.Pci.Add(0, 22, 1, PlatformVendorId, 0x1111);
  Spi.Set32(0x10, 0xFE920ABC);
  Spi.Set32(0x20, 0xFE928004);
  EXPECT_EQ(GetSerialIoBase(1, 0), 0xFE920000u);
  EXPECT_EQ(GetSerialIoBase(1, 1), EcamOf(22, 1));
  EXPECT_EQ(GetSerialIoBase(1, 2), 0xFE928000u);
  for (INT32 Absent : {0, -1, 15})
    EXPECT_EQ(GetSerialIoBase(Absent, 0), SerialIoAbsent) << Absent;
  Spi.Set16(0x00, PlatformVendorId ^ 0x8000);
  EXPECT_EQ(GetSerialIoBase(1, 1), SerialIoAbsent);
}

TEST(SerialIoTable, RowsFollowTheDeviceLayoutOfTheChip) {
  for (INT32 I = 0; I < SerialIoControllerCount; I++) {
    const SerialIoController &Row = SerialIoControllers[I];
    EXPECT_EQ(Row.Device, 22 + I / 4);
    EXPECT_EQ(Row.Function, I % 4);
    EXPECT_EQ(Row.DefaultBase1, Row.DefaultBase0 + 0x1000);
    EXPECT_EQ(Row.Port90Offset, 0x200 + 4 * I);
    EXPECT_EQ(Row.PortC6Offset, 0x1900 - 0x100 * I);
  }
  EXPECT_EQ(SerialIoControllers[DebugUartController].DefaultBase0, DebugUartDefaultBase);
}

} // namespace
