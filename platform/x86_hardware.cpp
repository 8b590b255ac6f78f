// The diagnostics channel's platform operations on the board: x86 port instructions, the
// interrupt flag, and physical accesses. UEFI runs with physical memory identity-mapped and
// device windows mapped uncached, so a physical address is used as a pointer; each access goes
// through a volatile pointer of the exact width so the compiler emits one move per access,
// neither split, merged, repeated nor reordered against the others.
#include "platform/hardware.h"

namespace {

// Bit 9 of RFLAGS: maskable interrupts are taken.
constexpr UINT64 FlagsInterruptEnable = 0x200;

template <typename T> T ReadRegister(UINT64 Address) {
  return *reinterpret_cast<const volatile T *>(static_cast<UINTN>(Address));
}

template <typename T> VOID WriteRegister(UINT64 Address, T Value) {
  *reinterpret_cast<volatile T *>(static_cast<UINTN>(Address)) = Value;
}

} // namespace

UINT8 PortIn8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"(Port) : "memory");
  return Value;
}

UINT16 PortIn16(UINT16 Port) {
  UINT16 Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"(Port) : "memory");
  return Value;
}

UINT32 PortIn32(UINT16 Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(Value) : "Nd"(Port) : "memory");
  return Value;
}

VOID PortOut8(UINT16 Port, UINT8 Value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port) : "memory");
}

VOID PortOut16(UINT16 Port, UINT16 Value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"(Port) : "memory");
}

VOID PortOut32(UINT16 Port, UINT32 Value) {
  __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"(Port) : "memory");
}

UINT8 PhysRead8(UINT64 Address) {
  return ReadRegister<UINT8>(Address);
}
UINT16 PhysRead16(UINT64 Address) {
  return ReadRegister<UINT16>(Address);
}
UINT32 PhysRead32(UINT64 Address) {
  return ReadRegister<UINT32>(Address);
}
UINT64 PhysRead64(UINT64 Address) {
  return ReadRegister<UINT64>(Address);
}
VOID PhysWrite8(UINT64 Address, UINT8 Value) {
  WriteRegister<UINT8>(Address, Value);
}
VOID PhysWrite16(UINT64 Address, UINT16 Value) {
  WriteRegister<UINT16>(Address, Value);
}
VOID PhysWrite32(UINT64 Address, UINT32 Value) {
  WriteRegister<UINT32>(Address, Value);
}
VOID PhysWrite64(UINT64 Address, UINT64 Value) {
  WriteRegister<UINT64>(Address, Value);
}

BOOLEAN InterruptFlag() {
  UINT64 Flags;
  __asm__ __volatile__("pushfq\n\tpopq %0" : "=r"(Flags) : : "memory");
  return (Flags & FlagsInterruptEnable) != 0;
}

// The memory clobbers keep the compiler from moving register accesses across the change.
VOID InterruptsOff() {
  __asm__ __volatile__("cli" : : : "memory");
}

VOID InterruptsOn() {
  __asm__ __volatile__("sti" : : : "memory");
}
