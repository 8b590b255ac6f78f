// Debug UART start-up and serial-I/O controller set-up.
#include "diag/debug_uart_init.h"

#include "diag/debug_message.h"
#include "diag/debug_uart.h"
#include "diag/gpio_pads.h"
#include "diag/hardware_access.h"
#include "diag/platform_constants.h"
#include "diag/sideband.h"

namespace {

// Configuration registers of a serial-I/O controller.
constexpr UINT32 SerialIoBar1Register = 0x14;
constexpr UINT32 SerialIoBar2Register = 0x18;
constexpr UINT32 SerialIoBar3Register = 0x1C;
constexpr UINT32 SerialIoPowerD3 = PciPowerStateMask;
constexpr UINT32 SerialIoDeviceIdle = 0xA0;
constexpr UINT32 SerialIoDeviceIdleBits = 0x00070000;
constexpr UINT32 SerialIoDecodeBits = PciCommandMemorySpace | PciCommandBusMaster;

// Private registers in a controller's memory window.
constexpr UINT64 SerialIoClock = 0x200;
constexpr UINT64 SerialIoResets = 0x204;
constexpr UINT64 SerialIoActiveLtr = 0x240;
constexpr UINT64 SerialIoCapabilities = 0xF8;
constexpr UINT32 SerialIoResetsAsserted = 0;
constexpr UINT32 SerialIoResetsReleased = 0x7;
// UART clock divider (M/N) for the operating baud rate, with its update and enable bits.
constexpr UINT32 SerialIoUartClock = 0xBD090901;
// Controllers 0 to 7 have one more setting in the window at their table's default base.
constexpr UINT64 SerialIoExtraRegister = 0x7C;
constexpr UINT32 SerialIoExtraBits = 0x002C002C;

// Sideband settings of the serial-I/O controllers.
constexpr UINT16 SerialIoPowerRegister = 0x1C; // in port 0xC6, from the controller's offset
constexpr UINT32 SerialIoPowerGateOff = 0x100;
constexpr UINT32 SerialIoFunctionEnable = 0x40000;
constexpr UINT32 SerialIoPort90Enable = 0x80;
constexpr UINT16 SerialIoClockGateRegister = 0x618; // in port 0x90: one bit per UART
constexpr UINT32 KeepAll = 0xFFFFFFFF;

VOID SetSidebandBit(UINT8 Port, UINT16 Offset, UINT32 Bit) {
  PcrReadModifyWrite(Port, Offset, KeepAll, Bit);
}

UINT32 WindowBase(UINT64 Config) {
  return MmioRead32(Config + PciBar0Register) & PciPageMask;
}

} // namespace

VOID SetupSerialIoController(INT32 Index, INT32 Type) {
  if (Index < 0 || Index >= SerialIoControllerCount)
    return;
  const SerialIoController &Row = SerialIoControllers[Index];
  UINT64 Config = EcamAddress(0, Row.Device, Row.Function);
  if (MmioRead16(Config + PciVendorIdRegister) != PlatformVendorId)
    return;
  MmioOr32(Config + SerialIoDeviceIdle, SerialIoDeviceIdleBits);
  UINT32 Window = MmioRead32(Config + PciBar0Register);
  // Placed above 4 GiB by the firmware: out of reach, and a zero low half is no free window.
  if (EcamWindowAbove4GiB(Config, PciBar0Register, Window))
    return;
  UINT32 Base = Window & PciPageMask;
  UINT16 PowerRegister = static_cast<UINT16>(Row.PortC6Offset + SerialIoPowerRegister);

  switch (Type) {
  case SerialIoTypeWindowless:
    if (SerialIoPowerControlOffset != 0)
      MmioOr32(Config + SerialIoPowerControlOffset, SerialIoPowerD3);
    SetSidebandBit(SidebandPortSerialIoPower, PowerRegister, SerialIoPowerGateOff);
    break;
  case SerialIoTypeWindowed1:
  case SerialIoTypeWindowed3:
  case SerialIoTypeUartClockGated:
    if (Base == 0) {
      MmioWrite32(Config + PciBar0Register, Row.DefaultBase0);
      MmioWrite32(Config + SerialIoBar1Register, 0);
      MmioWrite32(Config + SerialIoBar2Register, Row.DefaultBase1);
      MmioWrite32(Config + SerialIoBar3Register, 0);
      Base = WindowBase(Config);
    }
    // A window register that does not keep its value leaves no window to write into.
    if (Base != 0)
      MmioWrite32(Base + SerialIoActiveLtr, Base);
    MmioOr32(Config + PciCommandRegister, SerialIoDecodeBits);
    if (Base != 0) {
      MmioWrite32(Base + SerialIoResets, SerialIoResetsAsserted);
      MmioWrite32(Base + SerialIoResets, SerialIoResetsReleased);
    }
    break;
  case SerialIoTypeUart:
    if (Base == 0) {
      SetSidebandBit(SidebandPortSerialIo, Row.Port90Offset, SerialIoPort90Enable);
      SetSidebandBit(SidebandPortSerialIoPower, PowerRegister, SerialIoFunctionEnable);
      UINT32 Unused;
      PchPcrRead(SidebandPortSerialIoPower, PowerRegister, &Unused);
      MmioWrite32(Config + PciBar0Register, Row.DefaultBase0);
      MmioWrite32(Config + SerialIoBar1Register, 0);
      MmioOr32(Config + PciCommandRegister, SerialIoDecodeBits);
      Base = WindowBase(Config);
    }
    if (Base != 0) {
      MmioWrite32(Base + SerialIoActiveLtr, Base);
      MmioWrite32(Base + SerialIoResets, SerialIoResetsAsserted);
      MmioOr32(Base + SerialIoResets, SerialIoResetsReleased);
    }
    break;
  default:
    return;
  }

  if (Index >= FirstSerialIoUart && Index <= LastSerialIoUart) {
    // Without a window (type 0 assigns none) there is nowhere to put the clock: writing it
    // would land in low physical memory.
    if (Base != 0)
      MmioWrite32(Base + SerialIoClock, SerialIoUartClock);
    if (Type == SerialIoTypeUartClockGated) {
      SetSidebandBit(SidebandPortSerialIo, SerialIoClockGateRegister,
                     1u << (Index - FirstSerialIoUart));
      if (Base != 0)
        MmioRead32(Base + SerialIoCapabilities);
    }
  }
  if (Index < FirstSerialIoUart && Type != SerialIoTypeWindowless)
    MmioOr32(Row.DefaultBase0 + SerialIoExtraRegister, SerialIoExtraBits);
}

