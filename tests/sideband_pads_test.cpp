// Sideband register access (bridge window, message registers, fixed window), chip series, and
// GPIO pad configuration with its routing and direct-IRQ rules.
#include <gtest/gtest.h>

#include <string>

#include "diag/gpio_pads.h"
#include "diag/sideband.h"
#include "sim/hardware_model.h"
#include "support/diag_board.h"

namespace {

using A = SimAccess;
using namespace diagboard;

constexpr uint64_t Bridge = EcamOf(13, 0);
constexpr uint64_t LevelRegister = EcamOf(13, 3) + 0x10;

// Register Offset of sideband port Port in the bridge's window, and a store to it.
constexpr uint64_t Sb(uint8_t Port, uint16_t Offset) {
  return BridgeWindow | uint64_t(Port) << 16 | Offset;
}
A SbWrite(uint8_t Port, uint16_t Offset, uint32_t Value) {
  return W32(Sb(Port, Offset), Value);
}

class Sideband : public ::testing::Test {
protected:
  SimHardware Hw;
  SimPciFunction *BridgeFunction =
      &AddSidebandBridge(Hw, {0x90, 0xC4, 0xC5, 0xC6}, BridgeWindow | 4);
  // A supported board (series 3), whose error messages become visible on the debug UART.
  SimUart *Uart = &AddWorkingDebugUart(Hw);

