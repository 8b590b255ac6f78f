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
