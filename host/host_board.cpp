#include "host/host_board.h"

#include <cstdio>
#include <cstdlib>

#include "shell/entry.h"

namespace {

// Partitions of a card without general purpose partitions: user area, two boot areas, RPMB.
constexpr uint8_t PartitionsBeforeGpp = 4;
// Where the harness's firmware finds its two disks.
constexpr uint8_t BootVolumePciDevice = 3;
constexpr uint8_t Gpp1DiskPciDevice = 5;
constexpr const char *ProgramName = "kestrel";

} // namespace

HostBoard::HostBoard(SimBlockBackend *Gpp1, uint32_t BlockSize, bool WriteProtected) : Card(Sim) {
  BootVolume =
      std::make_unique<SimPlainDisk>(Sim, SimDevicePath().Acpi().Pci(BootVolumePciDevice).End());
  if (Gpp1 != nullptr) {
    // The same medium as GPP1: the tool never picks this handle, being on another PCI device.
    Gpp1DiskPath.Acpi().Pci(Gpp1DiskPciDevice).End();
    Gpp1Disk = std::make_unique<SimBlockDevice>(Gpp1, BlockSize);
    EFI_HANDLE Disk = Sim.Handles.CreateHandle();
    Sim.Handles.Install(Disk, EfiBlockIoProtocolGuid, Gpp1Disk->Interface);
    Sim.Handles.Install(Disk, EfiDevicePathProtocolGuid, Gpp1DiskPath.Data());
    Card.PublishAll(Gpp1, BlockSize);
  } else {
    for (uint8_t P = 0; P < PartitionsBeforeGpp; P++)
      Card.Publish(P);
  }
  // The platform block is always there, as the board's firmware always publishes it; only its
  // flag varies.
  Hobs.AddFirmwareBlocks().AddPlatformInfo(WriteProtected ? 1 : 0).End();
  Hobs.InstallIn(Sim);
}

uint64_t HostBoard::Run(const std::vector<std::string> &ToolArgs) {
  std::vector<std::string> Argv{ProgramName};
  Argv.insert(Argv.end(), ToolArgs.begin(), ToolArgs.end());
  if (Shell != nullptr) {
    fprintf(stderr, "kestrel: a simulated board starts its image once\n");
    abort();
  }
  Shell = std::make_unique<SimShell20>(Sim, Sim.ImageHandle, Argv);
  return AppEntry(Sim.ImageHandle, &Sim.SystemTable);
}

std::string ConsoleToUnix(const std::vector<std::u16string> &Calls) {
  std::string Joined;
  for (const auto &Call : Calls)
    Joined += NarrowText(Call);
  std::string Out;
  Out.reserve(Joined.size());
  for (size_t I = 0; I < Joined.size(); I++) {
    if (Joined[I] == '\r' && I + 1 < Joined.size() && Joined[I + 1] == '\n')
      continue;
    Out.push_back(Joined[I]);
  }
  return Out;
}
