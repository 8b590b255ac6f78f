// The image's entry symbol: the firmware enters here with the image handle and system table. Only
// the image has it; the host links AppEntry directly.
#include "main/kestrel.h"

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return AppEntry(ImageHandle, SystemTable);
}