namespace {

// Reads the divisor through the latch (the latch bit set and cleared again, the only writes) and
// tells whether the UART already runs at the tool's settings. Bits 6 (break) and 7 (latch) of the
// line control are not settings.
bool DebugUartRunsAtOurSettings(UINT32 Base) {
  // While the latch is set the transmit register is the divisor's low byte: a firmware timer
  // callback printing to its console now would re-clock the port instead of sending a character.
  BOOLEAN WereEnabled = SuspendInterrupts();
  UINT8 LineControl = ReadUartRegister(Base, UartLineControl);
  WriteUartRegister(
      Base, UartLineControl,
      static_cast<UINT8>(ReadUartRegister(Base, UartLineControl) | UartLineControlDivisorLatch));
  UINT16 Divisor = static_cast<UINT16>(ReadUartRegister(Base, UartDivisorHigh) << 8);
  Divisor |= ReadUartRegister(Base, UartTransmitHolding);
  WriteUartRegister(
      Base, UartLineControl,
      static_cast<UINT8>(ReadUartRegister(Base, UartLineControl) & ~UartLineControlDivisorLatch));
  RestoreInterrupts(WereEnabled);
  constexpr UINT8 LineSettingsMask = 0x3F;
  return Divisor == DebugUartDivisor && (LineControl & LineSettingsMask) == DebugUartLineSettings;
}

// The debug UART's window when the firmware left it working: a memory window assigned below the
// firmware's flash (and not above 4 GiB), decoded and at full power. 0 otherwise. Reads only,
// through the configuration window.
UINT32 WorkingDebugUartWindow() {
  UINT64 Config = GetSerialIoBase(DebugUartController, 1);
  if (Config == SerialIoAbsent)
    return 0;
  UINT32 Window = MmioRead32(Config + PciBar0Register);
  UINT32 Base = Window & PciPageMask;
  if ((Window & PciBarIoSpace) != 0 || Base == 0 || Base >= DebugUartBaseLimit)
    return 0;
  if ((MmioRead16(Config + PciCommandRegister) & PciCommandMemorySpace) == 0)
    return 0;
  if (SerialIoPowerControlOffset != 0 &&
      (MmioRead16(Config + SerialIoPowerControlOffset) & PciPowerStateMask) != 0)
    return 0;
  return Base;
}

} // namespace

VOID InitDebugUart() {
  if (CheckDebugCmos())
    return;
  // A UART the firmware already drives at our settings may be its console, or a factory
  // automation's line into the shell: resetting or re-clocking it would lose characters in
  // flight and its flow control. It is left exactly as it is.
  UINT32 Working = WorkingDebugUartWindow();
  bool SettingsRead = Working != 0;
  if (SettingsRead && DebugUartRunsAtOurSettings(Working))
    return;
  ConfigureUartPads();
  SetupSerialIoController(DebugUartController, SerialIoTypeUart);
  // The clock-gate register is read for its side effect on the fabric only.
  UINT32 Unused;
  PchPcrRead(SidebandPortSerialIo, SerialIoClockGateRegister, &Unused);
  if (GetSerialIoBase(DebugUartController, 0) == SerialIoAbsent)
    return;
  UINT32 Base = LocateDebugUart();
  if (Base == 0)
    return;
  // A port found with the right rate and frame is already set up and is left as it is. One whose
  // settings were read above is not, and the set-up has just reset it.
  if (!SettingsRead && DebugUartRunsAtOurSettings(Base))
    return;

  // Let anything still in the FIFO go out at the old settings; a transmitter that never empties
  // is reprogrammed all the same, which may be what it needs.
  WaitDebugUartStatus(Base, UartLineStatusIdle);
  BOOLEAN WereEnabled = SuspendInterrupts();
  WriteUartRegister(Base, UartLineControl, UartLineControlDivisorLatch);
  WriteUartRegister(Base, UartDivisorHigh, static_cast<UINT8>(DebugUartDivisor >> 8));
  WriteUartRegister(Base, UartTransmitHolding, static_cast<UINT8>(DebugUartDivisor));
  WriteUartRegister(Base, UartLineControl, DebugUartLineSettings);
  RestoreInterrupts(WereEnabled);
  WriteUartRegister(Base, UartFifoControl, 0);
  WriteUartRegister(Base, UartFifoControl, UartFifoEnable);
  WriteUartRegister(Base, UartModemControl, 0);
}
