// The process-wide record of the firmware tables the application was handed at start.
#pragma once

#include "uefi/uefi.h"

struct PlatformContextRecord {
  EFI_SYSTEM_TABLE *SystemTable;   // console output goes through its ConOut
  EFI_BOOT_SERVICES *BootServices; // every boot-service call of the application
  VOID *HobList;                   // first hand-off block, or null when none was published
};

// Filled by the start-up before the tool runs; the host tests fill it from the simulated
// firmware.
extern PlatformContextRecord PlatformContext;

// Bound on the configuration table walk; firmware publishes a few dozen entries at most.
constexpr UINTN MaxConfigurationTableEntries = 0x10000;

// Fills PlatformContext from the system table, the HOB list from its configuration table.
VOID SetUpPlatformContext(EFI_SYSTEM_TABLE *SystemTable);
