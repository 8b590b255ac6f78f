#include "tests/support/board_fixture.h"

#include <algorithm>

#include "app/tool_main.h"
#include "main/kestrel.h"
#include "shell/platform_context.h"
#include "shell/shell_connection.h"

ArgVector::ArgVector(const std::vector<std::u16string> &Args)
    : ShellArguments([&] {
        std::vector<std::u16string> All = {u"Kestrel.efi"};
        All.insert(All.end(), Args.begin(), Args.end());
        return All;
      }()) {}

Board::Board(uint32_t BlockSizeIn, WriteProtect Protect, size_t Blocks)
    : Gpp1Medium(BlockSizeIn * Blocks), Card(Sim), BlockSize(BlockSizeIn) {
  Gpp1Device = Card.PublishAll(&Gpp1Medium, BlockSize);
  Hobs.AddFirmwareBlocks();
  if (Protect != WriteProtect::NoPlatformHob)
    Hobs.AddPlatformInfo(Protect == WriteProtect::On ? 1 : 0);
  Hobs.End();
  Hobs.InstallIn(Sim);
  Sim.InstallInPlatformContext();
}

BoardRun Board::Run(const std::vector<std::u16string> &Args) {
  Sim.ClearConsole();
  ArgVector Vector(Args);
  ToolRequest Request;
  ParseToolRequest(Vector.Argc(), Vector.Argv(), &Request);
  return {ToolMain(Request).Status, Unix(Sim.ConsoleText())};
}

void Board::InstallShell(ShellKind Kind, EnvironmentPlacement Placement) {
  const std::vector<std::string> None;
  if (Kind == ShellKind::Uefi20)
    Shell20 = std::make_unique<HostedShell20>(Sim, Sim.ImageHandle, None);
  else
    Shell11 = std::make_unique<SimShell11>(Sim, Sim.ImageHandle, None, Placement);
}

BoardRun Board::Start(ArgVector &Vector) {
  if (Shell20) {
    Shell20->Parameters.Argv = Vector.Argv();
    Shell20->Parameters.Argc = Vector.Argc();
  }
  if (Shell11) {
    Shell11->Interface.Argv = Vector.Argv();
    Shell11->Interface.Argc = Vector.Argc();
  }
  Sim.ClearConsole();
  return {AppEntry(Sim.ImageHandle, &Sim.SystemTable), Unix(Sim.ConsoleText())};
}

std::vector<uint8_t> Board::Block0() const {
  return std::vector<uint8_t>(Gpp1Medium.Bytes.begin(), Gpp1Medium.Bytes.begin() + BlockSize);
}

void Board::SetBlock0(const std::vector<uint8_t> &Bytes) {
  std::copy(Bytes.begin(), Bytes.end(), Gpp1Medium.Bytes.begin());
}

std::string Unix(const std::string &Text) {
  std::string Out;
  for (size_t I = 0; I < Text.size(); I++)
    if (Text[I] != '\r' || I + 1 == Text.size() || Text[I + 1] != '\n')
      Out.push_back(Text[I]);
  return Out;
}

bool HasMessage(const std::vector<std::u16string> &Messages, const std::string &Text, bool Start) {
  return std::any_of(Messages.begin(), Messages.end(), [&](const std::u16string &Message) {
    const std::string Narrow = NarrowText(Message);
    return Start ? Narrow.rfind(Text, 0) == 0 : Narrow == Text;
  });
}

std::string Leftovers(const SimFirmware &Sim) {
  const auto &C = ShellConnection;
  if (Sim.LiveAllocations() != 0)
    return "pool buffers left allocated";
  if (!Sim.Handles.Opens.empty())
    return "protocols left open";
  if (C.ShellProtocol || C.ShellParameters || C.ShellEnvironment || C.ShellInterface ||
      C.ShellEnvironmentHandle)
    return "shell connection left";
  return "";
}
