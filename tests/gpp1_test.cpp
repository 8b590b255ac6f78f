// Finding GPP1 among the Block I/O handles, one-block transfers and the write-protect flag.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <list>

#include "app/board_record.h"
#include "shell/console.h"
#include "app/gpp1.h"
#include "shell/platform_context.h"
#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

using Args = std::vector<std::string>;

// A board whose handles are laid out by each test; whatever the tool allocated is freed again.
struct BareBoard {
  SimFirmware Sim;
  MemoryBackend Gpp1{4096};
  SimEmmcCard Card{Sim};
  std::list<PlainDisk> Disks; // block devices on other controllers
  SimBlockDevice *Gpp1Device = nullptr;
  BareBoard() { Sim.InstallInPlatformContext(); }
  ~BareBoard() { EXPECT_EQ(Sim.LiveAllocations(), 0u); }
  std::string Output() { return Unix(Sim.ConsoleText()); }
  SimBlockDevice *PublishGpp1(uint32_t BlockSize = 512) {
    return Gpp1Device = Card.Publish(4, &Gpp1, BlockSize);
  }
  // The card's partitions in this order, 4 being GPP1.
  void Publish(std::initializer_list<uint8_t> Partitions) {
    for (uint8_t P : Partitions)
      P == 4 ? PublishGpp1() : Card.Publish(P);
  }
  void Disk(const DevicePathBuilder &Path) { Disks.emplace_back(Sim, Path); }
};

// The search for GPP1, as the tool runs it with or without --debug.
EFI_BLOCK_IO_PROTOCOL *SearchGpp1(bool Debug) {
  EFI_BLOCK_IO_PROTOCOL *Found = GetBlockIo(Debug);
  return Found;
}

// What --debug shows of a search: the handle count, then each partition number read on device 28.
std::string Searched(size_t Handles, std::initializer_list<int> Partitions) {
  std::string Out = "GetBlockIo(#460) - BlockIo handle count is: " + std::to_string(Handles) + "\n";
  for (int P : Partitions)
    Out += "Get eMMC Partition number is: " + std::to_string(P) + "\n";
  return Out;
}

// Which handle the search takes for GPP1, and what it says. Under --debug it names each
// partition on device 28 up to GPP1. Only the first PCI node of a path decides (a bridge on
// device 3 with the eMMC behind it on device 28 is not the card), and a handle without a path
// or without a PCI node is passed over.
TEST(GetBlockIo, FindsPartition4OnDevice28AndSaysWhyNot) {
  using Bare = BareBoard &;
  const DevicePathBuilder Pci5 = DevicePathBuilder().Acpi().Pci(5).End();
  const DevicePathBuilder Bridge = DevicePathBuilder().Acpi().Pci(3).Pci(28).End();
  const DevicePathBuilder NoPci = DevicePathBuilder().Acpi().End();
  const std::string NoPartition = "ERROR: Failed to find partition!\n";
  const auto LookupFails = [](Bare B) {
    B.PublishGpp1();
    B.Sim.FailLookup(nullptr, EfiBlockIoProtocolGuid, EFI_DEVICE_ERROR);
  };
  const struct {
    const char *Name;
    std::function<void(BareBoard &)> Build;
    bool Debug, FindsGpp1;
    std::string Output;
  } Cases[] = {
      // clang-format off
      {"another disk, then partitions 0, 3, GPP1 and 5",
       [&](Bare B) { B.Disk(Pci5); B.Publish({0, 3, 4, 5}); }, true, true, Searched(5, {0, 3, 4})},
      {"a pathless partition 4, a bridge, a path without PCI",
       [&](Bare B) { B.Publish({0}); B.Card.Publish(4, &B.Gpp1, 512, /*WithPath=*/false);
                     B.Disk(Bridge); B.Disk(NoPci); }, true, false, Searched(4, {0}) + NoPartition},
      {"no Block I/O at all", [](Bare) {}, false, false,
       "ERROR: Cannot Locate BlockIo protocol. Status = Not Found\n"},
      {"only another disk", [&](Bare B) { B.Disk(Pci5); }, false, false, NoPartition},
      {"the lookup fails", LookupFails, false, false, ""},
      {"the lookup fails, --debug", LookupFails, true, false,
       Searched(1, {}) + "Failed to Handle BlockIo Protocol. Status = Device Error\n"},
      // clang-format on
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    BareBoard B;
    C.Build(B);
    EXPECT_EQ(SearchGpp1(C.Debug), C.FindsGpp1 ? B.Gpp1Device->Interface : nullptr);
    EXPECT_EQ(B.Output(), C.Output);
  }
}

