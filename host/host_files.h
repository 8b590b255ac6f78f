// The shell's file functions on Linux: the tool's --backup, --restore and --log reach real files
// through the simulated UEFI Shell 2.0, so the same product code runs as under the firmware.
//
// A file the tool creates as new (the shell's CreateFile, which the tool uses for backups) appears
// whole or not at all, on every file system: its name is reserved with O_CREAT|O_EXCL (never
// replacing a file, not even one that appears meanwhile), the data goes to a temporary beside it,
// which is synced and renamed over the reserved name when the file is closed, and the folder is
// synced. FAT has no link(), and FUSE file systems refuse renameat2's RENAME_NOREPLACE, so
// neither is used. A failure is said once on standard error, naming the file and the system's
// reason; the tool adds its own line.
#pragma once

#include "uefi/uefi.h"

// Points the shell's by-name and handle file functions at Linux files.
void ServeLinuxFiles(EFI_SHELL_PROTOCOL *Shell);
// Open handles, for tests.
size_t OpenLinuxFiles();
