// The image's entry symbol: the firmware enters here with the image handle and system table. Only
// the image has it; the host links AppEntry directly.
#include "app/version.h"
#include "main/kestrel.h"

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return AppEntry(ImageHandle, SystemTable);
}

// The image's .sbat section: the revocation data of Secure Boot Advanced Targeting, in its CSV
// form (component, generation, vendor, package, version, address), which shim and firmware that
// apply SBAT revocations read before they start the image. The first line names the format, the
// second the tool; a generation is raised only when an older build's flaw must be revoked.
// Read-only data of its own section, so the image keeps no section both writable and
// executable; no terminating NUL, as the format has none.
asm(".section .sbat,\"dr\"\n"
    ".ascii \"sbat,1,SBAT Version,sbat,1,SBAT.md\\n\"\n"
    ".ascii \"kestrel,1,Kestrel,kestrel," KESTREL_VERSION_TEXT ",README.md\\n\"\n"
    ".text\n");
