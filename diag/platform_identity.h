// Which machine this is. The diagnostics channel changes hardware (CMOS, sideband registers, pads,
// configuration space, memory windows, the UART, the trace hub) only on a board it has identified
// as a supported Tarn board: the platform's vendor ID at the debug UART's place and a host bridge
// of the platform's vendor whose device ID names a supported chip series. A sibling board of the
// same vendor, or any other machine, is left exactly as it is: a factory line that runs mixed
// boards, or a service engineer with the wrong stick, must not find another firmware's CMOS
// settings rewritten or one of its devices reprogrammed as a UART.
#pragma once

#include "uefi/uefi.h"

constexpr UINT8 ChipSeries0 = 0;
constexpr UINT8 ChipSeries1 = 1;
constexpr UINT8 ChipSeries3 = 3; // Tarn-P
constexpr UINT8 ChipSeriesUnknown = 0xFF;
// The host bridge is the platform vendor's but names no series this tool knows.
constexpr UINT8 ChipSeriesUnsupported = 0xFE;

// The chip series from the host bridge's IDs (bus 0, device 0, function 0), read through the
// configuration window: ChipSeriesUnknown when the host bridge is not the platform vendor's.
// Reads only, and reports nothing.
UINT8 ReadChipSeries();

// True on a supported Tarn board. Reads only.
BOOLEAN IsSupportedTarnBoard();
