// Kestrel.efi assembled: the start-up, the run of the tool and the tear-down, in one place. The
// layers below (uefi/, platform/, shell/, diag/, app/) never call up into it.
#pragma once

#include "uefi/uefi.h"

// The image's exit status: ToolMain's status widened to 64 bits, or all ones when the image was
// started without a shell argument source.
EFI_STATUS AppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
// The start-up: the debug UART, the platform context, the shell connection. The shell
// connection's status.
EFI_STATUS SetUpEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
// The tool with the arguments of what started the image: a shell's, or a boot entry's or arguments
// file's when the boot manager did.
UINT64 RunFromArgumentSource(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

constexpr UINT64 NoArgumentSourceStatus = ~0ULL;
