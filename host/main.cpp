// kestrel: the board-record tool on Linux.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "host/front_end.h"
#include "host/interruption.h"

namespace {

// For tests only: a folder standing in for the root, whose dev/ and sys/ the front end then
// searches and asks instead of /dev and /sys. No test machine has an eMMC on PCI device 28, and
// this lets a hand-written sysfs tree describe one over a real block device.
constexpr const char *TestRootVariable = "KESTREL_TEST_ROOT";

} // namespace

int main(int Argc, char **Argv) {
  // Before anything is opened: a medium must never become standard output or standard error.
  if (!MakeStandardDescriptorsSafe())
    return FrontEndErrorExit;
  // A closed pipe is reported as a failed output, with the operation's outcome, not a silent death.
  signal(SIGPIPE, SIG_IGN);
  InstallInterruptHandlers();
  FrontEndPlatform Platform;
  if (const char *Root = getenv(TestRootVariable); Root != nullptr && *Root != '\0') {
    Platform.DeviceDirectory = std::string(Root) + "/dev";
    Platform.SysfsRoot = std::string(Root) + "/sys";
  }
  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  // kestrel-stick is the stick maker's short name.
  const std::string Name = Argc > 0 ? Argv[0] : "";
  if (Name.substr(Name.rfind('/') + 1) == "kestrel-stick")
    Args.insert(Args.begin(), MakeStickWord);
  return RunFrontEnd(Args, stdout, stderr, Platform);
}
