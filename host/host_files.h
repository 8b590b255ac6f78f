// The shell's file functions on Linux: the tool's --backup, --restore and --log reach real files
// through the simulated UEFI Shell 2.0, so the same product code runs as under the firmware.
//
// A file the tool creates as new (the shell's CreateFile: backups, and the one-byte probe of a
// volume's room) never goes over another file. Where the file system has unnamed files it is made
// without a name (O_TMPFILE), synced, and linked in place when it is closed, which fails when the
// name was taken meanwhile (EFI_ACCESS_DENIED): it appears whole or not at all, and nothing is
// left of it if the run is killed. A file system without them (FAT through FUSE) gets a hidden
// temporary (.kestrel-XXXXXX) beside the name instead, written and synced, then linked to the name
// and removed, or, where link() is missing too (FAT), renamed over an empty file that reserves the
// name with O_CREAT|O_EXCL; for that moment the name shows an empty file, and a run killed before
// the close leaves the temporary, whose random name never blocks a later run. The folder is synced
// after either.
//
// A file opened for writing (a log) is opened with O_APPEND and holds an exclusive flock until it
// is closed, so that runs sharing a log put their lines one at a time: a write at the end lands
// at the file's real end, whoever wrote last, and one before the end (a line put over the line a
// run reserved) is made in place, which a file marked append-only refuses with EFI_ACCESS_DENIED.
// The volume's room comes from fstatvfs, as EFI_FILE_SYSTEM_INFO through the handle's GetInfo.
// A failure is said once on standard error, naming the file and the system's reason; the tool
// adds its own line.
#pragma once

#include "uefi/uefi.h"

// Points the shell's by-name and handle file functions at Linux files.
void ServeLinuxFiles(EFI_SHELL_PROTOCOL *Shell);
// Open handles, for tests.
size_t OpenLinuxFiles();
