#include "shell/platform_context.h"

PlatformContextRecord PlatformContext = {nullptr, nullptr, nullptr};

VOID SetUpPlatformContext(EFI_SYSTEM_TABLE *SystemTable) {
  PlatformContext.HobList = nullptr;
  PlatformContext.SystemTable = SystemTable;
  PlatformContext.BootServices = SystemTable->BootServices;
  EFI_CONFIGURATION_TABLE *Table = SystemTable->ConfigurationTable;
  UINTN Entries = Table == nullptr ? 0 : SystemTable->NumberOfTableEntries;
  for (UINTN I = 0; I < Entries && I < MaxConfigurationTableEntries; I++) {
    if (GuidsEqual(&Table[I].VendorGuid, &EfiHobListGuid)) {
      PlatformContext.HobList = Table[I].VendorTable;
      break;
    }
  }
}
