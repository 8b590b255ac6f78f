// The shell's file functions on Linux: the tool's --backup, --restore and --log reach real files
// through the hosted UEFI Shell 2.0, so the same product code runs as under the firmware.
//
// A file the tool creates as new (the shell's CreateFile: backups, and the one-byte probe of a
// volume's room) never goes over another file. Where the file system has unnamed files it is made
// without a name (O_TMPFILE), synced, and linked in place when it is closed, which fails when the
// name was taken meanwhile (EFI_ACCESS_DENIED): it appears whole or not at all, and nothing is
// left of it if the run is killed. A file system without them (FAT through FUSE) gets a hidden
// temporary beside the name instead (.kestrel- and a hash of the name), written and synced, then
// linked to the name and removed, or, where link() is missing too (FAT), renamed over an empty
// file that reserves the name with O_CREAT|O_EXCL. A run killed before the rename leaves the
// temporary, which the next run for the same name removes; one killed between the reservation
// and the rename (one system call) leaves the empty file as well, which that next run passes over
// as a taken name. The folder is synced after either.
//
// A run opens each of its files by name once: a log at its first open for writing, a new file
// when it gets its name; every later open of that name in the run reopens that held descriptor
// (through /proc/self/fd), never the name again, until EndLinuxFileRun. Only a regular file is
// opened, and a symlink as the last part of a name is followed only when the run's own user made it
// (another user's link: EFI_SECURITY_VIOLATION; a FIFO, a folder, a device or a link to nowhere:
// EFI_ACCESS_DENIED, unopened). A name is removed only while it still holds the run's file.
//
// A file opened for writing (a log) is opened with O_APPEND and holds an exclusive flock until it
// is let go of with the run's files, so that runs sharing a log put their lines one run at a time:
// a write at the end lands at the file's real end, whoever wrote last, and one before the end (a
// line put over the line a run reserved) is made in place, which a file marked append-only refuses
// with EFI_ACCESS_DENIED. The volume's room comes from fstatvfs, as EFI_FILE_SYSTEM_INFO through
// the handle's GetInfo. A failure is said once on standard error, naming the file and the system's
// reason; the tool adds its own line.
#pragma once

#include "uefi/uefi.h"

// Points the shell's by-name and handle file functions at Linux files.
void ServeLinuxFiles(EFI_SHELL_PROTOCOL *Shell);
// Open handles, for tests.
size_t OpenLinuxFiles();
// The run is over: the files it opened once (and the log's lock) are let go of.
void EndLinuxFileRun();
