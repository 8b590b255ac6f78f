// The shell the application was started from: UEFI Shell 2.0 or the older EFI 1.1 shell, and the
// interfaces borrowed from it for the run.
#pragma once

#include "uefi/uefi.h"

struct ShellConnectionRecord {
  EFI_SHELL_PROTOCOL *ShellProtocol;
  EFI_SHELL_PARAMETERS_PROTOCOL *ShellParameters;
  EFI_SHELL_ENVIRONMENT2 *ShellEnvironment; // accepted only in its environment-2 form
  EFI_HANDLE ShellEnvironmentHandle;        // null when found on the image handle
  EFI_SHELL_INTERFACE *ShellInterface;
  EFI_HANDLE ImageHandle; // the running image, whose own volume serves files without Shell 2.0
};
extern ShellConnectionRecord ShellConnection;

EFI_STATUS ConnectShell(EFI_HANDLE ImageHandle, EFI_STATUS *EnvironmentStatus);
EFI_STATUS FindShellEnvironment(EFI_HANDLE ImageHandle);
EFI_STATUS DisconnectShell(EFI_HANDLE ImageHandle);
