// The HOB walk (FindPlatformInfoHob, IsGpp1WriteProtected) over arbitrary lists.
//
// Input: the list's bytes, placed 8-byte aligned and followed by 64 KiB of 0xFF, which reads as
// end-of-list blocks (see PaddedRegion).
//
// Properties: the walk stays inside memory, ends, and agrees with the rule written out here: go
// block by block from the start; an end block ends the list without a find, and a block shorter
// than its header, or no end within MaxHobBlocks blocks, makes the list unreadable; the first
// GUID-extension block long enough for its name and carrying the platform-information GUID is the
// find; the write-protect answer is its data byte 89, a block too short to hold that byte counts
// as write-protected, and an unreadable list as protection unknown, which is protected too. A
// null list finds nothing and is writable.
#include "app/gpp1.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr size_t HobHeaderSize = 8;
constexpr size_t GuidHobSize = 24;
constexpr uint16_t EndType = 0xFFFF;
constexpr uint16_t GuidType = 4;

const uint8_t *ReferenceFind(const uint8_t *List, bool *Unreadable) {
  const uint8_t *Block = List;
  *Unreadable = false;
  for (size_t Count = 0; Count < MaxHobBlocks; Count++) {
    const uint16_t Type = LoadLe<uint16_t>(Block), Length = LoadLe<uint16_t>(Block + 2);
    if (Type == EndType)
      return nullptr;
    if (Length < HobHeaderSize) {
      *Unreadable = true;
      return nullptr;
    }
    if (Type == GuidType && Length >= GuidHobSize &&
        memcmp(Block + HobHeaderSize, &PlatformInfoHobGuid, sizeof(EFI_GUID)) == 0)
      return Block;
    Block += Length;
  }
  *Unreadable = true;
  return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  PaddedRegion List(std::vector<uint8_t>(Data, Data + Size), 0xFF);
  bool Unreadable = false;
  const uint8_t *Expected = ReferenceFind(List.Data(), &Unreadable);
  const auto *Found = FindPlatformInfoHob(List.Data());
  FUZZ_CHECK(reinterpret_cast<const uint8_t *>(Found) == Expected);

  bool Protected = Unreadable;
  if (Expected != nullptr) {
    const size_t FlagAt = GuidHobSize + PlatformInfoWriteProtectOffset;
    Protected = LoadLe<uint16_t>(Expected + 2) <= FlagAt || Expected[FlagAt] != 0;
  }
  FUZZ_CHECK(IsGpp1WriteProtected(List.Data()) == Protected);
  FUZZ_CHECK(Gpp1WriteProtection(List.Data()) == (Unreadable  ? Gpp1Protection::Unknown
                                                  : Protected ? Gpp1Protection::Protected
                                                              : Gpp1Protection::Writable));
  FUZZ_CHECK(FindPlatformInfoHob(nullptr) == nullptr && !IsGpp1WriteProtected(nullptr) &&
             Gpp1WriteProtection(nullptr) == Gpp1Protection::Writable);
  return 0;
}
