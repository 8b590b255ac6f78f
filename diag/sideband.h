// Registers on the chip's sideband network, named by port and offset: through the sideband
// bridge's window or its message interface (SidebandRead32/Write32), or through the fixed window
// (PchPcrRead/Write); and the chip series, told from the host bridge's PCI IDs.
#pragma once

#include "diag/platform_identity.h"
#include "uefi/uefi.h"

// Ports used here.
constexpr UINT8 SidebandPortSerialIo = 0x90;
constexpr UINT8 SidebandPortSerialIoPower = 0xC6;
constexpr UINT8 SidebandPortGpioCommunity4 = 0xC4;
constexpr UINT8 SidebandPortGpioCommunity5 = 0xC5;

// The fixed window: register (port, offset) at FixedSidebandWindow | port << 16 | offset.
constexpr UINT64 FixedSidebandWindow = 0xD0000000;

UINT32 SidebandRead32(UINT8 Port, UINT16 Offset);
VOID SidebandWrite32(UINT8 Port, UINT16 Offset, UINT32 Value);

// EFI_INVALID_PARAMETER (with a message) for an offset that is not a multiple of 4.
EFI_STATUS PchPcrRead(UINT8 Port, UINT16 Offset, UINT32 *Value);
EFI_STATUS PchPcrWrite(UINT8 Port, UINT16 Offset, UINT32 Value);
// (value AND AndMask) OR OrValue; nothing is written when the read is refused.
VOID PcrReadModifyWrite(UINT8 Port, UINT16 Offset, UINT32 AndMask, UINT32 OrValue);

// ReadChipSeries that reports a host bridge of the platform's vendor naming no known series, and
// gives ChipSeriesUnknown for it.
UINT8 DetectChipSeries();
