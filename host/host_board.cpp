#include "host/host_board.h"

#include <cstdio>
#include <cstdlib>

#include "host/host_files.h"
#include "host/host_text.h"
#include "main/kestrel.h"
#include "shell/shell_connection.h"

namespace {

// Partitions of a card without general purpose partitions: user area, two boot areas, RPMB.
constexpr uint8_t PartitionsBeforeGpp = 4;
// Where the harness's firmware finds its two disks.
constexpr uint8_t BootVolumePciDevice = 3;
constexpr uint8_t Gpp1DiskPciDevice = 5;
constexpr const char *ProgramName = "kestrel";

// The board whose tool is running: the console's firmware entry has no other way to find it.
HostBoard *RunningBoard = nullptr;
EFI_TEXT_STRING FirmwareOutputString = nullptr;

EFI_STATUS EFIAPI TeeOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String) {
  EFI_STATUS Status = FirmwareOutputString(This, String);
  if (String != nullptr && RunningBoard != nullptr && RunningBoard->ConsoleSink)
    RunningBoard->ConsoleSink(String);
  return Status;
}

// While it lives, Board's console is passed on to its ConsoleSink as well.
class ConsoleTee {
public:
  explicit ConsoleTee(HostBoard &Board) : Console(Board.Sim.ConOut) {
    FirmwareOutputString = Console.OutputString;
    Console.OutputString = TeeOutputString;
    RunningBoard = &Board;
  }
  ~ConsoleTee() {
    RunningBoard = nullptr;
    Console.OutputString = FirmwareOutputString;
  }

private:
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL &Console;
};

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

uint64_t HostBoard::Run(const std::vector<std::u16string> &ToolArgs) {
  std::vector<std::u16string> Argv{WideText(ProgramName)};
  Argv.insert(Argv.end(), ToolArgs.begin(), ToolArgs.end());
  if (Shell != nullptr) {
    Warn("a simulated board starts its image once");
    abort();
  }
  Shell = std::make_unique<SimShell20>(Sim, Sim.ImageHandle, SimShell20::Ucs2{Argv});
  ServeLinuxFiles(&Shell->Protocol);
  ConsoleTee Tee(*this);
  return AppEntry(Sim.ImageHandle, &Sim.SystemTable);
}

void HostBoard::Attend(const std::function<void()> &Work) {
  Sim.InstallInPlatformContext();
  ConsoleTee Tee(*this);
  EFI_STATUS EnvironmentStatus = EFI_SUCCESS;
  ConnectShell(Sim.ImageHandle, &EnvironmentStatus);
  Work();
  DisconnectShell(Sim.ImageHandle);
}

namespace {

bool SteersTerminal(char16_t C) {
  return (C < 0x20 && C != u'\t' && C != u'\n') || (C >= 0x7F && C <= 0x9F) ||
         (C >= 0xD800 && C <= 0xDFFF);
}

} // namespace

std::string ConsoleConverter::Feed(const std::u16string &Text) {
  std::string Out;
  Out.reserve(Text.size() + 1);
  for (char16_t C : Text) {
    if (PendingReturn && C != u'\n')
      Out.push_back('?');
    PendingReturn = C == u'\r';
    if (!PendingReturn)
      AppendUtf8(SteersTerminal(C) ? u'?' : C, &Out);
  }
  return Out;
}

std::string ConsoleConverter::Finish() {
  bool Held = PendingReturn;
  PendingReturn = false;
  return Held ? "?" : "";
}

std::string ConsoleToUnix(const std::vector<std::u16string> &Calls) {
  ConsoleConverter Converter;
  std::string Out;
  for (const auto &Call : Calls)
    Out += Converter.Feed(Call);
  return Out + Converter.Finish();
}
