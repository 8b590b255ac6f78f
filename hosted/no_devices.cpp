// The hardware seam (platform/hardware.h) on Linux: a machine with none of the board's devices.
// The front end runs the tool as a user program, which may not touch the host's I/O ports or
// physical memory; the debug port and the trace hub are the board's, not this machine's. So every
// read answers as an empty bus does, all ones, and every write goes nowhere. Only the PCI
// configuration address latch (port 0xCF8) reads back what was written to it, as on any PC, so
// that the probe behind it finds no device rather than a broken bus.
#include "platform/hardware.h"

namespace {

constexpr UINT16 PciConfigAddressPort = 0xCF8;
UINT32 PciConfigAddress = 0;
bool TakesInterrupts = true;

} // namespace

UINT8 PortIn8(UINT16) {
  return 0xFF;
}
UINT16 PortIn16(UINT16) {
  return 0xFFFF;
}
UINT32 PortIn32(UINT16 Port) {
  return Port == PciConfigAddressPort ? PciConfigAddress : 0xFFFFFFFFu;
}
VOID PortOut8(UINT16, UINT8) {}
VOID PortOut16(UINT16, UINT16) {}
VOID PortOut32(UINT16 Port, UINT32 Value) {
  if (Port == PciConfigAddressPort)
    PciConfigAddress = Value;
}

UINT8 PhysRead8(UINT64) {
  return 0xFF;
}
UINT16 PhysRead16(UINT64) {
  return 0xFFFF;
}
UINT32 PhysRead32(UINT64) {
  return 0xFFFFFFFFu;
}
UINT64 PhysRead64(UINT64) {
  return ~UINT64{0};
}
VOID PhysWrite8(UINT64, UINT8) {}
VOID PhysWrite16(UINT64, UINT16) {}
VOID PhysWrite32(UINT64, UINT32) {}
VOID PhysWrite64(UINT64, UINT64) {}

BOOLEAN InterruptFlag() {
  return TakesInterrupts ? 1 : 0;
}
VOID InterruptsOff() {
  TakesInterrupts = false;
}
VOID InterruptsOn() {
  TakesInterrupts = true;
}
