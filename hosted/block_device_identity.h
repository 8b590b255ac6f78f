// What the kernel says a block device is, and whether that is the board's GPP1.
//
// The answer comes from the opened descriptor's device number and sysfs
// (/sys/dev/block/MAJOR:MINOR), never from the path the user typed: a symlink, a udev rule or a
// mistyped name can make any path lead to any disk. The kernel's eMMC driver names a card's first
// general purpose partition mmcblkNgp0 (a disk of its own beside mmcblkN and mmcblkNbootM), and
// the link resolves to the card under its controller, e.g.
//   /sys/devices/pci0000:00/0000:00:1c.0/mmc_host/mmc0/mmc0:0001/block/mmcblk0gp0
// On the board that controller is PCI device 28, the device the firmware tool looks for in its
// search, where the first PCI node of a device path decides and later ones play no part.
#pragma once

#include <string>
#include <sys/types.h>

// The kernel's name of an eMMC's first general purpose partition, mmcblkNgp0: N, or -1 for any
// other name.
long Gpp1NameNumber(const std::string &Name);

struct BlockDeviceIdentity {
  bool Known = false;      // sysfs answered for the device number
  std::string KernelName;  // the kernel's name of the disk or partition, e.g. "mmcblk0gp0"
  std::string PciFunction; // the first PCI function on its sysfs path, e.g. "0000:00:1c.0"
  unsigned PciDevice = 0;  // that function's device number; valid when PciFunction is not empty
};

// The identity a resolved sysfs device path (under /sys/devices) describes.
BlockDeviceIdentity IdentityFromSysfsPath(const std::string &DevicePath);

// The identity of block device Device as sysfs under SysfsRoot ("/sys") tells it.
BlockDeviceIdentity IdentifyBlockDevice(dev_t Device, const std::string &SysfsRoot);

// An eMMC GPP1 (mmcblkNgp0) whose controller is the board's, the PCI device the firmware tool
// looks for (EmmcPciDevice) on any domain, bus and function.
bool IsBoardGpp1(const BlockDeviceIdentity &Identity);

// "the kernel calls it loop0", "... mmcblk1gp0, on PCI function 0000:00:14.0", for messages.
std::string DescribeIdentity(const BlockDeviceIdentity &Identity);

// Whether the kernel holds the block device read-only (its sysfs "ro", which also reflects the
// eMMC driver's force_ro switch for boot and general purpose partitions); from the block layer
// when sysfs cannot say, and true when neither can.
bool KernelHoldsReadOnly(int Fd, dev_t Device, const std::string &SysfsRoot);
