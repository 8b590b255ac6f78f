// SIGINT, SIGTERM, SIGHUP and SIGQUIT in the Linux front end.
//
// Before GPP1 is written such a signal ends the run at once, with one line saying that nothing
// was written. From the start of the write on it is held: the write, the device's flush and the
// tool's read-back finish, their outcome is printed, and the front end then ends the run as the
// signal asks (status 128 + its number). A write cut short between the block and its verify
// would leave a record nobody checked, and a console nobody saw.
#pragma once

#include <string>

// Installs the handlers (once, from main: a library never takes a process's signals).
void InstallInterruptHandlers();

// From now on, until the process ends, a signal is held instead of ending the run: once a write
// has begun, no signal may end the run with a claim that nothing was written.
void HoldInterrupts();
// The first signal held so far, 0 for none.
int HeldInterrupt();

// "SIGINT" and the like, for the four signals above.
const char *InterruptName(int Signal);
