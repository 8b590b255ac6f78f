// Debug UART start-up: the controller set-up by type, the line-settings check and programming,
// and silence when the serial output is off.
#include <gtest/gtest.h>

#include "diag/debug_message.h"
#include "diag/debug_uart.h"
#include "diag/debug_uart_init.h"
#include "main/kestrel.h"
#include "sim/hardware_model.h"
#include "sim/sim_shell.h"
#include "support/board_fixture.h"
#include "support/diag_board.h"

namespace {

using namespace diagboard;

constexpr uint64_t UartCfg = EcamOf(24, 2);

// Whether every access made while the UART's divisor latch is open (from a line-control write
// with bit 7 set to the one that clears it) happens with the processor's interrupts masked, and
// they are enabled again afterwards: a timer callback printing to the port meanwhile would write
// the divisor.
bool LatchOpenOnlyWithInterruptsMasked(const std::vector<SimAccess> &Log) {
  bool Enabled = true, Latched = false;
  for (const SimAccess &Access : Log) {
    if (Access.Kind == SimAccessKind::InterruptsOff || Access.Kind == SimAccessKind::InterruptsOn)
      Enabled = Access.Kind == SimAccessKind::InterruptsOn;
    if (Access.Kind == SimAccessKind::MemWrite && Access.Address == UartBase + Lcr) {
      if ((Access.Value & 0x80) != 0 && Enabled)
        return false;
      Latched = (Access.Value & 0x80) != 0;
    }
    if (Latched && Enabled)
      return false;
  }
  return Enabled && !Latched;
}

// A board as the firmware leaves it: CMOS saying "output on", the debug UART with its window,
// the sideband bridge's window, the GPIO community and the serial-I/O sideband ports.
class StartUp : public ::testing::Test {
protected:
  SimHardware Hw;
  SimUart *Uart = &AddWorkingDebugUart(Hw);
  SimPciFunction *UartFunction = Hw.Pci.Find(0, 24, 2);

