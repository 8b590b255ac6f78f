#include "host/host_board.h"

#include <cstdio>
#include <cstdlib>

#if __has_include("shell/entry.h")
#include "shell/entry.h"
#else
#include "app/command_line.h"
#include "shell/platform_context.h"
#endif

namespace {

// Partitions of a card without general purpose partitions: user area, two boot areas, RPMB.
constexpr uint8_t PartitionsBeforeGpp = 4;
constexpr const char *ProgramName = "kestrel";

EFI_STATUS StartImage(SimFirmware &Sim, EFI_HANDLE Image) {
#if __has_include("shell/entry.h")
  return AppEntry(Image, &Sim.SystemTable);
#else
  // Until the image's own entry exists: its start-up reduced to what the tool needs.
  Sim.InstallInPlatformContext();
  auto *Parameters = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(
      Sim.Handles.Find(Image, EfiShellParametersProtocolGuid));
  return ToolMain(Parameters->Argc, Parameters->Argv);
#endif
}

} // namespace

HostBoard::HostBoard(SimBlockBackend *Gpp1, uint32_t BlockSize, bool WriteProtected) : Card(Sim) {
  if (Gpp1 != nullptr) {
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
  return StartImage(Sim, Sim.ImageHandle);
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
