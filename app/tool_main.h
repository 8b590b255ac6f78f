// The tool's run: the banner, the request's operation under its log line, and the run's result
// for whoever started it.
#pragma once

#include "app/backup_files.h"
#include "app/run_log.h"
#include "app/tool_request.h"
#include "shell/boot_arguments.h"

// What a run leaves for whoever started it: its status and the outcome in words (the outcome
// line of a start without a shell), the record block 0 was last seen holding (Known false when
// none was read; the Linux front end shows it with --json), its line in the log (Path null when
// none was put), whether it wrote GPP1 (the front end amends the line when it ends the run
// otherwise) and how it ends.
struct RunResult {
  ToolStatus Status;
  const CHAR8 *Reason;
  SeenRecord Record;
  StationLog Line;
  bool WriteReached;
  RunEnding Ending;
};

// Runs Request: what its parse noted, the banner, its operation or job under its log line.
RunResult ToolMain(const ToolRequest &Request);

// A run that never reached GPP1 (the Linux front end's: GPP1 held by another process, a signal
// before the run): its line put in the log Request names, with Status and Reason, by the log's
// own code; nothing else is done and nothing is asked. Status, or the log's own failure.
ToolStatus LogRunWithoutGpp1(const ToolRequest &Request, ToolStatus Status, const CHAR8 *Reason);

// A start without a shell whose arguments file (File) cannot be taken, for Fault: the banner, one
// "ERROR: " line, and the run's line in the log Request (the file's first line, when it could be
// read) names; status ToolBadCommandLine, or the log's own failure.
RunResult RefuseArgumentsFile(const CHAR16 *File, ArgumentsFileFault Fault,
                              const ToolRequest &Request);
