// Finding GPP1 among the Block I/O handles, one-block transfers and the write-protect flag.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/board_record.h"
#include "app/cli_options.h"
#include "app/gpp1.h"
#include "shell/platform_context.h"
#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

using Args = std::vector<std::string>;

// A board whose handles are laid out by each test; whatever the tool allocated is freed again.
struct BareBoard {
  SimFirmware Sim;
  SimMemoryBackend Gpp1{4096};
  SimEmmcCard Card{Sim};
  BareBoard() { Sim.InstallInPlatformContext(); }
  ~BareBoard() { EXPECT_EQ(Sim.LiveAllocations(), 0u); }
  std::string Output() { return Unix(Sim.ConsoleText()); }
  SimBlockDevice *PublishGpp1(uint32_t BlockSize = 512) {
    return Card.Publish(4, &Gpp1, BlockSize);
  }
};

// GetBlockIo with --debug on, as the tool runs it then.
EFI_BLOCK_IO_PROTOCOL *DebugGetBlockIo() {
  DebugEnabled = 1;
  EFI_BLOCK_IO_PROTOCOL *Found = GetBlockIo();
  DebugEnabled = 0;
  return Found;
}

TEST(GetBlockIo, DebugShowsEachDevice28PartitionUpToGpp1) {
  BareBoard B;
  SimPlainDisk Other(B.Sim, SimDevicePath().Acpi().Pci(5).End());
  B.Card.Publish(0);
  B.Card.Publish(3);
  SimBlockDevice *Gpp1 = B.PublishGpp1();
  B.Card.Publish(5);
  EXPECT_EQ(DebugGetBlockIo(), Gpp1->Interface);
  EXPECT_EQ(B.Output(), "GetBlockIo(#460) - BlockIo handle count is: 5\n"
                        "Get eMMC Partition number is: 0\n"
                        "Get eMMC Partition number is: 3\n"
                        "Get eMMC Partition number is: 4\n");
}

TEST(GetBlockIo, OnlyTheFirstPciNodeDecidesAndPathlessHandlesArePassedOver) {
  BareBoard B;
  B.Card.Publish(0);
  // Partition 4 of the card but without a device path: no device number.
  B.Card.Publish(4, &B.Gpp1, 512, /*WithPath=*/false);
  // A bridge on device 3 with the eMMC behind it on device 28: the first PCI node is 3.
  SimPlainDisk Behind(B.Sim, SimDevicePath().Acpi().Pci(3).Pci(28).End());
  // A path with no PCI node at all.
  SimPlainDisk NoPci(B.Sim, SimDevicePath().Acpi().End());
  EXPECT_EQ(DebugGetBlockIo(), nullptr);
  EXPECT_EQ(B.Output(), "GetBlockIo(#460) - BlockIo handle count is: 4\n"
                        "Get eMMC Partition number is: 0\n"
                        "ERROR: Failed to find partition!\n");
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
    SimDevicePath Path;
    bool IsGpp1;
  } Cases[] = {
      // clang-format off
      {&Fake.Records[4].BlockIo,
       SimDevicePath().Acpi().Pci(28).Emmc(0).Controller(0).Node(MEDIA_DEVICE_PATH, 1, HardDrive)
           .End(), false},
      {&Fake.Records[4].BlockIo, SimDevicePath().Acpi().Pci(28, 3).Pci(9, 1).Emmc(0).End(), true},
      {Shifted, SimDevicePath().Acpi().Pci(28).Emmc(0).Controller(4).End(), true},
      // clang-format on
  };
  for (auto &Case : Cases) {
    BareBoard B;
    SimMemoryBackend Medium(4096);
    SimBlockDevice Device(&Medium, 512, Case.Interface);
    EXPECT_EQ(EmmcPartitionNumber(Case.Interface), 4u);
    EFI_HANDLE Handle = B.Sim.Handles.CreateHandle();
    B.Sim.Handles.Install(Handle, EfiBlockIoProtocolGuid, Case.Interface);
    B.Sim.Handles.Install(Handle, EfiDevicePathProtocolGuid, Case.Path.Data());
    SimBlockDevice *Gpp1 = B.PublishGpp1();
    EXPECT_EQ(DebugGetBlockIo(), Case.IsGpp1 ? Case.Interface : Gpp1->Interface);
    const std::string Gpp1Line = "Get eMMC Partition number is: 4\n";
    EXPECT_EQ(B.Output(),
              "GetBlockIo(#460) - BlockIo handle count is: 2\n" + Gpp1Line +
                  (Case.IsGpp1 ? "" : "Not an eMMC hardware partition: passed over.\n" + Gpp1Line));
    UINT8 Record[BoardRecordSize] = {1, 2, 3};
    EXPECT_EQ(WriteGpp1Record(Record), 0u);
    EXPECT_EQ(Device.WriteCalls, Case.IsGpp1 ? 1u : 0u);
    EXPECT_EQ(Gpp1->WriteCalls, Case.IsGpp1 ? 0u : 1u);
  }
}

