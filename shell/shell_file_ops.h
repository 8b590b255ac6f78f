// Ten file operations that work the same under either shell: the shell protocol's own under UEFI
// Shell 2.0, otherwise built on the file handle's EFI_FILE_PROTOCOL. The table is filled at every
// start; the tool's backups, restores and run log (shell_files.h) work their files through it.
#pragma once

#include "uefi/uefi.h"

struct ShellFileOpsTable {
  EFI_SHELL_GET_FILE_INFO GetFileInfo;
  EFI_SHELL_SET_FILE_INFO SetFileInfo;
  EFI_SHELL_READ_FILE ReadFile;
  EFI_SHELL_WRITE_FILE WriteFile;
  EFI_SHELL_CLOSE_FILE CloseFile;
  EFI_SHELL_DELETE_FILE DeleteFile;
  EFI_SHELL_GET_FILE_POSITION GetFilePosition;
  EFI_SHELL_SET_FILE_POSITION SetFilePosition;
  EFI_SHELL_FLUSH_FILE FlushFile;
  EFI_SHELL_GET_FILE_SIZE GetFileSize;
};
static_assert(sizeof(ShellFileOpsTable) == 10 * sizeof(VOID *), "ten file operation slots");
extern ShellFileOpsTable ShellFileOps;

// Borrows the shell's interfaces for the run: UEFI Shell 2.0's protocol and parameters, or else the
// EFI 1.1 environment and interface. EnvironmentStatus tells why no usable EFI 1.1 environment was
// found, when one was looked for (EFI_SUCCESS otherwise).
// Fills ShellFileOps from Shell, or with the fallbacks when Shell is null.
VOID FillShellFileOps(const EFI_SHELL_PROTOCOL *Shell);

// The fallbacks over EFI_FILE_PROTOCOL, exposed for their tests.
namespace FileFallback {
EFI_FILE_INFO *EFIAPI GetFileInfo(SHELL_FILE_HANDLE File);
EFI_STATUS EFIAPI SetFileInfo(SHELL_FILE_HANDLE File, const EFI_FILE_INFO *Info);
EFI_STATUS EFIAPI ReadFile(SHELL_FILE_HANDLE File, UINTN *Size, VOID *Buffer);
EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE File, UINTN *Size, VOID *Buffer);
EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE File);
EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE File);
EFI_STATUS EFIAPI GetFilePosition(SHELL_FILE_HANDLE File, UINT64 *Position);
EFI_STATUS EFIAPI SetFilePosition(SHELL_FILE_HANDLE File, UINT64 Position);
EFI_STATUS EFIAPI FlushFile(SHELL_FILE_HANDLE File);
EFI_STATUS EFIAPI GetFileSize(SHELL_FILE_HANDLE File, UINT64 *Size);
} // namespace FileFallback
