// kestrel: the board-record tool on Linux.
#include <csignal>
#include <cstdio>

#include "host/front_end.h"

int main(int Argc, char **Argv) {
  // Before anything is opened: a medium must never become standard output or standard error.
  if (!MakeStandardDescriptorsSafe())
    return FrontEndErrorExit;
  // A closed pipe is reported as a failed output, with the operation's outcome, not a silent death.
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  return RunFrontEnd(Args, stdout, stderr);
}
