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
