// The diagnostics channel's one way to each hardware resource: PCI configuration space (through
// the port pair and the memory-mapped window), memory-mapped registers by width, and the CMOS. It
// is built on the platform operations (platform/hardware.h); nothing else in the channel calls
// them.
//
// Which of the two configuration paths an access takes stays with its caller: each step of the
// channel is defined on one of them (the debug UART's window search and power step on the port
// pair, everything else on the window), and hardware and firmware see exactly that sequence.
#pragma once

#include "uefi/uefi.h"

// --- PCI configuration addresses -------------------------------------------------------------
// Base of the memory-mapped configuration window: 1 MiB per bus, 32 KiB per device, 4 KiB per
// function.
constexpr UINT64 EcamWindowBase = 0xE0000000;

// Configuration registers every function has.
constexpr UINT32 PciVendorIdRegister = 0x00;
constexpr UINT32 PciDeviceIdRegister = 0x02;
constexpr UINT32 PciCommandRegister = 0x04;
constexpr UINT32 PciBar0Register = 0x10;
constexpr UINT16 PciCommandMemorySpace = 0x0002;
constexpr UINT16 PciCommandBusMaster = 0x0004;

// A base-address register: bit 0 set for I/O space; the low 4 bits are flags, the rest the base.
constexpr UINT32 PciBarIoSpace = 0x1;
constexpr UINT32 PciBarFlagMask = 0xF;
// What an all-ones register (no function there) leaves once its flags are cleared.
constexpr UINT32 PciBarAbsent = 0xFFFFFFF0;
// Bits 1-2 of a memory window register: 2 for a 64-bit window, whose upper half is the next
// register.
constexpr UINT32 PciBarTypeMask = 0x6;
constexpr UINT32 PciBarType64 = 0x4;
// The chip's own functions decode page-aligned windows.
constexpr UINT32 PciPageMask = 0xFFFFF000;
// Bits 0-1 of a power-control register: the power state, 0 fully on, 3 powered down.
constexpr UINT16 PciPowerStateMask = 0x0003;

// The one 32-bit form both access paths start from.
constexpr UINT32 PciCfgAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return (Bus << 20) | (Device << 15) | (Function << 12) | Register;
}

// Address of a function's configuration space in the memory-mapped window.
UINT64 EcamAddress(UINT32 Bus, UINT32 Device, UINT32 Function);

// A 64-bit memory window whose upper half is not zero lies above 4 GiB, where the channel's
// 32-bit addresses cannot reach it: its low half alone names some other place (RAM, another
// device), and a zero low half does not mean "unassigned". Such a window is never moved or
// written through; its device counts as absent. Low is the window register, High the next one.
constexpr bool WindowAbove4GiB(UINT32 Low, UINT32 High) {
  return (Low & PciBarIoSpace) == 0 && (Low & PciBarTypeMask) == PciBarType64 && High != 0;
}
// The same for the window register Register, already read as Low, of the function whose
// configuration space is at Config in the memory-mapped window; the upper half is read only for
// a 64-bit window.
bool EcamWindowAbove4GiB(UINT64 Config, UINT32 Register, UINT32 Low);

// --- Configuration access through the 0xCF8/0xCFC port pair (registers 0 to 0xFF) -------------
// Each runs with interrupts off and puts back the previous contents of port 0xCF8, so code that
// was interrupted between writing its own address and using the data port is not disturbed.
UINT16 PciCfgRead16(UINT32 Address);
UINT32 PciCfgRead32(UINT32 Address);
UINT32 PciCfgWrite32(UINT32 Address, UINT32 Value);
UINT16 PciCfgOr16(UINT32 Address, UINT16 Bits);
// Clears bits 0-1 (for a power-control register: the fully-on state). Returns the new value.
UINT16 PciCfgClear16(UINT32 Address);

// --- Memory-mapped registers -------------------------------------------------------------------
// One uncached access of exactly the named width.
UINT8 MmioRead8(UINT64 Address);
UINT16 MmioRead16(UINT64 Address);
UINT32 MmioRead32(UINT64 Address);
VOID MmioWrite8(UINT64 Address, UINT8 Value);
UINT16 MmioWrite16(UINT64 Address, UINT16 Value);
UINT32 MmioWrite32(UINT64 Address, UINT32 Value);
VOID MmioWrite64(UINT64 Address, UINT64 Value);
VOID MmioOr32(UINT64 Address, UINT32 Bits);

// --- The real-time clock's CMOS bytes (index port 0x70, data port 0x71) -------------------------
UINT8 CmosRead8(UINT8 Index);
VOID CmosWrite8(UINT8 Index, UINT8 Value);

// --- Interrupt state ---------------------------------------------------------------------------
// Returns whether interrupts were enabled, then disables them.
BOOLEAN SuspendInterrupts();
// Puts the interrupt flag back exactly as SuspendInterrupts found it.
VOID RestoreInterrupts(BOOLEAN WereEnabled);
