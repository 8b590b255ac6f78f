// GPIO pad configuration over the sideband network: ownership, the two configuration words,
// software ownership and interrupt routing (SCI/GPE, SMI, direct IRQ), and the debug UART's
// four pads switched to their UART function.
#pragma once

#include "uefi/uefi.h"

// A pad: its community's sideband port << 16 | the offset of its first configuration register.
struct PadConfig {
  UINT32 PadId;
  UINT32 PadDw0;
  UINT32 PadDw1;
  UINT8 SoftwareOwned; // 1: set the pad's software-ownership bit; anything else: clear it
  UINT8 DirectIrq;     // 1: program the direct-IRQ selection when routed to a direct IRQ
};

// One row of the pad table: a signal of the debug UART.
struct UartPadRow {
  UINT32 PadDw0;
  UINT32 PadDw1;
  UINT8 Port;
  UINT16 Offset;
  UINT8 SoftwareOwned;
  UINT8 DirectIrq;
  const CHAR8 *Name;
};

constexpr UINT32 UartPadCount = 4;
extern const UartPadRow UartPadTable[UartPadCount];

// Pad registers of a community.
constexpr UINT16 PadOwnershipBase = 0x20;
constexpr UINT16 PadSoftwareOwnershipBase = 0x80;
constexpr UINT16 PadGpeRoutingBase = 0x120;
constexpr UINT16 PadGpeEnableBase = 0x130;
constexpr UINT16 PadSmiRoutingBase = 0x140;
constexpr UINT16 PadSmiEnableBase = 0x150;
constexpr UINT16 PadDirectIrqEnable = 0x210;
constexpr UINT16 PadDirectIrqSelectLow = 0x220;
constexpr UINT16 PadDirectIrqSelectHigh = 0x224;
constexpr UINT16 PadConfigBase = 0x400;
constexpr UINT16 PadConfigStride = 8;

// Bits of PadDw0 and PadDw1 that a configuration keeps from the pad's current value; the rest
// are cleared, and the configured value is ORed over the result.
constexpr UINT32 PadDw0KeepMask = 0xF961E0FE;
constexpr UINT32 PadDw1KeepMask = 0xFFFC00FF;

// Owner of a pad (2 bits); 0 is the host. A pad identifier below the first pad's registers
// names no pad and reports PadOwnerNone.
constexpr UINT32 PadOwnerHost = 0;
constexpr UINT32 PadOwnerNone = 3;
UINT32 GetPadOwnership(UINT32 PadId);

VOID ConfigurePad(const PadConfig &Config);
VOID ConfigureUartPads();
VOID ConfigureDirectIrq(UINT8 Port, UINT16 Pad);