// Block I/O handles on device 28 whose private data gives partition 4. A partition-table child of
// the user area (a media node after the controller) is not one of the card's partitions and is
// passed over for the real GPP1 after it. An interface 96 bytes past its record's boundary
// (truncating division still gives 4) and a controller behind a bridge at device 28 (a second PCI
// node, which plays no part) are GPP1: found first, and written.
TEST(GetBlockIo, Partition4OnDevice28IsGpp1UnlessAMediaNodeFollows) {
  struct {
    board::EmmcPartitionRecord Records[board::EmmcPartitionCount];
    board::EmmcPartitionRecord Tail;
  } Fake{};
  for (auto &Record : Fake.Records)
    Record.CardArray = Fake.Records;
  auto *Shifted = reinterpret_cast<EFI_BLOCK_IO_PROTOCOL *>(
      reinterpret_cast<uint8_t *>(&Fake.Records[4].BlockIo) + 96);
  void *Array = Fake.Records;
  memcpy(reinterpret_cast<uint8_t *>(Shifted) + EmmcCardPointerOffset, &Array, sizeof(Array));
  const std::vector<uint8_t> HardDrive(38, 0);
  struct {
    EFI_BLOCK_IO_PROTOCOL *Interface;
    DevicePathBuilder Path;
    bool IsGpp1;
  } Cases[] = {
      // clang-format off
      {&Fake.Records[4].BlockIo,
       DevicePathBuilder().Acpi().Pci(28).Emmc(0).Controller(0).Node(MEDIA_DEVICE_PATH, 1, HardDrive)
           .End(), false},
      {&Fake.Records[4].BlockIo, DevicePathBuilder().Acpi().Pci(28, 3).Pci(9, 1).Emmc(0).End(), true},
      {Shifted, DevicePathBuilder().Acpi().Pci(28).Emmc(0).Controller(4).End(), true},
      // clang-format on
  };
  const std::string PassedOver =
      "Not an eMMC hardware partition: passed over.\nGet eMMC Partition number is: 4\n";
  for (auto &Case : Cases) {
    BareBoard B;
    MemoryBackend Medium(4096);
    SimBlockDevice Device(&Medium, 512, Case.Interface);
    EXPECT_EQ(EmmcPartitionNumber(Case.Interface), 4u);
    EFI_HANDLE Handle = B.Sim.Handles.CreateHandle();
    B.Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Case.Interface);
    B.Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Case.Path.Data());
    SimBlockDevice *Gpp1 = B.PublishGpp1();
    EXPECT_EQ(SearchGpp1(true), Case.IsGpp1 ? Case.Interface : Gpp1->Interface);
    EXPECT_EQ(B.Output(), Searched(2, {4}) + (Case.IsGpp1 ? "" : PassedOver));
    UINT8 Record[BoardRecordSize] = {1, 2, 3};
    EXPECT_EQ(WriteGpp1Record(Record), 0u);
    EXPECT_EQ(Device.WriteCalls, Case.IsGpp1 ? 1u : 0u);
    EXPECT_EQ(Gpp1->WriteCalls, Case.IsGpp1 ? 0u : 1u);
  }
}

// A path that never ends is walked a bounded number of nodes. The media-node check walks the
// whole path: a malformed or endless one is no evidence. (Nodes of zero length, or too short for
// a PCI node, at the start of a path: the device_path fuzz target's seeds.)
TEST(GetBlockIo, MalformedPathNodesEndTheWalk) {
  DevicePathBuilder Endless, BadTail;
  for (int I = 0; I < 2000; I++)
    Endless.Acpi();
  UINT8 Device = 0xAA;
  EXPECT_FALSE(DevicePathPciDevice(Endless.Data(), &Device));
  BadTail.Acpi().Pci(28).RawNode(MESSAGING_DEVICE_PATH, MSG_EMMC_DP, 2, {}).End();
  for (DevicePathBuilder *Path : {&Endless, &BadTail})
    EXPECT_FALSE(DevicePathHasNoMediaNode(Path->Data()));
}

TEST(EmmcPartitionNumber, ReadsTheDriversPrivateRecord) {
  BareBoard B;
  for (UINT8 P = 0; P < board::EmmcPartitionCount; P++)
    EXPECT_EQ(EmmcPartitionNumber(B.Card.Publish(P)->Interface), P);
  // An array pointer above the interface wraps to a huge number, never 4.
  struct {
    EFI_BLOCK_IO_PROTOCOL BlockIo;
    UINT8 Gap[48];
    UINT64 Pointer;
  } Odd{};
  Odd.Pointer = reinterpret_cast<UINT64>(&Odd) + 4096;
  EXPECT_GT(EmmcPartitionNumber(&Odd.BlockIo), 1000000u);
}

