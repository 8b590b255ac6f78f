// Finding GPP1 among the Block I/O handles, one-block transfers and the write-protect flag.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/board_record.h"
#include "app/gpp1.h"
#include "shell/platform_context.h"
#include "tests/support/board_fixture.h"

namespace {

// A board whose handles are laid out by each test.
struct BareBoard {
  SimFirmware Sim;
  SimMemoryBackend Gpp1{4096};
  SimEmmcCard Card{Sim};
  BareBoard() { Sim.InstallInPlatformContext(); }
  std::string Output() { return Unix(Sim.ConsoleText()); }
};

TEST(GetBlockIo, DebugShowsEachDevice28PartitionUpToGpp1) {
  BareBoard B;
  SimPlainDisk Other(B.Sim, SimDevicePath().Acpi().Pci(5).End());
  B.Card.Publish(0);
  B.Card.Publish(3);
  SimBlockDevice *Gpp1 = B.Card.Publish(4, &B.Gpp1);
  B.Card.Publish(5);
  DebugEnabled = 1;
  EXPECT_EQ(GetBlockIo(), Gpp1->Interface);
  DebugEnabled = 0;
  EXPECT_EQ(B.Output(), "GetBlockIo(#460) - BlockIo handle count is: 5\n"
                        "Get eMMC Partition number is: 0\n"
                        "Get eMMC Partition number is: 3\n"
                        "Get eMMC Partition number is: 4\n");
  EXPECT_EQ(B.Sim.LiveAllocations(), 0u);
}

TEST(GetBlockIo, OnlyTheFirstPciNodeDecidesAndPathlessHandlesArePassedOver) {
  BareBoard B;
  SimBlockDevice *Part0 = B.Card.Publish(0);
  (void)Part0;
  // Partition 4 of the card but without a device path: no device number.
  B.Card.Publish(4, &B.Gpp1, 512, /*WithPath=*/false);
  // A bridge on device 3 with the eMMC behind it on device 28: the first PCI node is 3.
  SimPlainDisk Behind(B.Sim, SimDevicePath().Acpi().Pci(3).Pci(28).End());
  // A path with no PCI node at all.
  SimPlainDisk NoPci(B.Sim, SimDevicePath().Acpi().End());
  DebugEnabled = 1;
  EXPECT_EQ(GetBlockIo(), nullptr);
  DebugEnabled = 0;
  EXPECT_EQ(B.Output(), "GetBlockIo(#460) - BlockIo handle count is: 4\n"
                        "Get eMMC Partition number is: 0\n"
                        "ERROR: Failed to find partition!\n");
}

TEST(GetBlockIo, MalformedPathNodesEndTheWalk) {
  // A zero-length node would loop for ever; a node shorter than a PCI node cannot hold one.
  SimDevicePath ZeroLength;
  ZeroLength.RawNode(ACPI_DEVICE_PATH, ACPI_DP, 0, {}).Pci(28).End();
  UINT8 Device = 0xAA;
  EXPECT_FALSE(DevicePathPciDevice(ZeroLength.Data(), &Device));
  SimDevicePath Short;
  Short.RawNode(HARDWARE_DEVICE_PATH, HW_PCI_DP, 5, {0}).End();
  EXPECT_FALSE(DevicePathPciDevice(Short.Data(), &Device));
  SimDevicePath Good;
  Good.Acpi().Pci(28, 3).Pci(5).End();
  EXPECT_TRUE(DevicePathPciDevice(Good.Data(), &Device));
  EXPECT_EQ(Device, 28);
  // A path that never ends is walked a bounded number of nodes.
  SimDevicePath Endless;
  for (int I = 0; I < 2000; I++)
    Endless.Acpi();
  EXPECT_FALSE(DevicePathPciDevice(Endless.Data(), &Device));
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
    B.Card.Publish(4, &B.Gpp1);
    B.Sim.Handles.FailLookup(nullptr, EfiBlockIoProtocolGuid, EFI_DEVICE_ERROR);
    DebugEnabled = Debug;
    EXPECT_EQ(GetBlockIo(), nullptr);
    DebugEnabled = 0;
    EXPECT_EQ(B.Output(), Debug ? "GetBlockIo(#460) - BlockIo handle count is: 1\n"
                                  "Failed to Handle BlockIo Protocol. Status = Device Error\n"
                                : "");
    EXPECT_EQ(B.Sim.LiveAllocations(), 0u);
  }
}

