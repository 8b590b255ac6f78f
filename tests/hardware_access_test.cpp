// PCI configuration access through the port pair and the window, the register accessors, and
// the hardware model's empty bus and nesting.
#include <gtest/gtest.h>

#include "diag/hardware_access.h"
#include "platform/hardware.h"
#include "sim/hardware_model.h"
#include "support/diag_board.h"

namespace {

using A = SimAccess;
using namespace diagboard;

constexpr uint32_t UartCfg(uint32_t Register) {
  return PciCfgAddress(0, 24, 2, Register);
}

// The interrupt-flag operations: the flag read (1 when interrupts were enabled), cli and sti.
SimAccess FlagRead(bool On) {
  return {SimAccessKind::InterruptFlagRead, 0, 0, On};
}
const SimAccess Cli = {SimAccessKind::InterruptsOff, 0, 0, 0};
const SimAccess Sti = {SimAccessKind::InterruptsOn, 0, 0, 0};

class PortPair : public ::testing::TestWithParam<bool> {
protected:
  SimHardware Hw;
  SimPciFunction *Uart = nullptr;
  static constexpr uint32_t Saved = 0x8000F8AC; // someone else's address, left in port 0xCF8

  void SetUp() override {
    Uart = &Hw.Pci.Add(0, 24, 2, 0x7E57, 0x1236);
    Uart->Set32(0x10, 0xFEA10004);
    Uart->Set16(0x84, 0x0003);
    Hw.ConfigAddressLatch = Saved;
    Hw.InterruptsEnabled = GetParam();
  }

