// The two shells an application can be started from, as the firmware presents them: UEFI Shell
// 2.0 (shell protocol published system-wide, parameters protocol on the image handle) and the
// EFI 1.1 shell (environment on the image handle or on other handles, shell interface on the
// image handle). Plus an EFI_FILE_PROTOCOL file for the file operations.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_firmware.h"

// The shell's argument vector (the shell owns the strings; the tool may lower them in place).
class SimArguments {
public:
  explicit SimArguments(const std::vector<std::u16string> &Args);
  explicit SimArguments(const std::vector<std::string> &Args) : SimArguments(WideTexts(Args)) {}
  CHAR16 **Argv() { return Pointers.data(); }
  UINTN Argc() const { return Pointers.size() - 1; }

private:
  std::vector<std::u16string> Storage;
  std::vector<CHAR16 *> Pointers;
};

enum class ShellProtocolPlacement { None, OnImage, ElsewhereOnly };

// The shell's handle file functions work on the handle's own EFI_FILE_PROTOCOL, as in the shell;
// opening by name needs a volume (SimVolume::Serve).
class SimShell20 {
public:
  SimShell20(SimFirmware &Sim, EFI_HANDLE Image, const std::vector<std::string> &Args,
             ShellProtocolPlacement Placement = ShellProtocolPlacement::OnImage,
             bool WithParameters = true);
  // Arguments already in UCS-2, as a shell holds them.
  struct Ucs2 {
    const std::vector<std::u16string> &Args;
  };
  SimShell20(SimFirmware &Sim, EFI_HANDLE Image, Ucs2 Args,
             ShellProtocolPlacement Placement = ShellProtocolPlacement::OnImage,
             bool WithParameters = true);
  EFI_SHELL_PROTOCOL Protocol{};
  EFI_SHELL_PARAMETERS_PROTOCOL Parameters{};
  SimArguments Arguments;
  EFI_HANDLE ShellHandle = nullptr; // where the protocol is published besides the image
};

enum class EnvironmentPlacement { None, OnImage, OnOtherHandles };

class SimShell11 {
public:
  // Environments: one per entry of Env2Forms, each in the environment-2 form when its flag is
  // set; on the image handle (first entry only) or each on a handle of its own.
  SimShell11(SimFirmware &Sim, EFI_HANDLE Image, const std::vector<std::string> &Args,
             EnvironmentPlacement Placement, std::vector<bool> Env2Forms = {true},
             bool WithInterface = true);
  std::vector<std::unique_ptr<EFI_SHELL_ENVIRONMENT2>> Environments;
  std::vector<EFI_HANDLE> EnvironmentHandles;
  EFI_SHELL_INTERFACE Interface{};
  SimArguments Arguments;
};

// A file behind EFI_FILE_PROTOCOL.
struct SimFile {
  SimFile(const std::string &Name, const std::vector<uint8_t> &Contents);
  ~SimFile();
  SimFile(const SimFile &) = delete;
  SimFile &operator=(const SimFile &) = delete;
  EFI_FILE_PROTOCOL Protocol{}; // the handle the shell hands out
  std::u16string Name;
  std::vector<uint8_t> Contents;
  uint64_t Position = 0;
  EFI_STATUS GetInfoStatus = EFI_SUCCESS; // forced failure of GetInfo when an error
  bool GetInfoLiesAboutSize = false;      // reports a size too small for the record
  static SimFile *From(EFI_FILE_PROTOCOL *P);
};

// The work every file handle shares (SimFile's and SimVolume's): a read and a write at Position,
// and the EFI_FILE_INFO record of a file (EFI_BUFFER_TOO_SMALL with the size needed when it does
// not fit).
EFI_STATUS SimReadAt(const std::vector<uint8_t> &Data, uint64_t &Position, UINTN *Size,
                     VOID *Buffer);
void SimWriteAt(std::vector<uint8_t> &Data, uint64_t &Position, UINTN Size, const VOID *Buffer);
EFI_STATUS SimFileInfo(const std::u16string &Name, uint64_t FileSize, const EFI_GUID *Type,
                       UINTN *Size, VOID *Buffer);
