// The files a station keeps beside the board: the block a write replaces (--backup), put back by
// --restore, and one line per run in the station's log (--log). Each file is reached through the
// shell (shell_files.h) and read back before the tool relies on it.
#pragma once

#include "app/tool_status.h"

// --- Backups ----------------------------------------------------------------------------------

// Saves Block (Size bytes, the whole of block 0) to Path, which must not exist, and reads it back;
// 2 with one "ERROR: " line naming the file when it cannot be made whole (nothing is left of it).
ToolStatus SaveBackupFile(const CHAR16 *Path, const UINT8 *Block, UINTN Size);
// Removes a backup this run made, which turned out not to be needed: nothing was written.
VOID DiscardBackupFile(const CHAR16 *Path);
// Reads a backup back into Block: the file must hold exactly Size bytes (one GPP1 block); 2 with
// one "ERROR: " line naming the file otherwise.
ToolStatus LoadBackupFile(const CHAR16 *Path, UINT8 *Block, UINTN Size);

// --- The run log ------------------------------------------------------------------------------

struct LoggedValue {
  const CHAR16 *Name; // the option's long name without its dashes
  const CHAR16 *Text; // as given
};

// What a log line says of one run; the reason comes from the run's journal and its status.
struct RunLogEntry {
  const CHAR8 *Operation; // "write", "edit", "clear", "restore", "read", "help", "none"
  const CHAR8 *Guard;     // "none", "if-blank", "if-serial"
  const CHAR16 *GuardSerial;
  const LoggedValue *Asked;
  UINTN AskedCount;
  const CHAR16 *Backup;  // or null
  const CHAR16 *Restore; // or null
  ToolStatus Status;
};

struct StationLog {
  const CHAR16 *Path;
  SHELL_FILE_HANDLE File;
};

// Opens Path for appending (created when absent) before the run touches GPP1; ToolNotLogged with
// one "ERROR: " line when it cannot be.
ToolStatus OpenStationLog(StationLog *Log, const CHAR16 *Path);
// Appends the entry's line, closes the log and reads the line back from the file. ToolNotLogged
// with one "ERROR: " line saying what the run did when the line is not there whole.
ToolStatus AppendStationLog(StationLog *Log, const RunLogEntry &Entry);
// The words a log line gives for the run's outcome.
const CHAR8 *RunReason(ToolStatus Status);
