// SIGINT, SIGTERM, SIGHUP and SIGQUIT in the Linux front end.
//
// A signal never ends a run without its word: the first one is held. Before GPP1 is written it
// ends the run at the next safe point (a wait for the medium's lock stops, and no write is
// begun), with the run's log line put and saying so. From the start of the write on it is held
// until the write, the device's flush and the tool's read-back are done and their outcome
// printed; the front end then ends the run as the signal asks (status 128 + its number). A write
// cut short between the block and its verify would leave a record nobody checked, and a console
// nobody saw. A second signal before the write ends the run at once, for a run stuck on a file
// system that does not answer.
#pragma once

// A run a signal ends exits with this plus the signal's number, as a shell reports it.
constexpr int SignalExitBase = 128;

// Installs the handlers (once, from main: a library never takes a process's signals).
void InstallInterruptHandlers();

// Called right before the medium is first opened for writing: false when a signal has been held
// already, and the write must not begin; otherwise, from now on until the process ends, every
// signal is held.
bool BeginWrite();
// The first signal held so far, 0 for none.
int HeldInterrupt();

// "SIGINT" and the like, for the four signals above.
const char *InterruptName(int Signal);

// A terminal the run has put in character mode: put back as Saved when a signal ends the run at
// once, as on every other way out. ForgetTerminal once it is put back.
struct termios;
void RememberTerminal(int Fd, const termios &Saved);
void ForgetTerminal();
