#include "hosted/hob_list.h"

#include <cstring>

#include "hosted/board.h"
#include "hosted/firmware.h"

HobListBuilder &HobListBuilder::AddRaw(uint16_t Type, uint16_t Length,
                                       const std::vector<uint8_t> &Body) {
  Bytes.insert(Bytes.end(), {uint8_t(Type), uint8_t(Type >> 8), uint8_t(Length),
                             uint8_t(Length >> 8), 0, 0, 0, 0});
  Bytes.insert(Bytes.end(), Body.begin(), Body.end());
  return *this;
}

HobListBuilder &HobListBuilder::Add(uint16_t Type, const std::vector<uint8_t> &Body) {
  // Blocks are multiples of 8 bytes on a real list.
  std::vector<uint8_t> Padded = Body;
  Padded.resize((Body.size() + 7) / 8 * 8, 0);
  return AddRaw(Type, static_cast<uint16_t>(8 + Padded.size()), Padded);
}

HobListBuilder &HobListBuilder::AddGuid(const EFI_GUID &Guid, const std::vector<uint8_t> &Data) {
  std::vector<uint8_t> Body(sizeof(EFI_GUID));
  memcpy(Body.data(), &Guid, sizeof(EFI_GUID));
  Body.insert(Body.end(), Data.begin(), Data.end());
  return Add(EFI_HOB_TYPE_GUID_EXTENSION, Body);
}

HobListBuilder &HobListBuilder::AddPlatformInfo(uint8_t WriteProtect) {
  uint8_t Block[board::PlatformInfoHobLength];
  board::WritePlatformInfoHob(Block, WriteProtect, 0x5A);
  Bytes.insert(Bytes.end(), Block, Block + sizeof(Block));
  return *this;
}

HobListBuilder &HobListBuilder::AddFirmwareBlocks() {
  Add(EFI_HOB_TYPE_HANDOFF, std::vector<uint8_t>(48, 0x11));
  Add(EFI_HOB_TYPE_MEMORY_ALLOCATION, std::vector<uint8_t>(40, 0x22));
  Add(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, std::vector<uint8_t>(40, 0x33));
  return AddGuid(EFI_GUID{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}},
                 std::vector<uint8_t>(96, 0xFF));
}

void HobListBuilder::InstallIn(HostedFirmware &Firmware) {
  Firmware.AddConfigurationTable(EfiHobListGuid, Data());
}
