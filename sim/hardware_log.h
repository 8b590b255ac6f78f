// The access log of the simulated hardware: one entry per port, memory or interrupt-flag
// operation the product made, in order, with builders for the sequences tests expect.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

enum class SimAccessKind : uint8_t {
  PortIn,
  PortOut,
  MemRead,
  MemWrite,
  InterruptFlagRead, // Value: 1 when interrupts were enabled
  InterruptsOff,
  InterruptsOn,
};

// One access as the product made it. Width in bits (0 for the interrupt operations).
struct SimAccess {
  SimAccessKind Kind;
  uint8_t Width;
  uint64_t Address;
  uint64_t Value;

  bool operator==(const SimAccess &) const = default;

  // Builders for expected sequences.
  static SimAccess In(uint8_t Width, uint64_t Port, uint64_t Value) {
    return {SimAccessKind::PortIn, Width, Port, Value};
  }
  static SimAccess Out(uint8_t Width, uint64_t Port, uint64_t Value) {
    return {SimAccessKind::PortOut, Width, Port, Value};
  }
  static SimAccess Read(uint8_t Width, uint64_t Address, uint64_t Value) {
    return {SimAccessKind::MemRead, Width, Address, Value};
  }
  static SimAccess Write(uint8_t Width, uint64_t Address, uint64_t Value) {
    return {SimAccessKind::MemWrite, Width, Address, Value};
  }
  static SimAccess FlagRead(bool Enabled) {
    return {SimAccessKind::InterruptFlagRead, 0, 0, Enabled ? 1u : 0u};
  }
  static SimAccess Cli() { return {SimAccessKind::InterruptsOff, 0, 0, 0}; }
  static SimAccess Sti() { return {SimAccessKind::InterruptsOn, 0, 0, 0}; }
};

std::ostream &operator<<(std::ostream &Out, const SimAccess &Access);
// One access per line, for readable test failures.
std::string DescribeAccesses(const std::vector<SimAccess> &Accesses);

// All ones in Width bits: what a bus with nothing there reads back.
inline uint64_t SimAllOnes(uint8_t Width) {
  return Width >= 64 ? ~0ull : (1ull << Width) - 1;
}
