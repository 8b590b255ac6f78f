// A simulated board for the tool's tests: firmware, an eMMC card on PCI device 28 with GPP1 in
// memory, a HOB list with the platform-information block, and the shell that starts the image.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_emmc.h"
#include "sim/sim_firmware.h"
#include "hosted/hob_list.h"
#include "sim/sim_shell.h"

struct BoardRun {
  uint64_t Status;
  std::string Output; // console text, narrowed, in Unix form (see Unix)
};

// The shell's argument vector for the tool: "Kestrel.efi" followed by Args, as UCS-2 strings the
// tool may lower in place.
class ArgVector : public ShellArguments {
public:
  explicit ArgVector(const std::vector<std::u16string> &Args);
  explicit ArgVector(const std::vector<std::string> &Args) : ArgVector(WideTexts(Args)) {}
};

enum class WriteProtect { NoPlatformHob, Off, On };
enum class ShellKind { Uefi20, Efi11 };

class Board {
public:
  explicit Board(uint32_t BlockSize = 512, WriteProtect Protect = WriteProtect::Off,
                 size_t Blocks = 4);

  // Runs ToolMain with Kestrel.efi followed by Args; the console is cleared first.
  BoardRun Run(const std::vector<std::string> &Args) { return Run(WideTexts(Args)); }
  BoardRun Run(const std::vector<std::u16string> &Args);
  // Installs the shell that starts the image, as it usually is: UEFI Shell 2.0 with its protocol
  // on the image too, or the EFI 1.1 shell with its environment at Placement.
  void InstallShell(ShellKind Kind,
                    EnvironmentPlacement Placement = EnvironmentPlacement::OnOtherHandles);
  // Starts the image as the firmware does (AppEntry), the shell handing it Kestrel.efi followed
  // by Args, or Vector; the console is cleared first.
  BoardRun Start(ArgVector &Vector);
  BoardRun Start(const std::vector<std::string> &Args) {
    ArgVector Vector(Args);
    return Start(Vector);
  }

  std::vector<uint8_t> Block0() const;
  void SetBlock0(const std::vector<uint8_t> &Bytes);
  SimBlockDevice &Gpp1() { return *Gpp1Device; }

  SimFirmware Sim;
  MemoryBackend Gpp1Medium;
  SimEmmcCard Card;
  HobListBuilder Hobs;
  uint32_t BlockSize;
  std::unique_ptr<HostedShell20> Shell20;
  std::unique_ptr<SimShell11> Shell11;

private:
  SimBlockDevice *Gpp1Device;
};

// Console text with "\r\n" turned into "\n".
std::string Unix(const std::string &Text);

// Whether one of the console's messages is Text, or starts with it when Start is set. Messages
// are judged whole, so an argument echoed back inside one cannot pass for another.
bool HasMessage(const std::vector<std::u16string> &Messages, const std::string &Text,
                bool Start = false);

// What a run left that the image must give back (pool buffers, open protocols, the shell
// connection), named; empty when nothing.
std::string Leftovers(const SimFirmware &Sim);
