// Hand-off block headers of the PI specification.
#pragma once

#include "uefi/uefi_base.h"

struct EFI_HOB_GENERIC_HEADER {
  UINT16 HobType;
  UINT16 HobLength; // whole block, header included
  UINT32 Reserved;
};
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "HOB header layout");
static_assert(offsetof(EFI_HOB_GENERIC_HEADER, HobLength) == 2, "HobLength offset");

struct EFI_HOB_GUID_TYPE {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name; // data follows the name
};
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24, "GUID extension HOB layout");
static_assert(offsetof(EFI_HOB_GUID_TYPE, Name) == 8, "GUID extension name offset");

constexpr UINT16 EFI_HOB_TYPE_HANDOFF = 0x0001;
constexpr UINT16 EFI_HOB_TYPE_MEMORY_ALLOCATION = 0x0002;
constexpr UINT16 EFI_HOB_TYPE_RESOURCE_DESCRIPTOR = 0x0003;
constexpr UINT16 EFI_HOB_TYPE_GUID_EXTENSION = 0x0004;
constexpr UINT16 EFI_HOB_TYPE_END_OF_HOB_LIST = 0xFFFF;
