// The block a change replaces (--backup, a job's SERIAL.bin) and an inspection's record file,
// each a new file read back before the run goes on, and a kept block put back (--restore).
#pragma once

#include "app/station_files.h"
#include "app/tool_status.h"

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
// reads it back after closing and reopening it. *Kept is the name used. ToolFileNotKept
// (ToolOutOfMemory) with one "ERROR: " line naming the file, in Words, when it could not be
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
