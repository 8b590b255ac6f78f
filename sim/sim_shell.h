// The EFI 1.1 shell an application can also be started from (environment on the image handle or
// on other handles, shell interface on the image handle), and the FAT volume whose files the two
// shells work on. UEFI Shell 2.0 is the hosted firmware's (hosted/shell.h).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hosted/shell.h"
#include "sim/sim_firmware.h"

enum class EnvironmentPlacement { OnImage, OnOtherHandles };

class SimShell11 {
public:
  // Environments: one per entry of Env2Forms, each in the environment-2 form when its flag is
  // set; on the image handle (first entry only) or each on a handle of its own.
  SimShell11(SimFirmware &Sim, EFI_HANDLE Image, const std::vector<std::string> &Args,
             EnvironmentPlacement Placement, std::vector<bool> Env2Forms = {true});
  std::vector<std::unique_ptr<EFI_SHELL_ENVIRONMENT2>> Environments;
  std::vector<EFI_HANDLE> EnvironmentHandles;
  EFI_SHELL_INTERFACE Interface{};
  ShellArguments Arguments;
};

// A FAT volume as the firmware presents it: files by name behind EFI_FILE_PROTOCOL handles, the
// simple file system on a device handle that an image's loaded-image protocol can name, and UEFI
// Shell 2.0's file functions working on it. It can be full (a capacity in bytes shared by all
// files) or read-only, as a station's stick can be.
class SimVolume {
public:
  explicit SimVolume(SimFirmware &Sim);
  ~SimVolume();
  SimVolume(const SimVolume &) = delete;
  SimVolume &operator=(const SimVolume &) = delete;

  // Publishes the volume as the one Image was loaded from.
  void LoadImageFrom(EFI_HANDLE Image);
  // Points the shell's by-name file functions at this volume (its handle functions work on any
  // handle).
  void Serve(EFI_SHELL_PROTOCOL *Shell);
  // A handle on the file Name, opened for reading and writing; null when that is refused.
  EFI_FILE_PROTOCOL *Open(const std::u16string &Name);

  std::map<std::u16string, std::vector<uint8_t>> Files; // by name, without a leading '\'
  uint64_t Capacity = UINT64_MAX;                       // bytes all files together may hold
  bool ReadOnly = false;
  bool AccountsSpace = true;    // false: reports the whole volume free, as some FAT drivers do
  size_t WritesLeft = SIZE_MAX; // writes the volume takes before it fails them (a dying stick)
  bool GarblesReads = false;    // every read gives its first byte with one bit flipped
  uint64_t UsedBytes() const;
  size_t OpenHandles = 0; // opened and not yet closed

private:
  SimFirmware &Sim;
  EFI_HANDLE Device = nullptr;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL FileSystem{};
  EFI_LOADED_IMAGE_PROTOCOL LoadedImage{};
};