TEST(GetBlockIo, MalformedPathNodesEndTheWalk) {
  // A zero-length node would loop for ever; a node shorter than a PCI node cannot hold one.
  SimDevicePath ZeroLength, Short, Endless, BadTail;
  ZeroLength.RawNode(ACPI_DEVICE_PATH, ACPI_DP, 0, {}).Pci(28).End();
  Short.RawNode(HARDWARE_DEVICE_PATH, HW_PCI_DP, 5, {0}).End();
  UINT8 Device = 0xAA;
  EXPECT_FALSE(DevicePathPciDevice(ZeroLength.Data(), &Device));
  EXPECT_FALSE(DevicePathPciDevice(Short.Data(), &Device));
  // A path that never ends is walked a bounded number of nodes.
  for (int I = 0; I < 2000; I++)
    Endless.Acpi();
  EXPECT_FALSE(DevicePathPciDevice(Endless.Data(), &Device));
  // The media-node check walks the whole path: a malformed or endless one is no evidence.
  BadTail.Acpi().Pci(28).RawNode(MESSAGING_DEVICE_PATH, MSG_EMMC_DP, 2, {}).End();
  for (SimDevicePath *Path : {&ZeroLength, &Endless, &BadTail})
    EXPECT_FALSE(DevicePathHasNoMediaNode(Path->Data()));
}

TEST(GetBlockIo, FailuresOfTheFirmwareSearch) {
  {
    BareBoard B; // no Block I/O at all
    EXPECT_EQ(GetBlockIo(), nullptr);
    EXPECT_EQ(B.Output(), "ERROR: Cannot Locate BlockIo protocol. Status = Not Found\n");
  }
  {
    BareBoard B;
    SimPlainDisk Other(B.Sim, SimDevicePath().Acpi().Pci(5).End());
    EXPECT_EQ(GetBlockIo(), nullptr);
    EXPECT_EQ(B.Output(), "ERROR: Failed to find partition!\n");
  }
  for (UINT8 Debug : {0, 1}) {
    BareBoard B;
    B.PublishGpp1();
    B.Sim.Handles.FailLookup(nullptr, EfiBlockIoProtocolGuid, EFI_DEVICE_ERROR);
    EXPECT_EQ(Debug ? DebugGetBlockIo() : GetBlockIo(), nullptr);
    EXPECT_EQ(B.Output(), Debug ? "GetBlockIo(#460) - BlockIo handle count is: 1\n"
                                  "Failed to Handle BlockIo Protocol. Status = Device Error\n"
                                : "");
  }
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

TEST(Gpp1Transfers, BlockSizeBelowTheRecordIsRefusedUntouched) {
  for (uint32_t Size : {0u, 128u, 175u}) {
    BareBoard B;
    SimBlockDevice *Dev = B.PublishGpp1(Size);
    UINT8 Record[BoardRecordSize] = {};
    EXPECT_EQ(ReadGpp1Record(Record), 7u);
    EXPECT_EQ(WriteGpp1Record(Record), 7u);
    EXPECT_EQ(Dev->ReadCalls + Dev->WriteCalls, 0u);
    std::string Line = "ERROR: GPP1 block size of " + std::to_string(Size) +
                       " bytes cannot hold the board record!\n";
    EXPECT_EQ(B.Output(), Line + Line);
  }
}

// The device's own reason is named on a line of its own; as an exit status it is passed on
// unless a script would read it as something else (a bad command line, a corrupt record, a
// failed verify).
TEST(Gpp1Transfers, FailedTransfersReportTheDevicesReason) {
  struct Case {
    EFI_STATUS Device;
    uint64_t Tool;
    const char *Named;
  } Cases[] = {{EFI_DEVICE_ERROR, 7, "Device Error"},
               {EFI_NO_MEDIA, 12, "No Media"},
               {EFI_WRITE_PROTECTED, 8, "Write Protected"},
               {EFI_OUT_OF_RESOURCES, 9, "Out of Resources"},
               {EfiErrorBit, 7, "00000000"},
               {EFI_INVALID_PARAMETER, 7, "Invalid Parameter"},
               {EFI_VOLUME_CORRUPTED, 7, "Volume Corrupt"},
               {EFI_CRC_ERROR, 7, "CRC Error"}};
  for (const auto &C : Cases) {
    BareBoard B;
    SimBlockDevice *Dev = B.PublishGpp1();
    Dev->Faults.ReadStatus = C.Device;
    Dev->Faults.WriteStatus = C.Device;
    std::vector<UINT8> Record(BoardRecordSize, 0x5C);
    EXPECT_EQ(ReadGpp1Record(Record.data()), C.Tool) << C.Named;
    EXPECT_EQ(Record, std::vector<UINT8>(BoardRecordSize, 0x5C)); // untouched
    EXPECT_EQ(WriteGpp1Record(Record.data()), C.Tool) << C.Named;
    const std::string Named = std::string("GPP1 device status: ") + C.Named + "\n";
    EXPECT_EQ(B.Output(),
              "ERROR: Failed to read GPP1!\n" + Named + "ERROR: Failed to write GPP1!\n" + Named);
  }
}

// A write counts once the device has flushed it: a failed flush is a failed write. A driver
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
    EXPECT_EQ(WriteGpp1Record(Record.data()), 7u);
    Dev->Faults.FlushStatus = EFI_UNSUPPORTED;
    EXPECT_EQ(WriteGpp1Record(Record.data()), 0u);
    Dev->Interface->FlushBlocks = nullptr;
    EXPECT_EQ(WriteGpp1Record(Record.data()), 0u);
    EXPECT_EQ(B.Output(), "ERROR: Failed to write GPP1!\nGPP1 device status: Device Error\n");
  }
  // Through the whole tool (a failed flush is the fault sweep's): a driver that answers the
  // flush with EFI_UNSUPPORTED is written and verified.
  Board B;
  B.Gpp1().Faults.FlushStatus = EFI_UNSUPPORTED;
  EXPECT_EQ(B.Run({"-w", "-p", "1", "-m", "2"}).Status, 0u);
  EXPECT_EQ(B.Block0()[0], '$');
}

