// Start-up of the debug UART: its pads, its serial-I/O controller (window, clock, power) and its
// line settings. Runs first thing at application start; reports nothing.
#pragma once

#include "uefi/uefi.h"

VOID InitDebugUart();

// Controller types: how a controller's window and private registers are brought up.
constexpr INT32 SerialIoTypeWindowless = 0; // powered down, no window
constexpr INT32 SerialIoTypeWindowed1 = 1;  // two default windows, kept out of reset
constexpr INT32 SerialIoTypeUart = 2;
constexpr INT32 SerialIoTypeWindowed3 = 3;
constexpr INT32 SerialIoTypeUartClockGated = 4;

// Index 0 to 14 of the serial-controller table; type 0 to 4. Nothing happens for an absent
// controller or an index outside the table.
VOID SetupSerialIoController(INT32 Index, INT32 Type);
