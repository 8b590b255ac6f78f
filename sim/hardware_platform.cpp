// The platform operations (platform/hardware.h) defined for the host: each is one access to the
// active simulated hardware model, which records it.
#include "platform/hardware.h"
#include "sim/hardware_model.h"

UINT8 PortIn8(UINT16 Port) {
  return static_cast<UINT8>(SimHardware::Active().PortRead(8, Port));
}
UINT16 PortIn16(UINT16 Port) {
  return static_cast<UINT16>(SimHardware::Active().PortRead(16, Port));
}
UINT32 PortIn32(UINT16 Port) {
  return static_cast<UINT32>(SimHardware::Active().PortRead(32, Port));
}
VOID PortOut8(UINT16 Port, UINT8 Value) {
  SimHardware::Active().PortWrite(8, Port, Value);
}
VOID PortOut16(UINT16 Port, UINT16 Value) {
  SimHardware::Active().PortWrite(16, Port, Value);
}
VOID PortOut32(UINT16 Port, UINT32 Value) {
  SimHardware::Active().PortWrite(32, Port, Value);
}

UINT8 PhysRead8(UINT64 Address) {
  return static_cast<UINT8>(SimHardware::Active().PhysRead(8, Address));
}
UINT16 PhysRead16(UINT64 Address) {
  return static_cast<UINT16>(SimHardware::Active().PhysRead(16, Address));
}
UINT32 PhysRead32(UINT64 Address) {
  return static_cast<UINT32>(SimHardware::Active().PhysRead(32, Address));
}
UINT64 PhysRead64(UINT64 Address) {
  return SimHardware::Active().PhysRead(64, Address);
}
VOID PhysWrite8(UINT64 Address, UINT8 Value) {
  SimHardware::Active().PhysWrite(8, Address, Value);
}
VOID PhysWrite16(UINT64 Address, UINT16 Value) {
  SimHardware::Active().PhysWrite(16, Address, Value);
}
VOID PhysWrite32(UINT64 Address, UINT32 Value) {
  SimHardware::Active().PhysWrite(32, Address, Value);
}
VOID PhysWrite64(UINT64 Address, UINT64 Value) {
  SimHardware::Active().PhysWrite(64, Address, Value);
}

BOOLEAN InterruptFlag() {
  return SimHardware::Active().ReadInterruptFlag() ? 1 : 0;
}
VOID InterruptsOff() {
  SimHardware::Active().SetInterrupts(false);
}
VOID InterruptsOn() {
  SimHardware::Active().SetInterrupts(true);
}