// The buffer handed to the device meets the media's IoAlign, whatever the pool gives; an
// alignment that is no power of two (or beyond any device's) is refused untouched.
TEST(Gpp1Transfers, TheBufferMeetsTheMediasAlignment) {
  for (uint32_t Align : {0u, 1u, 2u, 16u, 64u, 512u, 4096u, 3u, 48u, 0x20000u}) {
    SCOPED_TRACE(Align);
    const bool Refused = Align == 3 || Align == 48 || Align == 0x20000;
    BareBoard B;
    SimBlockDevice *Dev = B.PublishGpp1();
    Dev->Media.IoAlign = Align;
    std::vector<UINT8> Record(BoardRecordSize, 0x3C), Back(BoardRecordSize, 0);
    EXPECT_EQ(WriteGpp1Record(Record.data()), Refused ? 7u : 0u);
    if (Refused) {
      EXPECT_EQ(Dev->ReadCalls + Dev->WriteCalls, 0u);
      EXPECT_EQ(B.Output(), "ERROR: GPP1 asks for a buffer alignment of " + std::to_string(Align) +
                                " bytes, which no buffer can meet!\n");
      continue;
    }
    EXPECT_EQ(ReadGpp1Record(Back.data()), 0u);
    EXPECT_EQ(Back, Record);
  }
}

TEST(Gpp1Transfers, NullBuffersAreInternalErrors) {
  BareBoard B;
  EXPECT_EQ(ReadGpp1Record(nullptr), 2u);
  EXPECT_EQ(WriteGpp1Record(nullptr), 2u); // reported only under --debug
  DebugEnabled = 1;
  EXPECT_EQ(WriteGpp1Record(nullptr), 2u);
  DebugEnabled = 0;
  EXPECT_EQ(B.Output(), "ERROR: [#739] Internal coding error!\n"
                        "ERROR: [#918] Internal coding error!\n");
}