  void SetUp() override { AddSidebandBridge(Hw, {0x90, 0xC5, 0xC6}); }
  void SetLineSettings(uint8_t LineControl, uint16_t Divisor) {
    Uart->Lcr = LineControl;
    Uart->Dll = static_cast<uint8_t>(Divisor);
    Uart->Dlm = static_cast<uint8_t>(Divisor >> 8);
  }
  // The probe of the line settings: the latch opened around a read of the divisor.
  static std::vector<SimAccess> Probe(uint8_t LineControl, uint16_t Divisor) {
    return {UartIn(Lcr, LineControl),         UartIn(Lcr, LineControl),
            UartOut(Lcr, LineControl | 0x80), UartIn(Ier, uint8_t(Divisor >> 8)),
            UartIn(Thr, uint8_t(Divisor)),    UartIn(Lcr, LineControl | 0x80),
            UartOut(Lcr, LineControl)};
  }
};

// Output off: the start-up, a write and the UART's lookup each read the CMOS word, with four
// index selects, and write nothing else.
TEST_F(StartUp, SerialOutputOffInCmosWritesNothingAtAll) {
  SetCmosWord(Hw, 0x80000200);
  InitDebugUart();
  EXPECT_EQ(DebugUartWrite(reinterpret_cast<const UINT8 *>("abc"), 3), 0u);
  EXPECT_EQ(LocateDebugUart(), 0u);
  EXPECT_ACCESSES(Writes(Hw), CmosSelects(3));
}

// The line settings are probed once the controller is set up. A UART already at ours is left so
// (bit 6, break, plays no part); any other is reprogrammed once its transmitter is idle, or after
// the poll limit if it never goes idle.
TEST_F(StartUp, UartIsReprogrammedOnceIdleUnlessAlreadyAtOurSettings) {
  const std::vector<uint8_t> Idle = {0x20, 0x60}, NeverIdle(DebugUartPollLimit, 0x00);
  struct Row {
    uint8_t LineControl;
    uint16_t Divisor;
    uint32_t Window;
    bool Reprogrammed;
    std::vector<uint8_t> Polls; // of the line status, waiting for an idle transmitter
  } Rows[] = {{0x43, 4, UartBase, false, {}},
              {0x07, 4, UartBase, true, Idle},
              {0x03, 0x0104, UartBase, true, Idle},
              {0x03, 1, UartBase, true, Idle},
              {0x00, 0, 0, true, Idle}, // unassigned: given the default window first
              {0x00, 0, UartBase, true, NeverIdle}};
  for (const Row &R : Rows) {
    SCOPED_TRACE(::testing::Message() << int(R.LineControl) << " " << R.Divisor << " " << R.Window
                                      << " " << R.Polls.size());
    SetLineSettings(R.LineControl, R.Divisor);
    UartFunction->Set32(0x10, R.Window);
    Uart->LineStatusScript.assign(R.Polls.begin(), R.Polls.end());
    Hw.ClearLog();
    InitDebugUart();
    std::vector<SimAccess> Expected = Probe(R.LineControl, R.Divisor);
    for (uint8_t Status : R.Polls)
      Expected.push_back(UartIn(Lsr, Status));
    if (R.Reprogrammed)
      Expected.insert(Expected.end(), {UartOut(Lcr, 0x80), UartOut(Ier, 0x00), UartOut(Thr, 0x04),
                                       UartOut(Lcr, 0x03), UartOut(Fcr, 0x00), UartOut(Fcr, 0x01),
                                       UartOut(Mcr, 0x00)});
    EXPECT_ACCESSES(UartAccesses(Hw.Log), Expected);
    EXPECT_EQ(UartFunction->Get32(0x10), UartBase);
    EXPECT_EQ(Uart->Lcr, R.Reprogrammed ? 0x03 : R.LineControl);
    EXPECT_EQ(Uart->Dll, 4);
    EXPECT_EQ(Uart->Dlm, 0);
    EXPECT_EQ(Uart->Ier, 0); // interrupts stay off
    EXPECT_TRUE(LatchOpenOnlyWithInterruptsMasked(Hw.Log)) << DescribeAccesses(Hw.Log);
    // The pads and the controller were set up on the way (the first row finds them untouched).
    EXPECT_EQ(Hw.Sideband.Get(0xC5, 0x570) & 0x04000500, 0x04000500u);
    EXPECT_EQ(Uart->PrivateGet32(0x200), 0xBD090901u);
  }
}

// A UART the firmware already drives at our settings (its console, or an automation's line into
// the shell) is not reset, re-clocked or reprogrammed: reading the CMOS word and the divisor
// through the latch are the only writes.
TEST_F(StartUp, WorkingUartAtOurSettingsIsOnlyProbed) {
  SetLineSettings(0x03, 4);
  UartFunction->Set16(0x04, 0x0006);
  InitDebugUart();
  std::vector<SimAccess> Expected = CmosSelects();
  Expected.insert(Expected.end(), {UartOut(Lcr, 0x83), UartOut(Lcr, 0x03)});
  EXPECT_ACCESSES(Writes(Hw), Expected);

  // An I/O window in the first register is no working UART: its number is never probed as an
  // address (the latch would be written at 0xE00C).
  Hw.AddRegisters(0xE000, 0x1000);
  UartFunction->Set32(0x10, 0xE001);
  Hw.ClearLog();
  InitDebugUart();
  EXPECT_ACCESSES(MemWritesIn(Hw, 0xE000, 0xE020));
  UartFunction->Set32(0x10, UartBase);

  // Powered down, it is not working, and is brought up as before.
  UartFunction->Set16(0x84, 0x0003);
  Hw.ClearLog();
  InitDebugUart();
  EXPECT_EQ(Uart->PrivateGet32(0x200), 0xBD090901u);
}

// A 64-bit window the firmware placed above 4 GiB: a low half of 0 is not "unassigned", and a low
// half that names RAM is not the UART. Neither is moved or written through; the UART is absent.
TEST_F(StartUp, UartWindowAbove4GiBIsNeverMovedOrWrittenThrough) {
  Hw.AddRegisters(0x00100000, 0x1000);
  for (uint32_t Low : {0x00000004u, 0x00100004u}) {
    SCOPED_TRACE(Low);
    UartFunction->Set32(0x10, Low);
    UartFunction->Set32(0x14, 0x1);
    Hw.ClearLog();
    InitDebugUart();
    EXPECT_ACCESSES(Writes(Hw));
    EXPECT_EQ(LocateDebugUart(), 0u);
    for (INT32 Type : {0, 1, 2, 3, 4})
      SetupSerialIoController(DebugUartController, Type);
    EXPECT_EQ(UartFunction->Get32(0x10), Low);
    EXPECT_EQ(UartFunction->Get32(0x14), 0x1u);
    EXPECT_TRUE(MemWritesIn(Hw, 0x00100000, 0x00101000).empty());
    EXPECT_TRUE(MemWritesIn(Hw, UartBase, UartBase + 0x1000).empty());
    EXPECT_EQ(CmosWord(Hw), 0x80000000u);
  }
}

// --- Serial-I/O controller set-up ----------------------------------------------------------------

TEST_F(StartUp, UartTypeWithoutWindowEnablesTheFunctionAndGivesItTheDefaultWindow) {
  UartFunction->Set32(0x10, 0);
  UartFunction->Set16(0x04, 0x0000);
  SetupSerialIoController(10, 2);
  EXPECT_ACCESSES(
      AccessesIn(Hw.Log, MemAccesses), R16(UartCfg + 0x00, PlatformVendorId),
      R32(UartCfg + 0xA0, 0), W32(UartCfg + 0xA0, 0x00070000), R32(UartCfg + 0x10, 0),
      R32(0xD0900228, 0), W32(0xD0900228, 0x80), R32(0xD0C60F1C, 0), W32(0xD0C60F1C, 0x40000),
      R32(0xD0C60F1C, 0x40000), W32(UartCfg + 0x10, 0xFEA10000), W32(UartCfg + 0x14, 0),
      R32(UartCfg + 0x04, 0), W32(UartCfg + 0x04, 0x6), R32(UartCfg + 0x10, 0xFEA10000),
      W32(UartBase + 0x240, 0xFEA10000), W32(UartBase + 0x204, 0), R32(UartBase + 0x204, 0),
      W32(UartBase + 0x204, 0x7), W32(UartBase + 0x200, 0xBD090901));
}

// Each type's writes on the UART. With a window, the UART type keeps it and skips the sideband
// steps; a type the chip does not have sets the idle bits only; the windowless type never writes
// the clock into low memory, only into a window.
TEST_F(StartUp, EachTypeWritesItsOwnStepsAndTheClockOnlyIntoAWindow) {
  Hw.AddRegisters(0, 0x1000); // low memory, to catch a stray write
  const SimAccess Idle = W32(UartCfg + 0xA0, 0x00070000), Power = W32(UartCfg + 0x84, 0x3),
                  Gate = W32(0xD0C60F1C, 0x100), Clock = W32(UartBase + 0x200, 0xBD090901);
  struct Row {
    uint32_t Window;
    INT32 Type;
    std::vector<SimAccess> Writes;
  } Rows[] = {{UartBase,
               2,
               {Idle, W32(UartBase + 0x240, UartBase), W32(UartBase + 0x204, 0),
                W32(UartBase + 0x204, 0x7), Clock}},
              {UartBase, 7, {Idle}},
              {0, 0, {Idle, Power, Gate}},
              {UartBase, 0, {Idle, Power, Gate, Clock}}};
  for (const Row &R : Rows) {
    SCOPED_TRACE(::testing::Message() << R.Window << " " << R.Type);
    UartFunction->Set32(0x10, R.Window);
    Hw.ClearLog();
    SetupSerialIoController(DebugUartController, R.Type);
    EXPECT_ACCESSES(Writes(Hw), R.Writes);
  }
}

TEST_F(StartUp, ClockGatedTypeAssignsBothDefaultWindowsAndOpensTheUartsGate) {
  UartFunction->Set32(0x10, 0);
  Hw.Sideband.Set(0x90, 0x618, 0x1);
  SetupSerialIoController(10, 4);
  EXPECT_EQ(UartFunction->Get32(0x10), 0xFEA10000u);
  EXPECT_EQ(UartFunction->Get32(0x18), 0xFEA11000u);
  EXPECT_EQ(Hw.Sideband.Get(0x90, 0x618), 0x5u); // bit 10 - 8
  EXPECT_ACCESSES(MemWritesIn(Hw, UartBase + 0x200, UartBase + 0x300),
                  W32(UartBase + 0x240, UartBase), W32(UartBase + 0x204, 0),
                  W32(UartBase + 0x204, 0x7), W32(UartBase + 0x200, 0xBD090901));
  EXPECT_EQ(Hw.Log.back(), R32(UartBase + 0xF8, 0));
}

// The last UART (11, at 0/24/3) is a UART like the others: its clock, and its own gate bit.
TEST(SerialIoSetUp, TheLastUartGetsItsClockAndItsGateBit) {
  SimHardware Hw;
  Hw.Pci.Add(0, 24, 3, PlatformVendorId, 0x2222).Set32(0x10, 0);
  Hw.AddRegisters(0xFEA20000, 0x2000);
  Hw.Sideband.Set(0x90, 0x618, 0);
  SetupSerialIoController(11, 4);
  EXPECT_EQ(Hw.Sideband.Get(0x90, 0x618), 0x8u); // bit 11 - 8
  EXPECT_ACCESSES(MemWritesIn(Hw, 0xFEA20200, 0xFEA20204), W32(0xFEA20200, 0xBD090901));
}

// Controllers below the UARTs (5: an I2C one) get no clock, and one more setting in the window at
// their table's default base, unless they are of the windowless type.
TEST(SerialIoSetUp, NonUartControllersGetTheirExtraSettingAtTheTableBase) {
  SimHardware Hw;
  const uint64_t Cfg = EcamOf(23, 1);
  Hw.Pci.Add(0, 23, 1, PlatformVendorId, 0x2222).Set32(0x10, 0x80000000);
  Hw.AddRegisters(0x80000000, 0x1000);
  Hw.AddRegisters(0xFE960000, 0x1000);
  SetupSerialIoController(5, 1);
  EXPECT_ACCESSES(Writes(Hw), W32(Cfg + 0xA0, 0x00070000), W32(0x80000240, 0x80000000),
                  W32(Cfg + 0x04, 0x6), W32(0x80000204, 0), W32(0x80000204, 0x7),
                  W32(0xFE96007C, 0x002C002C));
  Hw.ClearLog();
  SetupSerialIoController(5, 0);
  EXPECT_TRUE(MemWritesIn(Hw, 0xFE960000, 0xFE961000).empty());
}

// Boards that are not a supported Tarn board. Another machine: an invalid CMOS word (OVMF reads
// 00 00 00 00 there), functions of another vendor wherever the channel looks (the UART's place,
// the trace hub's with a window, the level selector's saying "errors"), and nothing of ours. A
// sibling board of the same vendor: the platform's vendor ID at the debug UART's place (another
// device there), no supported host bridge (none, or the vendor's with an unknown device ID), that
// firmware's own CMOS bytes, and a level selector asking for errors. The whole application, run
// to the end with UEFI Shell 2.0 ("-r") and with none (which sends its status line down the debug
// channel), only reads, and only configuration space: not even the level selector's window.
TEST(OtherBoards, WholeRunOnlyReadsConfigurationSpace) {
  struct Row {
    const char *Name;
    uint32_t Cmos;
    uint16_t Vendor; // at the debug UART's, trace hub's and level selector's places
    uint32_t UartWindow;
    bool HostBridge;
  } Rows[] = {{"another machine", 0x00000000, PlatformVendorId ^ 0x0F0F, UartBase, false},
              {"sibling board", 0x12345678, PlatformVendorId, 0, false},
              {"sibling board, its own host bridge", 0x12345678, PlatformVendorId, 0, true}};
  for (const Row &R : Rows) {
    for (bool WithShell : {true, false}) {
      SCOPED_TRACE(::testing::Message() << R.Name << (WithShell ? ", shell" : ", no shell"));
      SimHardware Hw;
      SetCmosWord(Hw, R.Cmos);
      Hw.Pci.Add(0, 24, 2, R.Vendor, 0x4321).Set32(0x10, R.UartWindow);
      Hw.AddUart(UartBase);
      if (R.HostBridge)
        AddHostBridge(Hw, 0x0BAD);
      AddTraceHub(Hw);
      AddLevelSelector(Hw, 1);
      Hw.Pci.Find(0, 0, 2)->Set16(0x00, R.Vendor);
      Hw.Pci.Find(0, 13, 3)->Set16(0x00, R.Vendor);
      for (uint8_t Port : {0x90, 0xC5, 0xC6})
        Hw.Sideband.AddPort(Port);
      Board B;
      std::unique_ptr<HostedShell20> Shell;
      if (WithShell)
        Shell = std::make_unique<HostedShell20>(B.Sim, B.Sim.ImageHandle,
                                                std::vector<std::string>{"Kestrel.efi", "-r"});
      EXPECT_EQ(AppEntry(B.Sim.ImageHandle, &B.Sim.SystemTable),
                WithShell ? EFI_SUCCESS : static_cast<EFI_STATUS>(-1));
      EXPECT_ACCESSES(Writes(Hw));
      EXPECT_EQ(CmosWord(Hw), R.Cmos);
      EXPECT_EQ(Hw.Pci.Find(0, 24, 2)->Get32(0x10), R.UartWindow);
      EXPECT_FALSE(Hw.Log.empty()); // the channel did look
      EXPECT_ACCESSES(AccessesIn(Hw.Log, MemAccesses, LevelWindow, LevelWindow + 0x2000));
    }
  }
}

} // namespace
