// What the station's files (a backup, an inspection's record file, the run's log) share: each is
// reached through the shell (shell_files.h), fitted to the room its volume reports, and read back
// before the tool relies on it; a taken name is never used, the next numbered one is.
#pragma once

#include "shell/memory.h"
#include "shell/shell_files.h"

// A taken name is never overwritten; the file goes under the first free of NAME-2.EXT, NAME-3.EXT
// ... instead, with no cap short of the file system's (a folder holds far fewer files than this,
// and a name of this many digits still fits every file system's 255 characters).
constexpr UINTN MaxFileNumber = 0xFFFFFFFF;

// The name Path gets as its Number-th choice: Path itself for 1, otherwise with "-Number" before
// its extension ("old.bin", "old-2.bin"); null when the pool has none.
PoolPtr<CHAR16> NumberedName(const CHAR16 *Path, UINTN Number);

// Takes a partly made file away again; a removal that fails leaves nothing worse than before.
VOID RemoveByName(const CHAR16 *Path);
// Size bytes of Path from Offset on into Buffer, and the file's size when FileSize is given.
EFI_STATUS ReadAt(const CHAR16 *Path, UINT64 Offset, VOID *Buffer, UINTN Size, UINT64 *FileSize);
// Size bytes of Path from Offset on, compared with Expected. With Whole the file must end there.
EFI_STATUS ReadBackEquals(const CHAR16 *Path, UINT64 Offset, const UINT8 *Expected, UINTN Size,
                          bool Whole, bool *Equal);
// A write the volume took only in part, of Written bytes after Size, cut back to Size.
VOID CutBack(SHELL_FILE_HANDLE File, UINT64 Size, UINT64 Written);
// Writes Size bytes at the handle's position, flushes them, notes where they end (End, when
// given) and closes the file (a FAT driver may write a file's last data only when it closes); the
// first failure is the status. A write the volume takes only in part is cut back to CutTo, the
// size the file had, when that is given.
EFI_STATUS WriteAndClose(ShellFile &File, const VOID *Data, UINTN Size, UINT64 *End,
                         const UINT64 *CutTo);
// On a volume that cannot say how much room it has, whether the file Beside found room: a
// one-byte file made right after it, and removed again.
EFI_STATUS ProveRoomAfter(const CHAR16 *Beside);
