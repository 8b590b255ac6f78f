// The application's entry: start-up, the run of the tool, and the tear-down.
#pragma once

#include "uefi/uefi.h"

// The image's exit status: ToolMain's status widened to 64 bits, or all ones when the image was
// started without a shell argument source.
EFI_STATUS AppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS SetUpEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
UINT64 RunToolMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

constexpr UINT64 NoArgumentSourceStatus = ~0ULL;
// Bound on the configuration table walk; firmware publishes a few dozen entries at most.
constexpr UINTN MaxConfigurationTableEntries = 0x10000;
