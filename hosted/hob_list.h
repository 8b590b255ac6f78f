// Builds a hand-off block list as the platform firmware publishes it, and installs it in the
// configuration table.
#pragma once

#include <cstdint>
#include <vector>

#include "uefi/uefi.h"

class HostedFirmware;

class HobListBuilder {
public:
  // A block with the given type and body; HobLength covers the 8-byte header and the body.
  HobListBuilder &Add(uint16_t Type, const std::vector<uint8_t> &Body);
  // A block whose HobLength field says Length whatever the bytes that follow (malformed lists).
  HobListBuilder &AddRaw(uint16_t Type, uint16_t Length, const std::vector<uint8_t> &Body);
  HobListBuilder &AddGuid(const EFI_GUID &Guid, const std::vector<uint8_t> &Data);
  // The platform-information block with the GPP1 write-protect flag at data byte 89.
  HobListBuilder &AddPlatformInfo(uint8_t WriteProtect);
  // The blocks a firmware puts first: hand-off information, memory and resource descriptors.
  HobListBuilder &AddFirmwareBlocks();
  HobListBuilder &End() { return Add(EFI_HOB_TYPE_END_OF_HOB_LIST, {}); }

  void *Data() { return Bytes.data(); }
  void InstallIn(HostedFirmware &Firmware);

  std::vector<uint8_t> Bytes;
};
