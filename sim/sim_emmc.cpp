#include "sim/sim_emmc.h"

#include <cstring>

namespace {
constexpr uint64_t PartitionRecordSignature = 0x5452415043434D45ULL; // "EMCCPART"
constexpr size_t DefaultPartitionBytes = 64 * 1024;
} // namespace

SimEmmcCard::SimEmmcCard(SimFirmware &Sim, uint8_t PciDevice, uint8_t PciFunction)
    : Sim(Sim), PciDevice(PciDevice), PciFunction(PciFunction),
      Storage(std::make_unique<CardStorage>()) {
  memset(Storage.get(), 0, sizeof(CardStorage));
  for (unsigned I = 0; I < SimEmmcPartitionCount; I++) {
    Storage->Records[I].Signature = PartitionRecordSignature;
    Storage->Records[I].CardArray = Storage->Records;
    Storage->Records[I].PartitionIndex = I;
  }
  Storage->Tail.CardArray = Storage->Records;
}

SimEmmcCard::~SimEmmcCard() = default;

SimBlockDevice *SimEmmcCard::Publish(uint8_t Partition, SimBlockBackend *Backend,
                                     uint32_t BlockSize, bool WithPath) {
  if (Partition >= SimEmmcPartitionCount)
    return nullptr;
  if (Backend == nullptr) {
    OwnBackends[Partition] = std::make_unique<SimMemoryBackend>(DefaultPartitionBytes);
    Backend = OwnBackends[Partition].get();
  }
  Devices[Partition] =
      std::make_unique<SimBlockDevice>(Backend, BlockSize, &Storage->Records[Partition].BlockIo);
  EFI_HANDLE Handle = Sim.Handles.CreateHandle();
  Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Devices[Partition]->Interface);
  if (WithPath) {
    auto Path = std::make_unique<SimDevicePath>();
    Path->Acpi().Pci(PciDevice, PciFunction).Emmc(0).Controller(Partition).End();
    Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Path->Data());
    Paths.push_back(std::move(Path));
  }
  Handles[Partition] = Handle;
  return Devices[Partition].get();
}

SimBlockDevice *SimEmmcCard::PublishAll(SimBlockBackend *Gpp1, uint32_t BlockSize) {
  for (uint8_t P = 0; P < SimEmmcPartitionCount; P++)
    Publish(P, P == SimEmmcGpp1 ? Gpp1 : nullptr, P == SimEmmcGpp1 ? BlockSize : 512);
  return Devices[SimEmmcGpp1].get();
}

SimPlainDisk::SimPlainDisk(SimFirmware &Sim, SimDevicePath PathIn, size_t Bytes,
                           uint32_t BlockSize)
    : Backend(Bytes), Device(&Backend, BlockSize), Path(std::move(PathIn)) {
  Handle = Sim.Handles.CreateHandle();
  Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Device.Interface);
  Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Path.Data());
}
