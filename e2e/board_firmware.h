// Firmware definitions the simulated board needs beyond those of the tool: the controller device
// path node and the PI phase hand-off block that heads a HOB list. (The loaded-image and
// simple-file-system protocols, with which the driver reads its settings from the volume it was
// loaded from, are the tool's own now.)
#pragma once

#include "uefi/uefi.h"

// Hardware device path node naming one controller of a device; the eMMC partitions use it to
// tell their handles apart.
constexpr UINT8 HW_CONTROLLER_DP = 0x05;

// The phase hand-off information table: the first block of every HOB list. Its
// EfiEndOfHobList points at the list's end block.
struct EFI_HOB_HANDOFF_INFO_TABLE {
  EFI_HOB_GENERIC_HEADER Header;
  UINT32 Version;
  UINT32 BootMode;
  EFI_PHYSICAL_ADDRESS EfiMemoryTop;
  EFI_PHYSICAL_ADDRESS EfiMemoryBottom;
  EFI_PHYSICAL_ADDRESS EfiFreeMemoryTop;
  EFI_PHYSICAL_ADDRESS EfiFreeMemoryBottom;
  EFI_PHYSICAL_ADDRESS EfiEndOfHobList;
};
static_assert(sizeof(EFI_HOB_HANDOFF_INFO_TABLE) == 56, "phase hand-off table layout");
static_assert(offsetof(EFI_HOB_HANDOFF_INFO_TABLE, EfiEndOfHobList) == 48, "end-of-list offset");
constexpr UINT32 HandoffTableVersion = 0x0009;
