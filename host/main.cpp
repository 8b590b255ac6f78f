// kestrel: the board-record tool on Linux.
#include <cstdio>

#include "host/front_end.h"

int main(int Argc, char **Argv) {
  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  int Status = RunFrontEnd(Args, stdout, stderr);
  if (fflush(stdout) != 0 && Status == 0)
    Status = 1;
  return Status;
}
