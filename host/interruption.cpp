#include "host/interruption.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int InterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t Writing = 0;
volatile sig_atomic_t Held = 0;
volatile sig_atomic_t TerminalFd = -1;
termios SavedTerminal;

// Only async-signal-safe calls from here on.
void WriteStderr(const char *Text) {
  size_t Length = strlen(Text);
  while (Length > 0) {
    ssize_t N = write(STDERR_FILENO, Text, Length);
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return;
    Text += N;
    Length -= static_cast<size_t>(N);
  }
}

void OnInterrupt(int Signal) {
  if (Held == 0) {
    Held = Signal;
    return;
  }
  if (Writing)
    return;
  // A second signal before any write: the run ends here; a lock on the medium goes with the
  // process, and a line the run reserved in its log still says it did not finish.
  if (TerminalFd >= 0)
    tcsetattr(TerminalFd, TCSANOW, &SavedTerminal);
  WriteStderr("kestrel: ");
  WriteStderr(InterruptName(Signal));
  WriteStderr(" again: the run ends here; nothing was written\n");
  _exit(SignalExitBase + Signal);
}

} // namespace

const char *InterruptName(int Signal) {
  switch (Signal) {
  case SIGINT:
    return "SIGINT";
  case SIGTERM:
    return "SIGTERM";
  case SIGHUP:
    return "SIGHUP";
  case SIGQUIT:
    return "SIGQUIT";
  default:
    return "a signal";
  }
}

void InstallInterruptHandlers() {
  struct sigaction Action;
  memset(&Action, 0, sizeof(Action));
  Action.sa_handler = OnInterrupt;
  // Transfers and syncs interrupted by a held signal carry on rather than fail with EINTR.
  Action.sa_flags = SA_RESTART;
  sigemptyset(&Action.sa_mask);
  for (int Signal : InterruptSignals)
    sigaddset(&Action.sa_mask, Signal);
  for (int Signal : InterruptSignals) {
    struct sigaction Old;
    // A signal the caller ignores (nohup, a background job's SIGINT) stays ignored.
    if (sigaction(Signal, nullptr, &Old) == 0 && Old.sa_handler == SIG_IGN)
      continue;
    sigaction(Signal, &Action, nullptr);
  }
}

bool BeginWrite() {
  if (Held != 0)
    return false;
  Writing = 1;
  // A signal that came between the test and the mark is held all the same; the write goes on.
  return true;
}

int HeldInterrupt() {
  return Held;
}

void RememberTerminal(int Fd, const termios &Saved) {
  SavedTerminal = Saved;
  TerminalFd = Fd;
}

void ForgetTerminal() {
  TerminalFd = -1;
}
