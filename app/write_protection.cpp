#include "app/write_protection.h"

#include "shell/console.h"
#include "shell/memory.h"
#include "shell/platform_context.h"

HobSearch SearchPlatformInfoHob(const VOID *HobList, const EFI_HOB_GUID_TYPE **Found) {
  *Found = nullptr;
  const UINT8 *Block = static_cast<const UINT8 *>(HobList);
  if (Block == nullptr)
    return HobSearch::NotFound;
  for (UINTN Count = 0; Count < MaxHobBlocks; Count++) {
    // Headers are copied out byte by byte: a block length that is not a multiple of 8, as a
    // damaged list can have, leaves the next header misaligned.
    EFI_HOB_GENERIC_HEADER Header;
    CopyBytes(&Header, Block, sizeof(Header));
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST)
      return HobSearch::NotFound;
    // A block shorter than its header would stall the walk, and where the next block starts is
    // then unknown: the list cannot be read past it.
    if (Header.HobLength < sizeof(EFI_HOB_GENERIC_HEADER))
      return HobSearch::Unreadable;
    if (Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        Header.HobLength >= sizeof(EFI_HOB_GUID_TYPE) &&
        GuidsEqual(reinterpret_cast<const EFI_GUID *>(Block + offsetof(EFI_HOB_GUID_TYPE, Name)),
                   &PlatformInfoHobGuid)) {
      *Found = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Block);
      return HobSearch::Found;
    }
    Block += Header.HobLength;
  }
  // No end block within far more blocks than any firmware publishes: not a list.
  return HobSearch::Unreadable;
}

const EFI_HOB_GUID_TYPE *FindPlatformInfoHob(const VOID *HobList) {
  const EFI_HOB_GUID_TYPE *Found = nullptr;
  SearchPlatformInfoHob(HobList, &Found);
  return Found;
}

Gpp1Protection Gpp1WriteProtection(const VOID *HobList) {
  const EFI_HOB_GUID_TYPE *Hob = nullptr;
  switch (SearchPlatformInfoHob(HobList, &Hob)) {
  case HobSearch::NotFound:
    return Gpp1Protection::Writable;
  case HobSearch::Unreadable:
    return Gpp1Protection::Unknown;
  case HobSearch::Found:
    break;
  }
  EFI_HOB_GENERIC_HEADER Header;
  CopyBytes(&Header, Hob, sizeof(Header));
  constexpr UINTN FlagOffset = sizeof(EFI_HOB_GUID_TYPE) + PlatformInfoWriteProtectOffset;
  // A platform block too short to carry the flag cannot vouch for a writable partition.
  if (Header.HobLength <= FlagOffset)
    return Gpp1Protection::Protected;
  return reinterpret_cast<const UINT8 *>(Hob)[FlagOffset] != 0 ? Gpp1Protection::Protected
                                                               : Gpp1Protection::Writable;
}

bool IsGpp1WriteProtected(const VOID *HobList) {
  return Gpp1WriteProtection(HobList) != Gpp1Protection::Writable;
}

ToolStatus RefuseIfWriteProtected() {
  switch (Gpp1WriteProtection(PlatformContext.HobList)) {
  case Gpp1Protection::Writable:
    return ToolSuccess;
  case Gpp1Protection::Protected:
    PrintConsole(u"ERROR: eMMC GPP1 is still write protected!\n");
    break;
  case Gpp1Protection::Unknown:
    PrintConsole(u"ERROR: GPP1 write protection is unknown: the firmware's HOB list is damaged!\n");
    break;
  }
  return ToolWriteProtected;
}
