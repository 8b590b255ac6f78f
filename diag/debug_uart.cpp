// The debug UART: the serial-controller lookup, the CMOS switch, the UART's window and power, and
// bounded transmission.
#include "diag/debug_uart.h"

#include "diag/debug_message.h"
#include "diag/hardware_access.h"
#include "diag/platform_constants.h"
#include "diag/platform_identity.h"

static_assert(SerialIoControllers[DebugUartController].Device == DebugUartPciDevice &&
                  SerialIoControllers[DebugUartController].Function == DebugUartPciFunction,
              "the debug UART is the serial-I/O controller the board is recognised by");

namespace {

// CMOS of the real-time clock: index and data ports, and the four bytes of the debug word,
// least significant first.
constexpr UINT16 CmosIndexPort = 0x70;
constexpr UINT16 CmosDataPort = 0x71;
constexpr UINT8 DebugCmosFirstByte = 0x40;
constexpr UINT8 DebugCmosByteCount = 4;
constexpr UINT32 DebugCmosValidMask = 0xC0000000;
constexpr UINT32 DebugCmosValidValue = 0x80000000; // bit 31 set, bit 30 clear
constexpr UINT32 DebugCmosPayloadMask = 0x3FFFFFFF;
constexpr UINT32 DebugCmosPayloadLimit = 0x400;
constexpr UINT32 DebugCmosSerialOff = 1u << 9;
constexpr UINT32 DebugCmosDefault = 0x80000000; // valid, serial output on

// The debug UART's memory window is in the first memory BAR among its six.
constexpr UINT32 FirstBarRegister = 0x10;
constexpr UINT32 LastBarRegister = 0x24;
// The top 1 MiB below 4 GiB holds the firmware flash and the reset vector, never a device
// window; a window register pointing there is garbage, and bytes written there do no good.
constexpr UINT32 HighestUartBase = 0xFFF00000;

constexpr UINT32 SerialIoWindowSelectorStride = 8;
constexpr UINT8 SerialIoConfigSelector = 1;
constexpr UINT32 VendorIdMask = 0xFFFF;

UINT32 DebugUartConfig(UINT32 Register) {
  const SerialIoController &Uart = SerialIoControllers[DebugUartController];
  return PciCfgAddress(0, Uart.Device, Uart.Function, Register);
}

UINT32 ReadDebugCmosWord() {
  UINT32 Word = 0;
  for (UINT8 Index = DebugCmosByteCount; Index > 0; Index--) {
    PortOut8(CmosIndexPort, static_cast<UINT8>(DebugCmosFirstByte + Index - 1));
    Word = (Word << 8) | PortIn8(CmosDataPort);
  }
  return Word;
}

VOID WriteDebugCmosWord(UINT32 Word) {
  for (UINT8 Index = 0; Index < DebugCmosByteCount; Index++) {
    PortOut8(CmosIndexPort, static_cast<UINT8>(DebugCmosFirstByte + Index));
    PortOut8(CmosDataPort, static_cast<UINT8>(Word >> (8 * Index)));
  }
}

bool DebugCmosWordValid(UINT32 Word) {
  return (Word & DebugCmosValidMask) == DebugCmosValidValue &&
         (Word & DebugCmosPayloadMask) < DebugCmosPayloadLimit;
}

// Brings the UART to full power when the board has the power step. Leaving a low-power state
// loses the FIFO setting, so it is given back.
VOID PowerUpDebugUart(UINT32 Base) {
  if (SerialIoPowerControlOffset == 0 ||
      (PciCfgRead16(DebugUartConfig(SerialIoPowerControlOffset)) & PciPowerStateMask) == 0)
    return;
  PciCfgClear16(DebugUartConfig(SerialIoPowerControlOffset));
  WriteUartRegister(Base, UartFifoControl, UartFifoEnable);
}

} // namespace