// A damaged list (a block shorter than its header, no end within the bound) leaves the
// protection unknown, which a write must never take for "writable": the tool refuses a write and
// a clear over it before the device is asked, while a read, which does not depend on the flag,
// still runs.
TEST(WriteProtect, TheFirstPlatformBlockDecidesAndADamagedListFailsClosed) {
  constexpr auto W = Gpp1Protection::Writable;
  constexpr auto P = Gpp1Protection::Protected;
  constexpr auto U = Gpp1Protection::Unknown;
  const EFI_GUID OtherGuid = {0xAAAAAAAA, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  std::vector<uint8_t> FlagSet(96, 0);
  FlagSet[89] = 1;
  std::vector<uint8_t> GuidInBody(16 + 96, 1);
  memcpy(GuidInBody.data(), &PlatformInfoHobGuid, 16);
  const auto ExpectChangesRefused = [](void *HobList) {
    Board B;
    PlatformContext.HobList = HobList;
    B.SetBlock0(std::vector<uint8_t>(512, 0x42));
    for (const Args &A : {Args{"-w", "-p", "1", "-m", "2"}, Args{"-c"}}) {
      RunResult R = B.Run(A);
      EXPECT_EQ(R.Status, 8u);
      EXPECT_EQ(R.Output, Expected().Banner + "ERROR: GPP1 write protection is unknown: the "
                                              "firmware's HOB list is damaged!\n");
    }
    EXPECT_EQ(B.Block0(), std::vector<uint8_t>(512, 0x42));
    EXPECT_EQ(B.Gpp1().WriteCalls, 0u);
    EXPECT_EQ(B.Run({"-r"}).Status, 10u);
  };
  using L = SimHobList &;
  const struct {
    const char *Name;
    std::function<void(SimHobList &)> Build;
    Gpp1Protection Expected;
  } Cases[] = {
      // clang-format off
      {"no platform block", [](L H) { H.AddFirmwareBlocks().End(); }, W},
      {"end first", [](L H) { H.End().AddPlatformInfo(1).End(); }, W},
      {"flag 0", [](L H) { H.AddFirmwareBlocks().AddPlatformInfo(0).End(); }, W},
      {"flag 1", [](L H) { H.AddFirmwareBlocks().AddPlatformInfo(1).End(); }, P},
      {"flag FF", [](L H) { H.AddPlatformInfo(0xFF).End(); }, P},
      {"first of two wins (off)", [](L H) { H.AddPlatformInfo(0).AddPlatformInfo(1).End(); }, W},
      {"first of two wins (on)", [](L H) { H.AddPlatformInfo(1).AddPlatformInfo(0).End(); }, P},
      {"other GUID with flag", [&](L H) { H.AddGuid(OtherGuid, FlagSet).End(); }, W},
      {"platform GUID in another type",
       [&](L H) { H.Add(EFI_HOB_TYPE_MEMORY_ALLOCATION, GuidInBody).End(); }, W},
      {"zero-length block stops the walk",
       [](L H) { H.AddRaw(EFI_HOB_TYPE_HANDOFF, 0, {}).AddPlatformInfo(0).End(); }, U},
      {"length below the header, after the firmware's blocks",
       [](L H) { H.AddFirmwareBlocks().AddRaw(3, 7, {}).AddPlatformInfo(0).End(); }, U},
      {"zero-length block after the platform block",
       [](L H) { H.AddPlatformInfo(0).AddRaw(3, 0, {}).End(); }, W},
      {"platform block too short for the flag",
       [](L H) { H.AddGuid(PlatformInfoHobGuid, std::vector<uint8_t>(40, 0)).End(); }, P},
      // clang-format on
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    SimHobList H;
    C.Build(H);
    EXPECT_EQ(Gpp1WriteProtection(H.Data()), C.Expected);
    EXPECT_EQ(IsGpp1WriteProtected(H.Data()), C.Expected != W);
    if (C.Expected == U)
      ExpectChangesRefused(H.Data());
  }
  EXPECT_EQ(Gpp1WriteProtection(nullptr), W);
  EXPECT_FALSE(IsGpp1WriteProtected(nullptr));
  EXPECT_EQ(FindPlatformInfoHob(nullptr), nullptr);
  // 0x10000 blocks of 8 bytes each, all of an uninteresting type, and no end block: walked a
  // bounded number of blocks, and failed closed.
  std::vector<uint8_t> Endless(8 * (MaxHobBlocks + 1), 0);
  for (size_t I = 0; I < Endless.size(); I += 8) {
    Endless[I] = 3;
    Endless[I + 2] = 8;
  }
  EXPECT_EQ(Gpp1WriteProtection(Endless.data()), U);
  ExpectChangesRefused(Endless.data());
}

} // namespace