// A transfer is refused before the device is asked when GPP1's block cannot hold the record or
// its media asks for an alignment that is no power of two (or beyond any device's); otherwise the
// buffer handed to the device meets the media's IoAlign, whatever the pool gives. A failed
// transfer names the device's own reason on a line of its own; the status says only that GPP1
// could not be read, since a write reads block 0 first and writes nothing when it cannot. A read
// that fails leaves the caller's buffer untouched.
TEST(Gpp1Transfers, RefusedFailedAndAlignedTransfers) {
  const auto Twice = [](const std::string &Line) { return Line + Line; };
  const auto Size = [&](uint32_t Bytes) {
    return Twice("ERROR: GPP1 block size of " + std::to_string(Bytes) +
                 " bytes cannot hold the board record!\n");
  };
  const auto Align = [&](uint32_t Bytes) {
    return Twice("ERROR: GPP1 asks for a buffer alignment of " + std::to_string(Bytes) +
                 " bytes, which no buffer can meet!\n");
  };
  const auto Device = [&](const std::string &Named) {
    return Twice("ERROR: Failed to read GPP1!\nGPP1 device status: " + Named + "\n");
  };
  const struct {
    uint32_t BlockSize, IoAlign;
    EFI_STATUS Device;
    uint64_t Status;
    std::string Output;
  } Cases[] = {
      // clang-format off
      {0, 0, 0, 7, Size(0)}, {128, 0, 0, 7, Size(128)}, {175, 0, 0, 7, Size(175)},
      {512, 0, 0, 0, ""}, {512, 1, 0, 0, ""}, {512, 2, 0, 0, ""}, {512, 16, 0, 0, ""},
      {512, 64, 0, 0, ""}, {512, 512, 0, 0, ""}, {512, 4096, 0, 0, ""},
      {512, 3, 0, 7, Align(3)}, {512, 48, 0, 7, Align(48)}, {512, 0x20000, 0, 7, Align(0x20000)},
      {512, 0, EFI_DEVICE_ERROR, 0x41, Device("Device Error")},
      {512, 0, EFI_WRITE_PROTECTED, 0x41, Device("Write Protected")},
      {512, 0, EfiErrorBit, 0x41, Device("00000000")},
      // clang-format on
  };
  const std::vector<UINT8> Record(BoardRecordSize, 0x3C), Untouched(BoardRecordSize, 0x5C);
  for (const auto &C : Cases) {
    SCOPED_TRACE(testing::Message() << C.BlockSize << " " << C.IoAlign << " " << C.Device);
    BareBoard B;
    SimBlockDevice *Dev = B.PublishGpp1(C.BlockSize);
    Dev->Media.IoAlign = C.IoAlign;
    Dev->Faults.ReadStatus = Dev->Faults.WriteStatus = C.Device;
    std::vector<UINT8> Back = Untouched;
    EXPECT_EQ(WriteGpp1Record(Record.data()), C.Status);
    EXPECT_EQ(ReadGpp1Record(Back.data()), C.Status);
    EXPECT_EQ(Back, C.Status == 0 ? Record : Untouched);
    if (C.Device == EFI_SUCCESS && C.Status != 0)
      EXPECT_EQ(Dev->ReadCalls + Dev->WriteCalls, 0u);
    EXPECT_EQ(B.Output(), C.Output);
  }
}

// A write counts once the device has flushed it: a failed flush is a failed write, and block 0
// read once more says what it left (a write the device refused, the block as it was). A driver
// without a flush (none, or EFI_UNSUPPORTED) keeps no cache, and the read-back decides.
TEST(Gpp1Transfers, WritesAreFlushedAndAFailedFlushFailsTheWrite) {
  {
    BareBoard B;
    SimBlockDevice *Dev = B.PublishGpp1();
    std::vector<UINT8> Record(BoardRecordSize, 0x5C);
    EXPECT_EQ(WriteGpp1Record(Record.data()), 0u);
    EXPECT_EQ(Dev->FlushCalls, 1u);
    EXPECT_EQ(ReadGpp1Record(Record.data()), 0u);
    EXPECT_EQ(Dev->FlushCalls, 1u); // reads are not flushed
    Dev->Faults.FlushStatus = EFI_DEVICE_ERROR;
    EXPECT_EQ(WriteGpp1Record(Record.data()), 0x43u);
    Dev->Faults.FlushStatus = EFI_UNSUPPORTED;
    Dev->Faults.WriteStatus = EFI_NO_MEDIA;
    EXPECT_EQ(WriteGpp1Record(std::vector<UINT8>(BoardRecordSize, 1).data()), 0x42u);
    Dev->Faults.WriteStatus = EFI_SUCCESS;
    EXPECT_EQ(WriteGpp1Record(Record.data()), 0u);
    Dev->Interface->FlushBlocks = nullptr;
    EXPECT_EQ(WriteGpp1Record(Record.data()), 0u);
    EXPECT_EQ(B.Output(), "ERROR: Failed to write GPP1!\nGPP1 device status: Device Error\n"
                          "- GPP1 read once more holds the new block, unconfirmed by the device.\n"
                          "ERROR: Failed to write GPP1!\nGPP1 device status: No Media\n"
                          "- GPP1 read once more holds the block it held before: nothing was "
                          "written.\n");
  }
  // Through the whole tool (a failed flush is the fault sweep's): a driver that answers the
  // flush with EFI_UNSUPPORTED is written and verified.
  Board B;
  B.Gpp1().Faults.FlushStatus = EFI_UNSUPPORTED;
  EXPECT_EQ(B.Run({"-w", "-p", "1", "-m", "2"}).Status, 0u);
  EXPECT_EQ(B.Block0()[0], '$');
}