UINT64 GetSerialIoBase(INT32 Index, UINT8 Selector) {
  if (Index < 0 || Index >= SerialIoControllerCount)
    return SerialIoAbsent;
  const SerialIoController &Controller = SerialIoControllers[Index];
  UINT64 Config = EcamAddress(0, Controller.Device, Controller.Function);
  if ((MmioRead32(Config + PciVendorIdRegister) & VendorIdMask) != PlatformVendorId)
    return SerialIoAbsent;
  // A controller whose own window the firmware placed above 4 GiB is out of reach.
  UINT32 Window0 = MmioRead32(Config + PciBar0Register);
  if (EcamWindowAbove4GiB(Config, PciBar0Register, Window0))
    return SerialIoAbsent;
  if (Selector == SerialIoConfigSelector)
    return Config;
  UINT32 Window = Selector == 0 ? Window0
                                : MmioRead32(Config + PciBar0Register +
                                             SerialIoWindowSelectorStride * Selector);
  return Window & PciPageMask;
}

UINT8 ReadUartRegister(UINT32 Base, UINT32 Register) {
  return PhysRead8(static_cast<UINT64>(Base) + Register);
}

VOID WriteUartRegister(UINT32 Base, UINT32 Register, UINT8 Value) {
  PhysWrite8(static_cast<UINT64>(Base) + Register, Value);
}

BOOLEAN CheckDebugCmos() {
  // On a machine not identified as a Tarn board, or without the board's own UART within reach,
  // the answer is "off" whatever the word says, so the CMOS is left alone. Even a read would
  // write the index port, whose bit 7 masks NMI on PC chipsets, and bytes 0x40-0x43 may hold
  // another firmware's settings under its checksum.
  if (!IsSupportedTarnBoard() || GetSerialIoBase(DebugUartController, 0) == SerialIoAbsent)
    return 1;
  UINT32 Word = ReadDebugCmosWord();
  if (!DebugCmosWordValid(Word)) {
    // DebugLevelInfo never passes the level mask, so this cannot recurse through
    // DebugUartWrite, which calls back in here.
    EmitDebugMessage(DebugLevelInfo, "  WARNING: Platform CMOS data is invalid! (0x%08x)\n", Word);
    WriteDebugCmosWord(DebugCmosDefault);
    Word = DebugCmosDefault;
  }
  return (Word & DebugCmosSerialOff) != 0;
}

UINT32 LocateDebugUart() {
  if (CheckDebugCmos())
    return 0;
  UINT32 BarRegister = 0;
  for (UINT32 Register = FirstBarRegister; Register <= LastBarRegister; Register += 4) {
    if ((PciCfgRead32(DebugUartConfig(Register)) & PciBarIoSpace) == 0) {
      BarRegister = Register;
      break;
    }
  }
  if (BarRegister == 0)
    return 0;
  UINT32 Window = PciCfgRead32(DebugUartConfig(BarRegister));
  if ((Window & PciBarTypeMask) == PciBarType64 &&
      (BarRegister == LastBarRegister ||
       WindowAbove4GiB(Window, PciCfgRead32(DebugUartConfig(BarRegister + 4)))))
    return 0;
  UINT32 Base = Window & ~PciBarFlagMask;
  if (Base == 0) {
    // Nobody assigned the window: give it the platform's fixed one.
    PciCfgWrite32(DebugUartConfig(BarRegister), DebugUartDefaultBase);
    Base = DebugUartDefaultBase;
  }
  if (Base >= HighestUartBase)
    return 0;
  PciCfgOr16(DebugUartConfig(PciCommandRegister), PciCommandMemorySpace);
  PowerUpDebugUart(Base);
  return Base;
}

BOOLEAN WaitDebugUartStatus(UINT32 Base, UINT8 Bits) {
  for (UINT32 Poll = 0; Poll < DebugUartPollLimit; Poll++) {
    if ((ReadUartRegister(Base, UartLineStatus) & Bits) == Bits)
      return 1;
  }
  return 0;
}

UINT64 DebugUartWrite(const UINT8 *Buffer, UINT64 Count) {
  UINT32 Base = LocateDebugUart();
  if (Base == 0)
    return 0;
  if (Count == 0) {
    WaitDebugUartStatus(Base, UartLineStatusIdle);
    return 0;
  }
  if (Buffer == nullptr)
    return 0;
  UINT64 Sent = 0;
  while (Sent < Count) {
    // The transmitter is empty, so the whole FIFO is free for one burst.
    if (!WaitDebugUartStatus(Base, UartLineStatusTransmitterEmpty))
      return 0;
    for (UINT32 Burst = 0; Burst < UartTransmitFifoDepth && Sent < Count; Burst++)
      WriteUartRegister(Base, UartTransmitHolding, Buffer[Sent++]);
  }
  return Count;
}
