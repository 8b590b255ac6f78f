#include "sim/sim_emmc.h"

namespace {
constexpr size_t DefaultPartitionBytes = 64 * 1024;
} // namespace

SimEmmcCard::SimEmmcCard(SimFirmware &Sim)
    : Sim(Sim), Storage(std::make_unique<board::EmmcCard>()) {
  board::InitEmmcCard(Storage.get());
}

SimBlockDevice *SimEmmcCard::Publish(uint8_t Partition, SimBlockBackend *Backend,
                                     uint32_t BlockSize, bool WithPath) {
  if (Backend == nullptr) {
    OwnBackends[Partition] = std::make_unique<SimMemoryBackend>(DefaultPartitionBytes);
    Backend = OwnBackends[Partition].get();
  }
  board::EmmcPartitionRecord &Record = Storage->Partitions[Partition];
  Devices[Partition] = std::make_unique<SimBlockDevice>(Backend, BlockSize, &Record.BlockIo);
  EFI_HANDLE Handle = Sim.Handles.CreateHandle();
  Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Devices[Partition]->Interface);
  if (WithPath)
    Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Record.DevicePath);
  Handles[Partition] = Handle;
  return Devices[Partition].get();
}

SimBlockDevice *SimEmmcCard::PublishAll(SimBlockBackend *Gpp1, uint32_t BlockSize) {
  for (uint8_t P = 0; P < board::EmmcPartitionCount; P++)
    Publish(P, P == board::Gpp1Partition ? Gpp1 : nullptr,
            P == board::Gpp1Partition ? BlockSize : 512);
  return Devices[board::Gpp1Partition].get();
}

SimPlainDisk::SimPlainDisk(SimFirmware &Sim, SimDevicePath PathIn)
    : Backend(4096), Device(&Backend, 512), Path(std::move(PathIn)) {
  EFI_HANDLE Handle = Sim.Handles.CreateHandle();
  Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Device.Interface);
  Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Path.Data());
}
