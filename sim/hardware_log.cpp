#include "sim/hardware_log.h"

#include <cstdio>
#include <ostream>
#include <sstream>

namespace {

const char *KindName(SimAccessKind Kind) {
  switch (Kind) {
  case SimAccessKind::PortIn:
    return "in";
  case SimAccessKind::PortOut:
    return "out";
  case SimAccessKind::MemRead:
    return "read";
  case SimAccessKind::MemWrite:
    return "write";
  case SimAccessKind::InterruptFlagRead:
    return "if?";
  case SimAccessKind::InterruptsOff:
    return "cli";
  case SimAccessKind::InterruptsOn:
    return "sti";
  }
  return "?";
}

} // namespace

std::ostream &operator<<(std::ostream &Out, const SimAccess &Access) {
  char Text[96];
  switch (Access.Kind) {
  case SimAccessKind::InterruptsOff:
  case SimAccessKind::InterruptsOn:
    std::snprintf(Text, sizeof Text, "%s", KindName(Access.Kind));
    break;
  case SimAccessKind::InterruptFlagRead:
    std::snprintf(Text, sizeof Text, "if? -> %llu", static_cast<unsigned long long>(Access.Value));
    break;
  default:
    std::snprintf(Text, sizeof Text, "%s%u 0x%llx = 0x%llx", KindName(Access.Kind), Access.Width,
                  static_cast<unsigned long long>(Access.Address),
                  static_cast<unsigned long long>(Access.Value));
  }
  return Out << Text;
}

std::string DescribeAccesses(const std::vector<SimAccess> &Accesses) {
  std::ostringstream Out;
  for (const SimAccess &Access : Accesses)
    Out << Access << '\n';
  return Out.str();
}
