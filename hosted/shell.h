// UEFI Shell 2.0 as it starts an application: the shell protocol published system-wide (and on
// the image handle), the parameters protocol on the image handle with the argument vector. Its
// handle file functions work on the handle's own EFI_FILE_PROTOCOL, as in the shell; opening by
// name finds nothing until a volume serves it (the front end's Linux files, a test's volume).
#pragma once

#include <string>
#include <vector>

#include "hosted/firmware.h"

// The shell's argument vector (the shell owns the strings; the tool may lower them in place).
class ShellArguments {
public:
  explicit ShellArguments(const std::vector<std::u16string> &Args);
  CHAR16 **Argv() { return Pointers.data(); }
  UINTN Argc() const { return Pointers.size() - 1; }

private:
  std::vector<std::u16string> Storage;
  std::vector<CHAR16 *> Pointers;
};

enum class ShellProtocolPlacement { OnImage, ElsewhereOnly };

class HostedShell20 {
public:
  // Arguments already in UCS-2, as a shell holds them.
  struct Ucs2 {
    const std::vector<std::u16string> &Args;
  };
  HostedShell20(HostedFirmware &Firmware, EFI_HANDLE Image, Ucs2 Args,
                ShellProtocolPlacement Placement = ShellProtocolPlacement::OnImage,
                bool WithParameters = true);
  HostedShell20(HostedFirmware &Firmware, EFI_HANDLE Image, const std::vector<std::string> &Args,
                ShellProtocolPlacement Placement = ShellProtocolPlacement::OnImage,
                bool WithParameters = true)
      : HostedShell20(Firmware, Image, Ucs2{WideTexts(Args)}, Placement, WithParameters) {}
  EFI_SHELL_PROTOCOL Protocol{};
  EFI_SHELL_PARAMETERS_PROTOCOL Parameters{};
  ShellArguments Arguments;
};
