// GPP1's write protection as the platform firmware reports it, in a GUID-extension HOB.
#pragma once

#include "app/tool_status.h"

// The platform firmware's description of the board, published as a GUID-extension HOB; byte 89
// of its data is the GPP1 write-protect flag.
constexpr EFI_GUID PlatformInfoHobGuid = {
    0x1E2ACC41, 0xE26A, 0x483D, {0xAF, 0xC7, 0xA0, 0x56, 0xC3, 0x4E, 0x08, 0x7B}};
constexpr UINTN PlatformInfoWriteProtectOffset = 89;

// Bound on a walk over the HOB list, far beyond anything a real platform publishes.
constexpr UINTN MaxHobBlocks = 0x10000;

// The HOB walk's outcome. Unreadable: a block shorter than its header, or no end block within
// MaxHobBlocks; nothing past such a point can be trusted.
enum class HobSearch { Found, NotFound, Unreadable };
HobSearch SearchPlatformInfoHob(const VOID *HobList, const EFI_HOB_GUID_TYPE **Found);
const EFI_HOB_GUID_TYPE *FindPlatformInfoHob(const VOID *HobList);

// GPP1's write protection as the platform reports it. A list that cannot be walked soundly up to
// the platform block or its end leaves it Unknown, which no write may take for Writable. No list
// at all, or a list walked to its end without the block, means Writable.
enum class Gpp1Protection { Writable, Protected, Unknown };
Gpp1Protection Gpp1WriteProtection(const VOID *HobList);
// True unless the platform positively reports GPP1 writable.
bool IsGpp1WriteProtected(const VOID *HobList);
// The write and clear operations' check: status 8 with one "ERROR: " line unless GPP1 is
// reported writable.
ToolStatus RefuseIfWriteProtected();