  // The accesses since the last check: the bracket around every port-pair access (the flag read
  // and interrupts off, the address port saved and set; at the end the address port and the flag
  // put back) with Data inside; and the address port and the flag as they were.
  void ExpectBracketed(uint32_t Address, std::vector<A> Data) {
    const bool On = GetParam();
    std::vector<A> Seq = {FlagRead(On), Cli, In32(0xCF8, Saved), Out32(0xCF8, Address)};
    Seq.insert(Seq.end(), Data.begin(), Data.end());
    Seq.insert(Seq.end(), {Out32(0xCF8, Saved), On ? Sti : Cli});
    EXPECT_ACCESSES(Hw.Log, Seq);
    EXPECT_EQ(Hw.ConfigAddressLatch, Saved);
    EXPECT_EQ(Hw.InterruptsEnabled, On);
    Hw.ClearLog();
  }
};

TEST_P(PortPair, Read32SelectsTheRegisterAndRestoresAddressAndFlag) {
  EXPECT_EQ(PciCfgRead32(UartCfg(0x10)), 0xFEA10004u);
  ExpectBracketed(0x8000C210, {In32(0xCFC, 0xFEA10004)});
  // Bus, device and function all carried; the register's low 2 bits do not reach the address
  // port. A function that is absent reads all ones.
  EXPECT_EQ(PciCfgRead32(PciCfgAddress(0x5A, 31, 7, 0xFF)), 0xFFFFFFFFu);
  ExpectBracketed(0x805AFFFC, {In32(0xCFC, 0xFFFFFFFF)});
}

TEST_P(PortPair, SixteenBitAccessUsesTheWordLaneOfBitOne) {
  Uart->Set32(0x04, 0x00100006);
  EXPECT_EQ(PciCfgRead16(UartCfg(0x06)), 0x0010);
  ExpectBracketed(0x8000C204, {In16(0xCFE, 0x0010)});
  EXPECT_EQ(PciCfgRead16(UartCfg(0x04)), 0x0006);
  ExpectBracketed(0x8000C204, {In16(0xCFC, 0x0006)});
}

TEST_P(PortPair, WriteOrAndClearReadModifyWriteTheSamePort) {
  EXPECT_EQ(PciCfgWrite32(UartCfg(0x10), 0xFEA20000), 0xFEA20000u);
  ExpectBracketed(0x8000C210, {Out32(0xCFC, 0xFEA20000)});
  // The port pair and the window reach the same configuration space.
  EXPECT_EQ(MmioRead32(EcamOf(24, 2) + 0x10), 0xFEA20000u);
  Hw.ClearLog();
  EXPECT_EQ(PciCfgOr16(UartCfg(0x04), 0x0002), 0x0002);
  ExpectBracketed(0x8000C204, {In16(0xCFC, 0), Out16(0xCFC, 2)});
  EXPECT_EQ(PciCfgClear16(UartCfg(0x86)), 0x0000); // upper word of 0x84: nothing to clear
  ExpectBracketed(0x8000C284, {In16(0xCFE, 0), Out16(0xCFE, 0)});
  EXPECT_EQ(PciCfgClear16(UartCfg(0x84)), 0x0000);
  EXPECT_EQ(Uart->Get16(0x84), 0x0000);
  ExpectBracketed(0x8000C284, {In16(0xCFC, 3), Out16(0xCFC, 0)});
}

INSTANTIATE_TEST_SUITE_P(InterruptsOnAndOff, PortPair, ::testing::Bool());

TEST(Ecam, AddressesAFunctionsConfigurationSpace) {
  EXPECT_EQ(EcamAddress(0, 0, 0), 0xE0000000u);
  EXPECT_EQ(EcamAddress(0, 24, 2), 0xE00C2000u);
  EXPECT_EQ(EcamAddress(0, 13, 3), 0xE006B000u);
  EXPECT_EQ(EcamAddress(2, 31, 7), 0xE02FF000u);
}

TEST(Mmio, AccessesHaveExactlyTheNamedWidths) {
  SimHardware Hw;
  Hw.AddRegisters(0x1000, 0x100);
  MmioWrite32(0x1010, 0x11223344);
  MmioWrite16(0x1014, 0xBEEF);
  MmioOr32(0x1010, 0x80000000);
  EXPECT_EQ(MmioRead16(0x1012), 0x9122);
  EXPECT_EQ(MmioRead32(0x1014), 0xBEEFu);
  EXPECT_ACCESSES(Hw.Log, W32(0x1010, 0x11223344), W16(0x1014, 0xBEEF), R32(0x1010, 0x11223344),
                  W32(0x1010, 0x91223344), R16(0x1012, 0x9122), R32(0x1014, 0xBEEF));
}

// Nothing on the bus reads as all ones and drops writes, whether a test built an empty model or
// none at all (the built-in bus, which keeps no log).
TEST(HardwareModel, EmptyBusReadsAllOnesAndDropsWrites) {
  auto ExpectEmpty = [] {
    PortOut8(0x70, 0x40);
    PortOut8(0x71, 0x12);
    EXPECT_EQ(PortIn8(0x71), 0xFF);
    EXPECT_EQ(PhysRead8(0xFEA10014), 0xFF);
    EXPECT_EQ(PhysRead16(0xE0000000), 0xFFFF);
    EXPECT_EQ(PhysRead32(0xD0C50020), 0xFFFFFFFFu);
    EXPECT_EQ(PhysRead64(0x1000), ~0ull);
    PhysWrite32(0xE00C2010, 0);
    EXPECT_EQ(PhysRead32(0xE00C2010), 0xFFFFFFFFu);
    EXPECT_EQ(PciCfgRead32(PciCfgAddress(0, 24, 2, 0)), 0xFFFFFFFFu);
  };
  ExpectEmpty();
  EXPECT_TRUE(SimHardware::Active().Log.empty());
  SimHardware Hw;
  ExpectEmpty();
}

TEST(HardwareModel, NewestModelIsActiveUntilItGoes) {
  SimHardware Outer;
  Outer.AddRegisters(0x2000, 16);
  {
    SimHardware Inner;
    EXPECT_EQ(&SimHardware::Active(), &Inner);
    EXPECT_EQ(PhysRead32(0x2000), 0xFFFFFFFFu);
  }
  EXPECT_EQ(&SimHardware::Active(), &Outer);
  EXPECT_EQ(PhysRead32(0x2000), 0u);
}

} // namespace
