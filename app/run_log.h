// The run's line in the station's log (--log, a job's provision.log): reserved before GPP1 is
// touched, its outcome put over it afterwards, each read back.
#pragma once

#include "app/run_story.h"

struct LoggedValue {
  const CHAR16 *Name; // the option's long name without its dashes
  const CHAR16 *Text; // as given
};

// What a log line says of one run besides its outcome, all known before GPP1 is touched. The
// outcome (the records before and after, the backup kept, the status and its reason) comes from
// the run's story.
struct RunLogEntry {
  const CHAR8 *Operation; // "write", "edit", "clear", "restore", "read", "help", "none", a job's
  const CHAR8 *Guard;     // "none", "if-blank", "if-serial"
  const CHAR16 *GuardSerial;
  const LoggedValue *Asked;
  UINTN AskedCount;
  const CHAR16 *BackupAsked; // the name asked for: the line leaves room for its numbered form
  const CHAR16 *Restore;     // or null
  const CHAR16 *SavedAsked;  // the record file an inspection asks for, or null
};

// The run's line in a log: where it starts and how long it is (its newline not counted).
struct StationLog {
  const CHAR16 *Path;
  UINT64 Start;
  UINTN Length;
};

// Before GPP1 is touched: appends a line that stands for the run, its outcome still open ("status"
// null), as long as its final form can grow, and reads it back, so that a log on a volume that
// fills up meanwhile still takes the outcome. ToolNotLoggedNothingWritten with one "ERROR: " line
// when it cannot.
ToolStatus ReserveStationLog(StationLog *Log, const CHAR16 *Path, const RunLogEntry &Entry);
// Puts the run's outcome (Status and what Story tells) in its reserved line and reads it back;
// Log then says where the line stands. Returns Status, or ToolNotLoggedNothingWritten /
// ToolNotLoggedWritten with one "ERROR: " line saying what the run did when the line cannot be
// put there.
ToolStatus FinishStationLog(StationLog *Log, const RunLogEntry &Entry, const RunStory &Story,
                            ToolStatus Status);
// For a caller that ends the run with another status than the tool's own (the Linux front end,
// after a signal or an output that failed): the status and the reason of a line FinishStationLog
// put (Line; Written when that run wrote GPP1) are replaced where the line stands, and read back.
// ToolSuccess also when no line was put (a null Path); otherwise as FinishStationLog fails.
ToolStatus AmendStationLog(const StationLog &Line, bool Written, ToolStatus Status,
                           const CHAR8 *Reason);
