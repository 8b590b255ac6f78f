// The tool's run: the banner, the command line's operation under its log line, and what the run
// leaves for whoever started it.
#pragma once

#include "app/command_line.h"
#include "app/request_checks.h"
#include "app/backup_files.h"
#include "app/run_log.h"
#include "shell/boot_arguments.h"

ToolStatus ToolMain(UINTN Argc, CHAR16 **Argv);

// A run that never reached GPP1 (the Linux front end's: GPP1 held by another process, a signal
// before the run): its line put in the log its command line names, with Status and Reason, by the
// log's own code; nothing else is done and nothing is asked. Status, or the log's own failure.
ToolStatus LogRunWithoutGpp1(UINTN Argc, CHAR16 **Argv, ToolStatus Status, const CHAR8 *Reason);

// A start without a shell whose arguments file (File) cannot be taken, for Fault: the banner, one
// "ERROR: " line, and the run's line in the log its first line names, when that line could be
// read (Argc, Argv); ToolBadCommandLine, or the log's own failure. LastRun() then gives its
// reason for the outcome line.
ToolStatus RefuseArgumentsFile(const CHAR16 *File, ArgumentsFileFault Fault, UINTN Argc,
                               CHAR16 **Argv);

// The log a run of Operation puts its line in: --log's file, the station's log for a job, or null.
const CHAR16 *RunLogPath(const CliOptions &Options, ToolOperation Operation);

// What the last run left once ToolMain has returned: its outcome in words (the outcome line of a
// start without a shell), the record block 0 was last seen holding (Known false when none was
// read; the Linux front end shows it with --json), and its line in the log, with whether it wrote
// GPP1 (the front end amends the line when it ends the run otherwise).
struct FinishedRun {
  const CHAR8 *Reason;
  SeenRecord Record;
  StationLog Line; // Path null when no line was put
  bool WriteReached;
};
const FinishedRun &LastRun();

// How a run ends once the tool is done (--wait, --then): the seconds its outcome stays on the
// screen unless a key is pressed (WaitGiven false: the caller's default), then a return, a reset
// or a power-off. Read from a command line ToolMain took; values it refused leave the defaults.
struct RunEnding {
  bool WaitGiven;
  UINT32 WaitSeconds;
  RunEnd Then;
};
RunEnding RunEndingOf(UINTN Argc, CHAR16 **Argv);
