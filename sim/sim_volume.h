// A FAT volume as the firmware presents it: files by name behind EFI_FILE_PROTOCOL handles, the
// simple file system on a device handle that an image's loaded-image protocol can name, and UEFI
// Shell 2.0's file functions working on it. It can be full (a capacity in bytes shared by all
// files) or read-only, as a station's stick can be.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/sim_firmware.h"

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

  std::map<std::u16string, std::vector<uint8_t>> Files; // by name, without a leading '\'
  uint64_t Capacity = UINT64_MAX;                       // bytes all files together may hold
  bool ReadOnly = false;
  size_t OpenHandles() const { return Open; }

  // For the handles' functions.
  static SimVolume &Active();
  uint64_t UsedBytes() const;
  size_t Open = 0;

private:
  SimFirmware &Sim;
  EFI_HANDLE Device = nullptr;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL FileSystem{};
  EFI_LOADED_IMAGE_PROTOCOL LoadedImage{};
};
