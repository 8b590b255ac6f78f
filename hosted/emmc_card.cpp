#include "hosted/emmc_card.h"

namespace {
constexpr size_t DefaultPartitionBytes = 64 * 1024;
} // namespace

EmmcCardDriver::EmmcCardDriver(HostedFirmware &Firmware)
    : Firmware(Firmware), Storage(std::make_unique<board::EmmcCard>()) {
  board::InitEmmcCard(Storage.get());
}

EmmcCardDriver::~EmmcCardDriver() = default;

std::unique_ptr<HostedBlockDevice> EmmcCardDriver::MakeDevice(BlockBackend *Backend,
                                                              uint32_t BlockSize,
                                                              EFI_BLOCK_IO_PROTOCOL *Interface) {
  return std::make_unique<HostedBlockDevice>(Backend, BlockSize, Interface);
}

HostedBlockDevice *EmmcCardDriver::Publish(uint8_t Partition, BlockBackend *Backend,
                                           uint32_t BlockSize, bool WithPath) {
  if (Backend == nullptr) {
    OwnBackends[Partition] = std::make_unique<MemoryBackend>(DefaultPartitionBytes);
    Backend = OwnBackends[Partition].get();
  }
  board::EmmcPartitionRecord &Record = Storage->Partitions[Partition];
  Devices[Partition] = MakeDevice(Backend, BlockSize, &Record.BlockIo);
  EFI_HANDLE Handle = Firmware.Handles.CreateHandle();
  Firmware.Handles.Install(Handle, EfiBlockIoProtocolGuid, Devices[Partition]->Interface);
  if (WithPath)
    Firmware.Handles.Install(Handle, EfiDevicePathProtocolGuid, Record.DevicePath);
  Handles[Partition] = Handle;
  return Devices[Partition].get();
}

HostedBlockDevice *EmmcCardDriver::PublishAll(BlockBackend *Gpp1, uint32_t BlockSize) {
  for (uint8_t P = 0; P < board::EmmcPartitionCount; P++)
    Publish(P, P == board::Gpp1Partition ? Gpp1 : nullptr,
            P == board::Gpp1Partition ? BlockSize : 512);
  return Devices[board::Gpp1Partition].get();
}

PlainDisk::PlainDisk(HostedFirmware &Firmware, DevicePathBuilder PathIn)
    : Backend(4096), Device(&Backend, 512), Path(std::move(PathIn)) {
  EFI_HANDLE Handle = Firmware.Handles.CreateHandle();
  Firmware.Handles.Install(Handle, EfiBlockIoProtocolGuid, Device.Interface);
  Firmware.Handles.Install(Handle, EfiDevicePathProtocolGuid, Path.Data());
}
