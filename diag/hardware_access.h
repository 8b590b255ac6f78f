// The diagnostics channel's only contact with hardware. The platform operations (ports, physical
// memory, the interrupt flag) are declared here once and defined twice: by x86 instructions for
// the image (platform/) and by a recorded hardware model for the host (sim/). The PCI
// configuration and register accessors above them are ordinary product code.
#pragma once

#include "uefi/uefi.h"

// --- Platform operations ---------------------------------------------------------------------
UINT8 PortIn8(UINT16 Port);
UINT16 PortIn16(UINT16 Port);
UINT32 PortIn32(UINT16 Port);
VOID PortOut8(UINT16 Port, UINT8 Value);
VOID PortOut16(UINT16 Port, UINT16 Value);
VOID PortOut32(UINT16 Port, UINT32 Value);

// One uncached access of exactly the named width at a physical address, in program order.
UINT8 PhysRead8(UINT64 Address);
UINT16 PhysRead16(UINT64 Address);
UINT32 PhysRead32(UINT64 Address);
UINT64 PhysRead64(UINT64 Address);
VOID PhysWrite8(UINT64 Address, UINT8 Value);
VOID PhysWrite16(UINT64 Address, UINT16 Value);
VOID PhysWrite32(UINT64 Address, UINT32 Value);
VOID PhysWrite64(UINT64 Address, UINT64 Value);

// Whether the processor currently takes maskable interrupts; stop taking them; resume.
BOOLEAN InterruptFlag();
VOID InterruptsOff();
VOID InterruptsOn();

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

// The one 32-bit form both access paths start from.
constexpr UINT32 PciCfgAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return (Bus << 20) | (Device << 15) | (Function << 12) | Register;
}

// Address of a function's configuration space in the memory-mapped window.
UINT64 EcamAddress(UINT32 Bus, UINT32 Device, UINT32 Function);

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
UINT16 MmioRead16(UINT64 Address);
UINT32 MmioRead32(UINT64 Address);
UINT16 MmioWrite16(UINT64 Address, UINT16 Value);
UINT32 MmioWrite32(UINT64 Address, UINT32 Value);
VOID MmioOr32(UINT64 Address, UINT32 Bits);

// --- Interrupt state ---------------------------------------------------------------------------
// Returns whether interrupts were enabled, then disables them.
BOOLEAN SuspendInterrupts();
// Puts the interrupt flag back exactly as SuspendInterrupts found it.
VOID RestoreInterrupts(BOOLEAN WereEnabled);
