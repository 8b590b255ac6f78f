// The files a station keeps beside the board: the block a write replaces (--backup), put back by
// --restore, and one line per run in the station's log (--log). Each file is reached through the
// shell (shell_files.h), fitted to the room its volume reports, and read back before the tool
// relies on it.
#pragma once

#include "app/run_story.h"

// --- Backups ----------------------------------------------------------------------------------

// A taken name is never overwritten; the file goes under the first free of NAME-2.EXT, NAME-3.EXT
// ... instead, with no cap short of the file system's (a folder holds far fewer files than this,
// and a name of this many digits still fits every file system's 255 characters).
constexpr UINTN MaxFileNumber = 0xFFFFFFFF;

// What a station file is called in its messages: "backup" and "Backup" for the block a change
// replaces, and what it keeps ("block").
struct StationFileWords {
  const CHAR16 *Noun;
  const CHAR16 *CapitalNoun;
  const CHAR16 *Content;
};
inline constexpr StationFileWords BackupWords = {u"backup", u"Backup", u"block"};
inline constexpr StationFileWords RecordFileWords = {u"record file", u"Record file", u"record"};

// Saves Size bytes of Data to a new file, Path or the first free numbered name beside it, and
// reads it back after closing and reopening it. *Kept is the name used. ToolBackupFailed
// (ToolOutOfResources) with one "ERROR: " line naming the file, in Words, when it could not be
// made whole; nothing is then left of it.
ToolStatus SaveNewFile(const CHAR16 *Path, const UINT8 *Data, UINTN Size,
                       const StationFileWords &Words, PoolPtr<CHAR16> *Kept);
// The block a change replaces (Size bytes, the whole of block 0), as SaveNewFile keeps it.
inline ToolStatus SaveBackupFile(const CHAR16 *Path, const UINT8 *Block, UINTN Size,
                                 PoolPtr<CHAR16> *Kept) {
  return SaveNewFile(Path, Block, Size, BackupWords, Kept);
}
// Removes a backup this run made, which turned out not to be needed: nothing was written.
VOID DiscardBackupFile(const CHAR16 *Path);
// Reads a backup back into Block: the file must hold exactly Size bytes (one GPP1 block); 2 with
// one "ERROR: " line naming the file otherwise.
ToolStatus LoadBackupFile(const CHAR16 *Path, UINT8 *Block, UINTN Size);
// The name Path gets as its Number-th choice: Path itself for 1, otherwise with "-Number" before
// its extension ("old.bin", "old-2.bin"); null when the pool has none.
PoolPtr<CHAR16> NumberedName(const CHAR16 *Path, UINTN Number);

// --- The run log ------------------------------------------------------------------------------

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
