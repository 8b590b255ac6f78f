// The device-path walk over arbitrary paths, alone and inside the GPP1 search.
//
// Input: a byte choosing the eMMC partition (0 to 7) whose handle gets the path, then the path's
// bytes, followed in memory by 64 KiB of 0x7F, which reads as end nodes (see PaddedRegion).
//
// Properties: DevicePathPciDevice stays inside memory, ends, and agrees with the rule written
// out here: go node by node; an end node (type 0x7F), or a node shorter than its own 4-byte
// header, ends the path without a device; the first PCI node (type 1, sub-type 1) gives its
// Device byte, or nothing when it is too short to hold one. DevicePathHasNoMediaNode agrees
// with its own rule: the path reaches an end node within MaxDevicePathNodes nodes, none shorter
// than its header, after a PCI node, and no node after that first PCI node is a media node (type
// 4) or a BIOS boot node (type 5). GetBlockIo on a board whose chosen partition
// carries this path finds GPP1 exactly when GPP1's path still leads to device 28 and passes that
// rule, and leaves nothing allocated.
#include "app/gpp1.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/board_fixture.h"

namespace {

constexpr size_t NodeHeaderSize = 4;
constexpr size_t PciNodeSize = 6;
constexpr size_t PciDeviceOffset = 5;
constexpr uint8_t EndType = 0x7F;

// Both rules in one walk, as written out above.
struct Verdict {
  bool HasDevice = false; // the first PCI node holds a Device byte
  uint8_t Device = 0;
  bool Partition4Path = false; // sound end after a PCI node, nothing media-like after it
};
Verdict Reference(const uint8_t *Node) {
  Verdict V;
  bool PastPci = false;
  for (size_t Count = 0; Count < MaxDevicePathNodes; Count++) {
    const uint16_t Length = LoadLe<uint16_t>(Node + 2);
    if (Node[0] == EndType) {
      V.Partition4Path = PastPci;
      return V;
    }
    if (Length < NodeHeaderSize)
      return V;
    const bool Pci = Node[0] == HARDWARE_DEVICE_PATH && Node[1] == HW_PCI_DP;
    if (Pci && !PastPci && Length >= PciNodeSize) {
      V.HasDevice = true;
      V.Device = Node[PciDeviceOffset];
    }
    if (PastPci && (Node[0] == MEDIA_DEVICE_PATH || Node[0] == BBS_DEVICE_PATH))
      return V;
    PastPci = PastPci || Pci;
    Node += Length;
  }
  return V;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzReader In(Data, Size);
  const uint8_t Partition = In.Byte() % board::EmmcPartitionCount;
  PaddedRegion Path(In.Rest(), EndType);
  const auto *Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Path.Data());

  const Verdict Expected = Reference(Path.Data());
  uint8_t Got = 0;
  const bool Has = DevicePathPciDevice(Node, &Got);
  FUZZ_CHECK(Has == Expected.HasDevice);
  if (Has)
    FUZZ_CHECK(Got == Expected.Device);
  FUZZ_CHECK(DevicePathHasNoMediaNode(Node) == Expected.Partition4Path);

  Board B;
  B.Sim.Handles.Install(B.Card.HandleOf(Partition), EfiDevicePathProtocolGuid, Path.Data());
  const bool Gpp1Reachable =
      Partition != board::Gpp1Partition ||
      (Expected.HasDevice && Expected.Device == EmmcPciDevice && Expected.Partition4Path);
  EFI_BLOCK_IO_PROTOCOL *Found = GetBlockIo();
  FUZZ_CHECK(Found == (Gpp1Reachable ? B.Gpp1().Interface : nullptr));
  FUZZ_CHECK(B.Sim.LiveAllocations() == 0);
  return 0;
}
