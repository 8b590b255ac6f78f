// The debug UART as a device: the chip's serial-I/O controllers (the UART is one of them), the
// UART's register map and operating settings. The CMOS word that switches it, finding and powering
// its window and writing bytes to it belong to the debug channel (debug_message.h); its line
// settings are programmed at start-up by InitDebugUart (debug_uart_init.h).
#pragma once

#include "uefi/uefi.h"

// --- The serial-I/O controllers --------------------------------------------------------------

struct SerialIoController {
  UINT8 Device; // on bus 0
  UINT8 Function;
  UINT32 DefaultBase0;
  UINT32 DefaultBase1;
  UINT16 Port90Offset; // register of this controller in sideband port 0x90
  UINT16 PortC6Offset; // base of this controller's registers in sideband port 0xC6
};

constexpr INT32 SerialIoControllerCount = 15;
constexpr SerialIoController SerialIoControllers[SerialIoControllerCount] = {
    {22, 0, 0xFE910000, 0xFE911000, 0x200, 0x1900}, {22, 1, 0xFE920000, 0xFE921000, 0x204, 0x1800},
    {22, 2, 0xFE930000, 0xFE931000, 0x208, 0x1700}, {22, 3, 0xFE940000, 0xFE941000, 0x20C, 0x1600},
    {23, 0, 0xFE950000, 0xFE951000, 0x210, 0x1500}, {23, 1, 0xFE960000, 0xFE961000, 0x214, 0x1400},
    {23, 2, 0xFE970000, 0xFE971000, 0x218, 0x1300}, {23, 3, 0xFE980000, 0xFE981000, 0x21C, 0x1200},
    {24, 0, 0xFE990000, 0xFE991000, 0x220, 0x1100}, {24, 1, 0xFE9A0000, 0xFE9A1000, 0x224, 0x1000},
    {24, 2, 0xFEA10000, 0xFEA11000, 0x228, 0x0F00}, {24, 3, 0xFEA20000, 0xFEA21000, 0x22C, 0x0E00},
    {25, 0, 0xFEA30000, 0xFEA31000, 0x230, 0x0D00}, {25, 1, 0xFEA40000, 0xFEA41000, 0x234, 0x0C00},
    {25, 2, 0xFEA50000, 0xFEA51000, 0x238, 0x0B00},
};
// Controllers 8 to 11 are UARTs; 0 to 7 are the other serial-I/O controllers.
constexpr INT32 FirstSerialIoUart = 8;
constexpr INT32 LastSerialIoUart = 11;

// GetSerialIoBase's answer for a controller that is not there.
constexpr UINT64 SerialIoAbsent = 0xFFFFFFFF;

// Selector 1: the controller's configuration space in the memory-mapped window; selector s
// otherwise: the memory window in configuration register 0x10 + 8 * s, page-aligned.
UINT64 GetSerialIoBase(INT32 Index, UINT8 Selector);

// --- The debug UART ----------------------------------------------------------------------------

constexpr INT32 DebugUartController = 10; // bus 0, device 24, function 2
constexpr UINT32 DebugUartDefaultBase = 0xFEA10000;
// The top 1 MiB below 4 GiB holds the firmware flash and the reset vector, never a device window;
// a window register pointing there is garbage, and bytes written there do no good.
constexpr UINT32 DebugUartBaseLimit = 0xFFF00000;

// Byte registers, 4 bytes apart in the UART's memory window.
constexpr UINT32 UartTransmitHolding = 0x00; // divisor low byte while the latch is open
constexpr UINT32 UartDivisorHigh = 0x04;     // with the latch open
constexpr UINT32 UartFifoControl = 0x08;
constexpr UINT32 UartLineControl = 0x0C;
constexpr UINT32 UartModemControl = 0x10;
constexpr UINT32 UartLineStatus = 0x14;

constexpr UINT8 UartLineControlDivisorLatch = 0x80;
constexpr UINT8 UartLineStatusHoldingEmpty = 0x20;
constexpr UINT8 UartLineStatusTransmitterEmpty = 0x40;
constexpr UINT8 UartLineStatusIdle = UartLineStatusHoldingEmpty | UartLineStatusTransmitterEmpty;
constexpr UINT8 UartFifoEnable = 0x01;
constexpr UINT32 UartTransmitFifoDepth = 16;

// Operating settings: divisor 4, 8 data bits, no parity, one stop bit.
constexpr UINT16 DebugUartDivisor = 4;
constexpr UINT8 DebugUartLineSettings = 0x03;

// How many times a wait reads the line-status register before giving up. A byte at the
// operating rate takes well under a thousand reads, so this only ends waits on a UART that is
// broken or gone; diagnostics must never hang the tool.
constexpr UINT32 DebugUartPollLimit = 100000;

// The one way to a register of the UART whose window is at Base.
UINT8 ReadUartRegister(UINT32 Base, UINT32 Register);
VOID WriteUartRegister(UINT32 Base, UINT32 Register, UINT8 Value);

// Polls the line-status register until all of Bits are set. False when the limit ran out.
BOOLEAN WaitDebugUartStatus(UINT32 Base, UINT8 Bits);