  void SetUp() override { AddLevelSelector(Hw, 1); }
  // Writes through the bridge's window only.
  std::vector<A> SidebandWrites() const {
    return MemWritesIn(Hw, BridgeWindow, BridgeWindow + 0x1000000);
  }
  // Every EmitDebugMessage call on an identified board starts by reading the level-select
  // window register once, so this counts the messages handed over there, emitted or not.
  size_t MessagesHanded() const {
    return AccessesIn(Hw.Log, MemReads, LevelRegister, LevelRegister + 1).size();
  }
};

// --- Sideband access -----------------------------------------------------------------------------

TEST_F(Sideband, UsableBridgeWindowIsUsedDirectly) {
  Hw.Sideband.Set(0xC5, 0x20, 0x11112222);
  EXPECT_EQ(SidebandRead32(0xC5, 0x20), 0x11112222u);
  SidebandWrite32(0xC5, 0x24, 0x33334444);
  EXPECT_EQ(Hw.Sideband.Get(0xC5, 0x24), 0x33334444u);
  const A Window = R32(Bridge + 0x10, BridgeWindow | 0x4), Command = R16(Bridge + 0x04, 0x0006);
  EXPECT_ACCESSES(Hw.Log, Window, Command, R32(Sb(0xC5, 0x20), 0x11112222), Window, Command,
                  SbWrite(0xC5, 0x24, 0x33334444));
}

TEST_F(Sideband, HiddenBridgeIsReachedThroughItsMessageRegisters) {
  BridgeFunction->Set32(0x10, 0xFFFFFFFF);
  Hw.Sideband.Set(0xC5, 0x34, 0x0000A000);
  EXPECT_EQ(SidebandRead32(0xC5, 0x34), 0x0000A000u);
  EXPECT_ACCESSES(Hw.Log, R32(Bridge + 0x10, 0xFFFFFFFF), R16(Bridge + 0x04, 0x0006),
                  W32(Bridge + 0xDC, 0), W32(Bridge + 0xD4, 0), W32(Bridge + 0xD0, 0xC5000034),
                  W16(Bridge + 0xDA, 0xF000), W16(Bridge + 0xD8, 0x0601),
                  R32(Bridge + 0xD4, 0x0000A000));

  Hw.ClearLog();
  SidebandWrite32(0xC5, 0x84, 0xBEEF);
  EXPECT_EQ(Hw.Sideband.Get(0xC5, 0x84), 0xBEEFu);
  EXPECT_ACCESSES(Writes(Hw), W32(Bridge + 0xD0, 0xC5000084), W16(Bridge + 0xDA, 0xF000),
                  W32(Bridge + 0xDC, 0), W32(Bridge + 0xD4, 0xBEEF), W16(Bridge + 0xD8, 0x0701));
  EXPECT_EQ(Hw.SidebandMessages, 2u);
}

TEST_F(Sideband, UnassignedWindowDecodingOffOrMisalignedOffsetUseMessages) {
  struct Case {
    uint32_t Base;
    uint16_t Command;
    uint16_t Offset;
  };
  for (Case C : {Case{0x00000FFF, 0x6, 0x20}, Case{BridgeWindow, 0x4, 0x20},
                 Case{BridgeWindow, 0x6, 0x22}}) {
    BridgeFunction->Set32(0x10, C.Base);
    BridgeFunction->Set16(0x04, C.Command);
    size_t Before = Hw.SidebandMessages;
    SidebandRead32(0xC4, C.Offset);
    EXPECT_EQ(Hw.SidebandMessages, Before + 1) << std::hex << C.Base << " " << C.Offset;
  }
}

TEST_F(Sideband, FixedWindowReachesTheRegisterByPortAndOffset) {
  Hw.Sideband.Set(0x90, 0x618, 0x5);
  UINT32 Value = 0;
  EXPECT_EQ(PchPcrRead(0x90, 0x618, &Value), EFI_SUCCESS);
  EXPECT_EQ(Value, 5u);
  EXPECT_EQ(PchPcrWrite(0xC6, 0x0F1C, 0x100), EFI_SUCCESS);
  EXPECT_ACCESSES(Hw.Log, R32(0xD0900618, 5), W32(0xD0C60F1C, 0x100));
  PcrReadModifyWrite(0xC6, 0x0F1C, 0xFFFFFEFF, 0x40000);
  EXPECT_EQ(Hw.Sideband.Get(0xC6, 0x0F1C), 0x40000u);
}

TEST_F(Sideband, MisalignedFixedWindowOffsetIsRefusedWithItsMessage) {
  UINT32 Value = 0xA5A5A5A5;
  EXPECT_EQ(PchPcrRead(0x90, 0x61A, &Value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Value, 0xA5A5A5A5u);
  EXPECT_EQ(Uart->Transmitted, "PchPcrRead error. Invalid Offset: 61A Size: 4");
  Uart->Transmitted.clear();
  EXPECT_EQ(PchPcrWrite(0x90, 0x61A, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Uart->Transmitted, "PchPcrWrite error. Invalid Offset: 61A Size: 4");
  Hw.ClearLog();
  PcrReadModifyWrite(0x90, 0x61A, 0, 1);
  EXPECT_TRUE(MemWritesIn(Hw, 0xD0000000, 0xD1000000).empty());
}

// A host bridge of the platform's vendor that names no known series is a sibling board, not a
// supported Tarn board: nothing goes out on its hardware, and not even the level selector's
// window is read for the report.
TEST_F(Sideband, ChipSeriesComesFromTheHostBridgeIds) {
  struct {
    uint16_t DeviceId, VendorId;
    uint8_t Series;
  } Cases[] = {{HostBridgeIdSeries0, PlatformVendorId, 0},
               {HostBridgeIdSeries1, PlatformVendorId, 1},
               {HostBridgeIdSeries3, PlatformVendorId, 3},
               {HostBridgeIdSeries3, PlatformVendorId ^ 1, 0xFF},
               {0x0BAD, PlatformVendorId, 0xFF}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << C.DeviceId << " " << C.VendorId);
    AddHostBridge(Hw, C.DeviceId, C.VendorId);
    Hw.ClearLog();
    EXPECT_EQ(DetectChipSeries(), C.Series);
    EXPECT_EQ(Uart->Transmitted, "");
  }
  EXPECT_EQ(MessagesHanded(), 0u);
  EXPECT_ACCESSES(Writes(Hw));
}

// --- Pads ----------------------------------------------------------------------------------------

TEST_F(Sideband, UartPadsGetTheirWordsAndSoftwareOwnershipAndNoRouting) {
  for (uint16_t Offset = 0x570; Offset < 0x590; Offset += 4)
    Hw.Sideband.Set(0xC5, Offset, 0xFFFFFFFF);
  Hw.Sideband.Set(0xC5, 0x84, 0x00038000);
  ConfigureUartPads();
  // clang-format off
  EXPECT_ACCESSES(SidebandWrites(),
      SbWrite(0xC5, 0x570, 0xFD61E5FE), SbWrite(0xC5, 0x574, 0xFFFE70FF), // pad 46, bit 14 set
      SbWrite(0xC5, 0x84, 0x0003C000),
      SbWrite(0xC5, 0x578, 0xFD61E4FE), SbWrite(0xC5, 0x57C, 0xFFFC31FF), // pad 47, bit 15 clear
      SbWrite(0xC5, 0x84, 0x00034000),
      SbWrite(0xC5, 0x580, 0xFD61E4FE), SbWrite(0xC5, 0x584, 0xFFFC31FF), // pad 48, bit 16 clear
      SbWrite(0xC5, 0x84, 0x00024000),
      SbWrite(0xC5, 0x588, 0xFD61E4FE), SbWrite(0xC5, 0x58C, 0xFFFC30FF), // pad 49, bit 17 clear
      SbWrite(0xC5, 0x84, 0x00004000));
  // clang-format on
  // Ownership of pads 46-49 was read from 0x34 (pads 40-47) and 0x38 (pads 48-55).
  const A Own40 = R32(Sb(0xC5, 0x34), 0), Own48 = R32(Sb(0xC5, 0x38), 0);
  EXPECT_ACCESSES(AccessesIn(Hw.Log, MemReads, Sb(0xC5, 0x20), Sb(0xC5, 0x80)), Own40, Own40, Own48,
                  Own48);
  EXPECT_EQ(MessagesHanded(), 0u);
}

TEST_F(Sideband, PadOwnedElsewhereIsLeftUntouched) {
  Hw.Sideband.Set(0xC5, 0x34, 0x02000000); // pad 46: owner 2; pad 47 (bits 28-29): host
  ConfigureUartPads();
  for (const A &Write : SidebandWrites())
    EXPECT_NE(Write.Address, Sb(0xC5, 0x570)) << Write;
  EXPECT_EQ(SidebandWrites().size(), 9u);
  EXPECT_EQ(MessagesHanded(), 1u);
}

TEST_F(Sideband, PadIdentifierBelowThePadRegistersIsNoPad) {
  EXPECT_EQ(GetPadOwnership(0x00C503F8), PadOwnerNone);
  ConfigurePad({0x00C503F8, 0x04000400, 0, 0, 0});
  EXPECT_ACCESSES(SidebandWrites());
}

// The routing in bits 17-20 of the pad's first word: SCI/GPE and SMI only on series 3 and only
// for pads the host's driver does not own, a direct IRQ's slot only when asked; each a step
// after the pad's own three writes, each step reported.
TEST_F(Sideband, PadRoutingFollowsItsBitsTheSeriesAndTheOwner) {
  Hw.Sideband.Set(0xC5, 0x140, 0x1);
  const uint16_t S0 = HostBridgeIdSeries0, S1 = HostBridgeIdSeries1, S3 = HostBridgeIdSeries3;
  const uint32_t Gpe = 0x00C40400 + 8 * 37, Smi = 0x00C50400 + 8 * 3, Irq = 0x00C40400 + 8 * 33;
  struct Row {
    uint16_t Series;
    PadConfig Pad;
    std::vector<A> Routing;
    size_t Messages;
  } Rows[] = {
      // clang-format off
      {S3, {Gpe, 0x00080000, 0, 0, 0},
       {SbWrite(0xC4, 0x124, 1u << 5), SbWrite(0xC4, 0x134, 1u << 5)}, 4},
      {S0, {Gpe, 0x00080000, 0, 0, 0}, {}, 0},
      {S1, {Gpe, 0x00080000, 0, 0, 0}, {}, 0},
      {S3, {Gpe, 0x00080000, 0, 1, 0}, {}, 0},
      {S3, {Smi, 0x00040000, 0, 0, 0}, {SbWrite(0xC5, 0x140, 0x9), SbWrite(0xC5, 0x150, 0x8)}, 4},
      {S3, {Irq, 0x00100000, 0, 0, 0}, {}, 1},
      {S3, {Irq, 0x00100000, 0, 0, 1},
       {SbWrite(0xC4, 0x220, 0x20), SbWrite(0xC4, 0x224, 0), SbWrite(0xC4, 0x210, 0x2)}, 1},
      // clang-format on
  };
  for (const Row &R : Rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << R.Series << " " << R.Pad.PadId << " "
                                      << R.Pad.SoftwareOwned << R.Pad.DirectIrq);
    AddHostBridge(Hw, R.Series);
    Hw.ClearLog();
    ConfigurePad(R.Pad);
    std::vector<A> W = SidebandWrites();
    ASSERT_EQ(W.size(), 3 + R.Routing.size()) << DescribeAccesses(W);
    EXPECT_EQ(std::vector<A>(W.begin() + 3, W.end()), R.Routing);
    EXPECT_EQ(MessagesHanded(), R.Messages);
  }
}

// --- Direct IRQ ----------------------------------------------------------------------------------

TEST_F(Sideband, DirectIrqSlotAndGroupComeFromThePadNumber) {
  Hw.Sideband.Set(0xC4, 0x220, 0x00000001);
  Hw.Sideband.Set(0xC4, 0x224, 0x10000000);
  Hw.Sideband.Set(0xC4, 0x210, 0x00008000);
  ConfigureDirectIrq(0xC4, 33); // slot 1, group 2
  EXPECT_ACCESSES(SidebandWrites(), SbWrite(0xC4, 0x220, 0x00000021),
                  SbWrite(0xC4, 0x224, 0x10000000), SbWrite(0xC4, 0x210, 0x00008002));
  Hw.ClearLog();
  ConfigureDirectIrq(0xC5, 61); // slot 13, group 3: bits 52-55, in the high half
  EXPECT_ACCESSES(SidebandWrites(), SbWrite(0xC5, 0x220, 0), SbWrite(0xC5, 0x224, 0x00300000),
                  SbWrite(0xC5, 0x210, 0x00002000));
}

TEST_F(Sideband, DirectIrqLimitsDependOnCommunityAndSeries) {
  struct Case {
    uint16_t Series;
    uint8_t Port;
    uint16_t Pad;
    bool Accepted;
  };
  const uint16_t S3 = HostBridgeIdSeries3, S0 = HostBridgeIdSeries0;
  const Case Cases[] = {
      {S3, 0xC5, 61, true}, {S3, 0xC5, 62, false},    {S0, 0xC5, 73, true},  {S0, 0xC5, 74, false},
      {S3, 0xC4, 0, false}, {S3, 0xC4, 32, false},    {S3, 0xC4, 33, true},  {S3, 0xC4, 52, false},
      {S3, 0xC4, 59, true}, {S3, 0xC4, 60, false},    {S3, 0xC4, 61, true},  {S0, 0xC4, 20, false},
      {S0, 0xC4, 21, true}, {S0, 0xC4, 44, false},    {S0, 0xC4, 52, false}, {S0, 0xC4, 53, true},
      {S0, 0xC4, 60, true}, {0x0BAD, 0xC5, 73, true},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(::testing::Message()
                 << std::hex << C.Series << " " << int(C.Port) << " " << std::dec << C.Pad);
    AddHostBridge(Hw, C.Series);
    Hw.ClearLog();
    Uart->Transmitted.clear();
    ConfigureDirectIrq(C.Port, C.Pad);
    EXPECT_EQ(SidebandWrites().size(), C.Accepted ? 3u : 0u);
    if (!C.Accepted)
      EXPECT_EQ(Uart->Transmitted, "\tThere is configuration error on direct IRQ! index: " +
                                       std::to_string(C.Pad) + "\r\n");
  }
  Hw.ClearLog();
  ConfigureDirectIrq(0x90, 5);
  EXPECT_TRUE(SidebandWrites().empty());
  EXPECT_EQ(MessagesHanded(), 0u);
}

} // namespace
