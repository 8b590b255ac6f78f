// The debug channel: the level mask the platform sets, the CMOS switch, finding and powering the
// debug UART, bounded transmission, and one formatted text sent to the trace hub and the UART.
// The CMOS switch hands its warning to the channel, and the channel writes through the switch:
// both live here so that no two files include each other.
#include "diag/debug_message.h"

#include "diag/debug_uart.h"
#include "diag/hardware_access.h"
#include "diag/platform_constants.h"
#include "diag/platform_identity.h"
#include "diag/trace_hub.h"

namespace {

// The four CMOS bytes of the debug word, least significant first.
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

UINT32 DebugUartConfig(UINT32 Register) {
  const SerialIoController &Uart = SerialIoControllers[DebugUartController];
  return PciCfgAddress(0, Uart.Device, Uart.Function, Register);
}

UINT32 ReadDebugCmosWord() {
  UINT32 Word = 0;
  for (UINT8 Index = DebugCmosByteCount; Index > 0; Index--) {
    Word = (Word << 8) | CmosRead8(static_cast<UINT8>(DebugCmosFirstByte + Index - 1));
  }
  return Word;
}

VOID WriteDebugCmosWord(UINT32 Word) {
  for (UINT8 Index = 0; Index < DebugCmosByteCount; Index++) {
    CmosWrite8(static_cast<UINT8>(DebugCmosFirstByte + Index),
               static_cast<UINT8>(Word >> (8 * Index)));
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

// The level selector: a register in the memory window of bus 0, device 13, function 3.
constexpr UINT32 LevelSelectDevice = 13;
constexpr UINT32 LevelSelectFunction = 3;
constexpr UINT32 LevelSelectRegister = 0x1408;
constexpr UINT32 LevelSelectErrors = 1;

constexpr UINT32 DebugMessageBufferSize = 256;
constexpr UINT32 DebugTraceSeverity = 0;

UINT64 TextLength(const CHAR8 *Text, UINT64 Limit) {
  UINT64 Length = 0;
  while (Length < Limit && Text[Length] != 0)
    Length++;
  return Length;
}

} // namespace

// Read again for every message, like the CMOS word and the UART (see docs/kept-on-purpose.md).
UINT64 CurrentDebugLevelMask() {
  // On another machine the function at 0/13/3 is someone else's, and its window may be a device
  // whose registers act on reads: nothing beyond configuration space is read there.
  if (!IsSupportedTarnBoard())
    return DefaultDebugLevelMask;
  UINT64 Config = EcamAddress(0, LevelSelectDevice, LevelSelectFunction);
  UINT32 Register = MmioRead32(Config + PciBar0Register);
  UINT32 Window = Register & ~PciBarFlagMask;
  if (Window == 0 || Window == PciBarAbsent ||
      EcamWindowAbove4GiB(Config, PciBar0Register, Register))
    return DefaultDebugLevelMask;
  if (MmioRead32(static_cast<UINT64>(Window) + LevelSelectRegister) == LevelSelectErrors)
    return DebugLevelError;
  return DefaultDebugLevelMask;
}

VOID EmitDebugMessageArgs(UINT64 Level, const CHAR8 *Format, FormatArgList Arguments) {
  // Messages the mask drops are not even formatted.
  if ((Level & CurrentDebugLevelMask()) == 0 || Format == nullptr)
    return;
  // Both outputs are hardware writes: nothing goes out off a supported Tarn board.
  if (!IsSupportedTarnBoard())
    return;
  CHAR8 Buffer[DebugMessageBufferSize];
  Buffer[0] = 0;
  Buffer[DebugMessageBufferSize - 1] = 0;
  FormatEngine(Buffer, DebugMessageBufferSize, 0, Format, Arguments);
  SendDebugTrace(DebugTraceSeverity, Buffer, TextLength(Buffer, DebugMessageBufferSize - 1));
  DebugUartWrite(reinterpret_cast<const UINT8 *>(Buffer),
                 TextLength(Buffer, DebugMessageBufferSize - 1));
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
  if (Base >= DebugUartBaseLimit)
    return 0;
  PciCfgOr16(DebugUartConfig(PciCommandRegister), PciCommandMemorySpace);
  PowerUpDebugUart(Base);
  return Base;
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