TEST(EmmcPartitionNumber, ReadsTheDriversPrivateRecord) {
  BareBoard B;
  for (UINT8 P = 0; P < SimEmmcPartitionCount; P++)
    B.Card.Publish(P);
  for (UINT8 P = 0; P < SimEmmcPartitionCount; P++)
    EXPECT_EQ(EmmcPartitionNumber(B.Card.Device(P)->Interface), P);
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
    SimBlockDevice *Dev = B.Card.Publish(4, &B.Gpp1, Size);
    UINT8 Record[BoardRecordSize] = {};
    EXPECT_EQ(ReadGpp1Record(Record), 7u);
    EXPECT_EQ(WriteGpp1Record(Record), 7u);
    EXPECT_EQ(Dev->ReadCalls + Dev->WriteCalls, 0u);
    EXPECT_EQ(B.Sim.LiveAllocations(), 0u);
    std::string Line = "ERROR: GPP1 block size of " + std::to_string(Size) +
                       " bytes cannot hold the board record!\n";
    EXPECT_EQ(B.Output(), Line + Line);
  }
}

TEST(Gpp1Transfers, FailedTransfersReportTheDevicesReason) {
  struct Case {
    EFI_STATUS Device;
    uint64_t Tool;
  } Cases[] = {{EFI_DEVICE_ERROR, 7}, {EFI_NO_MEDIA, 12}, {EFI_WRITE_PROTECTED, 8},
               {EfiErrorBit, 7}};
  for (const auto &C : Cases) {
    BareBoard B;
    SimBlockDevice *Dev = B.Card.Publish(4, &B.Gpp1);
    Dev->Faults.ReadStatus = C.Device;
    Dev->Faults.WriteStatus = C.Device;
    std::vector<UINT8> Record(BoardRecordSize, 0x5C);
    EXPECT_EQ(ReadGpp1Record(Record.data()), C.Tool);
    EXPECT_EQ(Record, std::vector<UINT8>(BoardRecordSize, 0x5C)); // untouched
    EXPECT_EQ(WriteGpp1Record(Record.data()), C.Tool);
    EXPECT_EQ(B.Output(), "ERROR: Failed to read GPP1!\nERROR: Failed to write GPP1!\n");
    EXPECT_EQ(B.Sim.LiveAllocations(), 0u);
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

struct HobCase {
  const char *Name;
  std::function<void(SimHobList &)> Build;
  bool Protected;
};

TEST(WriteProtect, TheFirstPlatformBlockDecides) {
  const EFI_GUID OtherGuid = {0xAAAAAAAA, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  std::vector<uint8_t> FlagSet(96, 0);
  FlagSet[89] = 1;
  const HobCase Cases[] = {
      {"no platform block", [](SimHobList &H) { H.AddFirmwareBlocks().End(); }, false},
      {"end first", [](SimHobList &H) { H.End().AddPlatformInfo(1).End(); }, false},
      {"flag 0", [](SimHobList &H) { H.AddFirmwareBlocks().AddPlatformInfo(0).End(); }, false},
      {"flag 1", [](SimHobList &H) { H.AddFirmwareBlocks().AddPlatformInfo(1).End(); }, true},
      {"flag FF", [](SimHobList &H) { H.AddPlatformInfo(0xFF).End(); }, true},
      {"first of two wins (off)", [](SimHobList &H) { H.AddPlatformInfo(0).AddPlatformInfo(1).End(); }, false},
      {"first of two wins (on)", [](SimHobList &H) { H.AddPlatformInfo(1).AddPlatformInfo(0).End(); }, true},
      {"other GUID with flag", [&](SimHobList &H) { H.AddGuid(OtherGuid, FlagSet).End(); }, false},
      {"platform GUID in another type",
       [](SimHobList &H) {
         std::vector<uint8_t> Body(16 + 96, 1);
         memcpy(Body.data(), &PlatformInfoHobGuid, 16);
         H.Add(EFI_HOB_TYPE_MEMORY_ALLOCATION, Body).End();
       },
       false},
      {"zero-length block stops the walk",
       [](SimHobList &H) { H.AddRaw(EFI_HOB_TYPE_HANDOFF, 0, {}).AddPlatformInfo(1).End(); }, false},
      {"length below the header", [](SimHobList &H) { H.AddRaw(3, 7, {}).AddPlatformInfo(1).End(); }, false},
      {"platform block too short for the flag",
       [](SimHobList &H) { H.AddGuid(PlatformInfoHobGuid, std::vector<uint8_t>(40, 0)).End(); }, true},
  };
  for (const auto &C : Cases) {
    SimHobList H;
    C.Build(H);
    EXPECT_EQ(IsGpp1WriteProtected(H.Data()), C.Protected) << C.Name;
  }
  EXPECT_FALSE(IsGpp1WriteProtected(nullptr));
  EXPECT_EQ(FindPlatformInfoHob(nullptr), nullptr);
}

TEST(WriteProtect, AListWithoutAnEndIsWalkedABoundedNumberOfBlocks) {
  // 0x10000 blocks of 8 bytes each, all of an uninteresting type, and no end block.
  std::vector<uint8_t> Endless(8 * (MaxHobBlocks + 1), 0);
  for (size_t I = 0; I < Endless.size(); I += 8) {
    Endless[I] = 3;
    Endless[I + 2] = 8;
  }
  EXPECT_FALSE(IsGpp1WriteProtected(Endless.data()));
}

} // namespace
