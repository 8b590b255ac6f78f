// The one seam between the product and the hardware: I/O ports, physical memory and the
// processor's interrupt flag. Declared here once and defined three times, chosen at link time: by
// x86 instructions for the image (platform/x86_hardware.cpp) and by the recorded hardware model for
// the tests (sim/hardware_platform.cpp) and by a machine without the board's devices for the
// Linux front end (hosted/no_devices.cpp). Only the diagnostics channel calls these.
#pragma once

#include "uefi/uefi.h"

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
