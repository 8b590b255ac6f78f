#include "hosted/block_device_identity.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

#include "app/gpp1.h"

namespace {

constexpr const char *Gpp1NamePrefix = "mmcblk";
constexpr const char *Gpp1NameSuffix = "gp0";

bool AllHex(const std::string &Text, size_t Least, size_t Most) {
  if (Text.size() < Least || Text.size() > Most)
    return false;
  for (char C : Text) {
    if (!isxdigit(static_cast<unsigned char>(C)))
      return false;
  }
  return true;
}

// A PCI function as sysfs names it: DOMAIN:BUS:DEVICE.FUNCTION in hexadecimal, e.g.
// 0000:00:1c.0 (domains can be wider than four digits, as behind a volume-management controller
// that moves NVMe and eMMC functions onto a PCI domain of its own). The root bus "pci0000:00" and
// every other node are not functions.
bool ParsePciFunction(const std::string &Node, unsigned *Device) {
  size_t First = Node.find(':');
  size_t Second = Node.find(':', First == std::string::npos ? First : First + 1);
  size_t Dot = Node.find('.', Second == std::string::npos ? Second : Second + 1);
  if (First == std::string::npos || Second == std::string::npos || Dot == std::string::npos)
    return false;
  std::string Domain = Node.substr(0, First), Bus = Node.substr(First + 1, Second - First - 1),
              Dev = Node.substr(Second + 1, Dot - Second - 1), Function = Node.substr(Dot + 1);
  if (!AllHex(Domain, 4, 8) || !AllHex(Bus, 2, 2) || !AllHex(Dev, 2, 2) || Function.size() != 1 ||
      Function[0] < '0' || Function[0] > '7')
    return false;
  *Device = static_cast<unsigned>(strtoul(Dev.c_str(), nullptr, 16));
  return *Device < 32;
}

} // namespace

long Gpp1NameNumber(const std::string &Name) {
  std::string Prefix = Gpp1NamePrefix, Suffix = Gpp1NameSuffix;
  if (Name.size() <= Prefix.size() + Suffix.size() || Name.rfind(Prefix, 0) != 0 ||
      Name.compare(Name.size() - Suffix.size(), Suffix.size(), Suffix) != 0)
    return -1;
  long Number = 0;
  for (size_t I = Prefix.size(); I < Name.size() - Suffix.size(); I++) {
    if (!isdigit(static_cast<unsigned char>(Name[I])) || Number > (LONG_MAX - 9) / 10)
      return -1;
    Number = Number * 10 + (Name[I] - '0');
  }
  return Number;
}

BlockDeviceIdentity IdentityFromSysfsPath(const std::string &DevicePath) {
  BlockDeviceIdentity Identity;
  size_t Start = 0;
  while (Start <= DevicePath.size()) {
    size_t End = DevicePath.find('/', Start);
    if (End == std::string::npos)
      End = DevicePath.size();
    std::string Node = DevicePath.substr(Start, End - Start);
    unsigned Device = 0;
    if (!Node.empty()) {
      if (Identity.PciFunction.empty() && ParsePciFunction(Node, &Device)) {
        Identity.PciFunction = Node;
        Identity.PciDevice = Device;
      }
      Identity.KernelName = Node;
      Identity.Known = true;
    }
    Start = End + 1;
  }
  return Identity;
}

BlockDeviceIdentity IdentifyBlockDevice(dev_t Device, const std::string &SysfsRoot) {
  std::string Link = SysfsRoot + "/dev/block/" + std::to_string(major(Device)) + ":" +
                     std::to_string(minor(Device));
  char Resolved[PATH_MAX], Root[PATH_MAX];
  if (realpath(Link.c_str(), Resolved) == nullptr || realpath(SysfsRoot.c_str(), Root) == nullptr)
    return BlockDeviceIdentity{};
  // Only the part below the sysfs root describes the device.
  std::string Path = Resolved, Prefix = Root;
  if (Path.rfind(Prefix + "/", 0) != 0)
    return BlockDeviceIdentity{};
  return IdentityFromSysfsPath(Path.substr(Prefix.size()));
}

bool IsBoardGpp1(const BlockDeviceIdentity &Identity) {
  return Identity.Known && Gpp1NameNumber(Identity.KernelName) >= 0 &&
         !Identity.PciFunction.empty() && Identity.PciDevice == EmmcPciDevice;
}

std::string DescribeIdentity(const BlockDeviceIdentity &Identity) {
  if (!Identity.Known)
    return "the kernel does not say what it is";
  std::string Text = "the kernel calls it " + Identity.KernelName;
  // Where the controller is what decides: an eMMC GPP1, on the board's controller or another.
  if (Gpp1NameNumber(Identity.KernelName) >= 0 && !IsBoardGpp1(Identity))
    Text += (Identity.PciFunction.empty() ? ", on no PCI function"
                                          : ", behind PCI function " + Identity.PciFunction) +
            ", not the board's eMMC controller, PCI device " + std::to_string(EmmcPciDevice);
  return Text;
}

bool KernelHoldsReadOnly(int Fd, dev_t Device, const std::string &SysfsRoot) {
  std::string Path = SysfsRoot + "/dev/block/" + std::to_string(major(Device)) + ":" +
                     std::to_string(minor(Device)) + "/ro";
  if (FILE *F = fopen(Path.c_str(), "re")) {
    int Flag = 0;
    bool Got = fscanf(F, "%d", &Flag) == 1;
    fclose(F);
    if (Got)
      return Flag != 0;
  }
  int Flag = 0;
  if (ioctl(Fd, BLKROGET, &Flag) == 0)
    return Flag != 0;
  return true;
}
