// The platform operations (platform/hardware.h) defined for the host: each is one access to the
// active simulated hardware model, which records it.
#include "platform/hardware.h"
#include "sim/hardware_model.h"

// The port and memory accessors of one width, all alike but for their names and types.
#define SIM_PHYS_ACCESS(Bits)                                                                      \
  UINT##Bits PhysRead##Bits(UINT64 Address) {                                                      \
    return static_cast<UINT##Bits>(SimHardware::Active().PhysRead(Bits, Address));                 \
  }                                                                                                \
  VOID PhysWrite##Bits(UINT64 Address, UINT##Bits Value) {                                         \
    SimHardware::Active().PhysWrite(Bits, Address, Value);                                         \
  }
#define SIM_PORT_AND_PHYS_ACCESS(Bits)                                                             \
  UINT##Bits PortIn##Bits(UINT16 Port) {                                                           \
    return static_cast<UINT##Bits>(SimHardware::Active().PortRead(Bits, Port));                    \
  }                                                                                                \
  VOID PortOut##Bits(UINT16 Port, UINT##Bits Value) {                                              \
    SimHardware::Active().PortWrite(Bits, Port, Value);                                            \
  }                                                                                                \
  SIM_PHYS_ACCESS(Bits)

SIM_PORT_AND_PHYS_ACCESS(8)
SIM_PORT_AND_PHYS_ACCESS(16)
SIM_PORT_AND_PHYS_ACCESS(32)
SIM_PHYS_ACCESS(64)

BOOLEAN InterruptFlag() {
  return SimHardware::Active().ReadInterruptFlag() ? 1 : 0;
}
VOID InterruptsOff() {
  SimHardware::Active().SetInterrupts(false);
}
VOID InterruptsOn() {
  SimHardware::Active().SetInterrupts(true);
}
