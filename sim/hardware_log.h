// The access log of the simulated hardware: one entry per port, memory or interrupt-flag
// operation the product made, in order.
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
};

std::ostream &operator<<(std::ostream &Out, const SimAccess &Access);
// One access per line, for readable test failures.
std::string DescribeAccesses(const std::vector<SimAccess> &Accesses);

// All ones in Width bits: what a bus with nothing there reads back.
inline uint64_t SimAllOnes(uint8_t Width) {
  return Width >= 64 ? ~0ull : (1ull << Width) - 1;
}

// Registers and configuration space are little-endian byte arrays: Size bytes (at most 8) of Bytes,
// least significant first, and the low Size bytes of Value stored the same way.
inline uint64_t SimLoadLe(const uint8_t *Bytes, unsigned Size) {
  uint64_t Value = 0;
  for (unsigned I = Size; I > 0; I--)
    Value = Value << 8 | Bytes[I - 1];
  return Value;
}
inline void SimStoreLe(uint8_t *Bytes, unsigned Size, uint64_t Value) {
  for (unsigned I = 0; I < Size; I++)
    Bytes[I] = static_cast<uint8_t>(Value >> 8 * I);
}
