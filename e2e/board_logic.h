// The simulated board driver's own parts beside the board description: the settings text the
// runner leaves beside it, and the device-path walk that tells disks apart.
#pragma once

#include "uefi/uefi.h"
#include "hosted/board.h"

namespace board {

// The value of a hexadecimal digit (either case), 16 for any other character.
template <typename Char> UINT32 DigitValue(Char C) {
  return C >= '0' && C <= '9'   ? C - '0'
         : C >= 'a' && C <= 'f' ? C - 'a' + 10
         : C >= 'A' && C <= 'F' ? C - 'A' + 10
                                : 16;
}

// Device number of the first PCI node of a device path; false when none comes before the end
// node within MaxBytes, or a node is malformed.
bool FirstPciDevice(const EFI_DEVICE_PATH_PROTOCOL *Path, UINTN MaxBytes, UINT8 *Device);

// Settings the runner leaves beside the driver, as "key = value" lines with decimal values ('#'
// starts a comment):
//   gpp1-blocks      number of blocks of the raw disk that backs GPP1 (at least 1)
//   gpp1-block-size  its block size in bytes (512, 1024, 2048 or 4096)
//   write-protect    the PlatformInfoHob's GPP1 write-protect flag (0-255)
// The disk is known by its size alone: firmware implementations name their disks by different
// kinds of device path (OVMF by PCI slot, U-Boot by vendor nodes), and a faulty disk may not be
// readable at all, so neither a path nor a signature in the image would find it everywhere.
struct BoardSettings {
  UINT64 Gpp1Blocks; // 0: not set
  UINT32 Gpp1BlockSize;
  UINT8 WriteProtect;
};
constexpr BoardSettings DefaultBoardSettings = {0, 512, 0};

// Parses Length bytes of settings text over the defaults; on a bad line returns false with its
// 1-based number in ErrorLine.
bool ParseBoardSettings(const CHAR8 *Text, UINTN Length, BoardSettings *Settings, UINTN *ErrorLine);

} // namespace board
