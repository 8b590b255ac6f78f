// The image's entry symbol: the firmware enters here with the image handle and system table.
#include "shell/entry.h"

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return AppEntry(ImageHandle, SystemTable);
}