TEST(Gpp1Transfers, NullBuffersAreInternalErrors) {
  BareBoard B;
  EXPECT_EQ(ReadGpp1Record(nullptr), 2u);
  EXPECT_EQ(WriteGpp1Record(nullptr), 2u); // reported only under --debug
  Gpp1Visit Debug = {};
  Debug.Debug = true;
  EXPECT_EQ(WriteGpp1Record(nullptr, &Debug), 2u);
  EXPECT_EQ(B.Output(), "ERROR: [#739] Internal coding error!\n"
                        "ERROR: [#918] Internal coding error!\n");
}

// The first platform block decides. A damaged list (a block shorter than its header, no end
// within the bound) leaves the protection unknown, which a write must never take for "writable":
// the tool refuses a write and a clear over it before the device is asked, while a read, which
// does not depend on the flag, still runs. (The plain verdicts, a list without a platform block,
// flags 0, 1 and FF, the first of two, another GUID, a block too short for the flag, and a null
// list, are the hob fuzz target's seeds, which it judges by its own rule.)
TEST(WriteProtect, TheFirstPlatformBlockDecidesAndADamagedListFailsClosed) {
  constexpr auto W = Gpp1Protection::Writable;
  constexpr auto P = Gpp1Protection::Protected;
  constexpr auto U = Gpp1Protection::Unknown;
  std::vector<uint8_t> GuidInBody(16 + 96, 1);
  memcpy(GuidInBody.data(), &PlatformInfoHobGuid, 16);
  using L = HobListBuilder &;
  const struct {
    const char *Name;
    std::function<void(HobListBuilder &)> Build;
    Gpp1Protection Expected;
  } Cases[] = {
      // clang-format off
      {"end first", [](L H) { H.End().AddPlatformInfo(1).End(); }, W},
      {"first of two wins (on)", [](L H) { H.AddPlatformInfo(1).AddPlatformInfo(0).End(); }, P},
      {"platform GUID in another type",
       [&](L H) { H.Add(EFI_HOB_TYPE_MEMORY_ALLOCATION, GuidInBody).End(); }, W},
      {"zero-length block stops the walk",
       [](L H) { H.AddRaw(EFI_HOB_TYPE_HANDOFF, 0, {}).AddPlatformInfo(0).End(); }, U},
      {"length below the header, after the firmware's blocks",
       [](L H) { H.AddFirmwareBlocks().AddRaw(3, 7, {}).AddPlatformInfo(0).End(); }, U},
      {"zero-length block after the platform block",
       [](L H) { H.AddPlatformInfo(0).AddRaw(3, 0, {}).End(); }, W},
      {"no end within the bound",
       [](L H) { for (size_t I = 0; I <= MaxHobBlocks; I++) H.AddRaw(3, 8, {}); }, U},
      // clang-format on
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    HobListBuilder H;
    C.Build(H);
    EXPECT_EQ(Gpp1WriteProtection(H.Data()), C.Expected);
    EXPECT_EQ(IsGpp1WriteProtected(H.Data()), C.Expected != W);
    if (C.Expected != U)
      continue;
    Board B;
    PlatformContext.HobList = H.Data();
    B.SetBlock0(std::vector<uint8_t>(512, 0x42));
    for (const Args &A : {Args{"-w", "-p", "1", "-m", "2"}, Args{"-c"}}) {
      BoardRun R = B.Run(A);
      EXPECT_EQ(R.Status, 8u);
      EXPECT_EQ(R.Output, Expected().Banner + "ERROR: GPP1 write protection is unknown: the "
                                              "firmware's HOB list is damaged!\n");
    }
    EXPECT_EQ(B.Block0(), std::vector<uint8_t>(512, 0x42));
    EXPECT_EQ(B.Gpp1().WriteCalls, 0u);
    EXPECT_EQ(B.Run({"-r"}).Status, 10u);
  }
}

} // namespace
