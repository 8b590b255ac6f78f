#include "sim/hardware_log.h"

#include <cstdio>
#include <ostream>
#include <sstream>

std::ostream &operator<<(std::ostream &Out, const SimAccess &Access) {
  // In the order of SimAccessKind.
  static const char *const KindNames[] = {"in", "out", "read", "write", "if?", "cli", "sti"};
  const char *Name = KindNames[static_cast<size_t>(Access.Kind)];
  const auto Address = static_cast<unsigned long long>(Access.Address);
  const auto Value = static_cast<unsigned long long>(Access.Value);
  char Text[96];
  if (Access.Kind == SimAccessKind::InterruptsOff || Access.Kind == SimAccessKind::InterruptsOn)
    std::snprintf(Text, sizeof Text, "%s", Name);
  else if (Access.Kind == SimAccessKind::InterruptFlagRead)
    std::snprintf(Text, sizeof Text, "if? -> %llu", Value);
  else
    std::snprintf(Text, sizeof Text, "%s%u 0x%llx = 0x%llx", Name, Access.Width, Address, Value);
  return Out << Text;
}

std::string DescribeAccesses(const std::vector<SimAccess> &Accesses) {
  std::ostringstream Out;
  for (const SimAccess &Access : Accesses)
    Out << Access << '\n';
  return Out.str();
}
