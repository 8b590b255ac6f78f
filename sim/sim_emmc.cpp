#include "sim/sim_emmc.h"

namespace {
constexpr size_t DefaultPartitionBytes = 64 * 1024;
} // namespace

SimEmmcCard::SimEmmcCard(SimFirmware &Sim, uint8_t PciDevice)
    : Sim(Sim), Storage(std::make_unique<board::EmmcCard>()) {
  board::InitEmmcCard(Storage.get(), PciDevice);
}

SimBlockDevice *SimEmmcCard::Publish(uint8_t Partition, SimBlockBackend *Backend,
                                     uint32_t BlockSize, bool WithPath) {
  if (Partition >= SimEmmcPartitionCount)
    return nullptr;
  if (Backend == nullptr) {
    OwnBackends[Partition] = std::make_unique<SimMemoryBackend>(DefaultPartitionBytes);
    Backend = OwnBackends[Partition].get();
  }
  SimEmmcPartitionRecord &Record = Storage->Partitions[Partition];
  Devices[Partition] = std::make_unique<SimBlockDevice>(Backend, BlockSize, &Record.BlockIo);
  EFI_HANDLE Handle = Sim.Handles.CreateHandle();
  Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Devices[Partition]->Interface);
  if (WithPath)
    Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Record.DevicePath);
  Handles[Partition] = Handle;
  return Devices[Partition].get();
}

SimBlockDevice *SimEmmcCard::PublishAll(SimBlockBackend *Gpp1, uint32_t BlockSize) {
  for (uint8_t P = 0; P < SimEmmcPartitionCount; P++)
    Publish(P, P == SimEmmcGpp1 ? Gpp1 : nullptr, P == SimEmmcGpp1 ? BlockSize : 512);
  return Devices[SimEmmcGpp1].get();
}

SimPlainDisk::SimPlainDisk(SimFirmware &Sim, SimDevicePath PathIn, size_t Bytes, uint32_t BlockSize)
    : Backend(Bytes), Device(&Backend, BlockSize), Path(std::move(PathIn)) {
  Handle = Sim.Handles.CreateHandle();
  Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Device.Interface);
  Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Path.Data());
}
