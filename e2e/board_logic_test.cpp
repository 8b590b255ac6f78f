// Host tests of the simulated board's pure parts: the eMMC layout must give the tool the
// partition numbers it looks for, the settings text must be read strictly, and the HOB list the
// board publishes must keep the firmware's blocks and carry the write-protect flag where the tool
// reads it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "e2e/board_logic.h"
#include "hosted/firmware.h"
#include "hosted/hob_list.h"

using namespace board;

TEST(EmmcCardLayout, EveryInterfaceYieldsItsPartitionNumberOnDevice28) {
  auto Card = std::make_unique<EmmcCard>(); // zeroed
  InitEmmcCard(Card.get());
  for (UINT8 I = 0; I < EmmcPartitionCount; I++) {
    const EmmcPartitionRecord &Record = Card->Partitions[I];
    EXPECT_EQ(PartitionNumberOf(&Record.BlockIo), I);
    EXPECT_EQ(Record.BlockIo.Media, &Card->Media[I]);
    UINT8 Device = 0;
    ASSERT_TRUE(
        FirstPciDevice(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Record.DevicePath),
                       DevicePathBytes, &Device));
    EXPECT_EQ(Device, EmmcPciDevice);
    const auto Path = DevicePathBuilder().Acpi().Pci(0x1C).Emmc(0).Controller(I).End().Bytes;
    EXPECT_EQ(std::vector<UINT8>(Record.DevicePath, Record.DevicePath + Path.size()), Path);
  }
}

TEST(FirstPciDevice, TakesTheFirstPciNodeAndStopsAtTheEndOrAMalformedNode) {
  UINT8 Device = 0;
  auto Nested = DevicePathBuilder().Acpi().Pci(0x05).Pci(0x1C).End();
  ASSERT_TRUE(FirstPciDevice(Nested.Data(), Nested.Bytes.size(), &Device));
  EXPECT_EQ(Device, 0x05);

  auto NoPci = DevicePathBuilder().Acpi().End();
  EXPECT_FALSE(FirstPciDevice(NoPci.Data(), NoPci.Bytes.size(), &Device));

  // A node that claims no length must not loop or be skipped.
  auto ZeroLength = DevicePathBuilder().RawNode(MEDIA_DEVICE_PATH, 1, 0, {}).Pci(0x1C).End();
  EXPECT_FALSE(FirstPciDevice(ZeroLength.Data(), ZeroLength.Bytes.size(), &Device));

  // A path cut short by the byte limit is not read past it.
  auto Pci = DevicePathBuilder().Pci(0x1C).End();
  EXPECT_FALSE(FirstPciDevice(Pci.Data(), 5, &Device));
}

TEST(BoardSettings, ReadsKeysCommentsAndBlanksAndRejectsAnythingElse) {
  BoardSettings Settings = DefaultBoardSettings;
  UINTN Line = 0;
  const std::string Good = "# board\r\n  gpp1-blocks = 2048  # 1 MiB\n\nwrite-protect=1\n"
                           "gpp1-block-size = 4096\n";
  ASSERT_TRUE(ParseBoardSettings(Good.data(), Good.size(), &Settings, &Line));
  EXPECT_EQ(Settings.Gpp1Blocks, 2048u);
  EXPECT_EQ(Settings.Gpp1BlockSize, 4096u);
  EXPECT_EQ(Settings.WriteProtect, 1);

  Settings = DefaultBoardSettings;
  ASSERT_TRUE(ParseBoardSettings("", 0, &Settings, &Line));
  EXPECT_EQ(Settings.Gpp1Blocks, 0u) << "no disk is named unless the runner names one";
  EXPECT_EQ(Settings.Gpp1BlockSize, 512u);
  EXPECT_EQ(Settings.WriteProtect, 0);

  for (const std::string Bad :
       {"write-protect = 256\n", "gpp1-blocks = 0\n", "write-protect\n", "write-protect = \n",
        "write-protect = 1x\n", "writeprotect = 1\n", "gpp1-blocks = 0x\n",
        "gpp1-blocks = 99999999999999999999999\n", "gpp1-block-size = 256\n",
        "gpp1-block-size = 1536\n", "gpp1-block-size = 8192\n", "gpp1-pci-device = 5\n",
        "write-protect = 99999999999999999999999\n"}) {
    const std::string Text = "# first line\n" + Bad;
    EXPECT_FALSE(ParseBoardSettings(Text.data(), Text.size(), &Settings, &Line)) << Bad;
    EXPECT_EQ(Line, 2u) << Bad;
  }
}

// A firmware-like list: hand-off table (56 bytes), memory and resource blocks (48 each), a GUID
// block of another kind (120), end block.
std::vector<uint8_t> FirmwareList() {
  return HobListBuilder().AddFirmwareBlocks().End().Bytes;
}

TEST(HobList, MeasuresUpToTheEndBlockAndRefusesListsWithoutOne) {
  auto List = FirmwareList();
  UINTN Length = 0;
  ASSERT_TRUE(MeasureHobList(List.data(), List.size(), &Length));
  EXPECT_EQ(Length, 272u);

  // No end block within the limit.
  EXPECT_FALSE(MeasureHobList(List.data(), 272, &Length));
  // A block claiming less than its own header would stall or loop the walk.
  reinterpret_cast<EFI_HOB_GENERIC_HEADER *>(List.data() + 56)->HobLength = 4;
  EXPECT_FALSE(MeasureHobList(List.data(), List.size(), &Length));
}

// With a firmware list, its blocks are kept with the hand-off table pointed at the new end; without
// one, the board's list starts with a hand-off table of its own. Either way the platform block
// with the flag and a new end block follow, and not a byte more is written.
TEST(HobList, BoardListKeepsOrMakesTheHandoffTableAndAddsTheFlagBeforeANewEnd) {
  const auto Firmware = FirmwareList();
  const UINT8 *Original = Firmware.data();
  constexpr UINTN Handoff = sizeof(EFI_HOB_HANDOFF_INFO_TABLE);
  for (const UINTN FirmwareLength : {272, 0}) {
    for (const UINT8 Flag : {0, 1, 0xFF}) {
      SCOPED_TRACE(testing::Message() << "firmware list " << FirmwareLength << ", flag " << +Flag);
      const UINTN Size = BoardHobListSize(FirmwareLength);
      std::vector<UINT64> Out(Size / 8 + 1, 0x5A5A5A5A5A5A5A5AULL);
      auto *Bytes = reinterpret_cast<UINT8 *>(Out.data());
      BuildBoardHobList(FirmwareLength > 0 ? Original : nullptr, FirmwareLength, Flag, Bytes);
      const auto *Table = reinterpret_cast<const EFI_HOB_HANDOFF_INFO_TABLE *>(Bytes);
      if (FirmwareLength > 0) {
        // Unchanged but for the hand-off table's end pointer.
        constexpr UINTN EndPointer = offsetof(EFI_HOB_HANDOFF_INFO_TABLE, EfiEndOfHobList);
        EXPECT_EQ(std::memcmp(Bytes, Original, EndPointer), 0);
        EXPECT_EQ(std::memcmp(Bytes + Handoff, Original + Handoff, FirmwareLength - Handoff), 0);
      } else {
        EXPECT_EQ(Table->Header.HobType, EFI_HOB_TYPE_HANDOFF);
        EXPECT_EQ(Table->Header.HobLength, Handoff);
        EXPECT_EQ(Table->Version, HandoffTableVersion);
        EXPECT_EQ(Table->EfiMemoryTop, 0u);
      }
      const UINTN Prefix = FirmwareLength > 0 ? FirmwareLength : Handoff;
      const UINT8 *Block = Bytes + Prefix;
      EXPECT_EQ(Table->EfiEndOfHobList,
                reinterpret_cast<EFI_PHYSICAL_ADDRESS>(Block + PlatformInfoHobLength));
      const auto *Info = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Block);
      EXPECT_EQ(Info->Header.HobType, EFI_HOB_TYPE_GUID_EXTENSION);
      EXPECT_EQ(Info->Header.HobLength, PlatformInfoHobLength);
      EXPECT_TRUE(GuidsEqual(&Info->Name, &PlatformInfoHobGuid));
      // The tool reads the flag 113 bytes from the block's start; every other data byte is zero.
      for (UINTN I = sizeof(EFI_HOB_GUID_TYPE); I < PlatformInfoHobLength; I++)
        EXPECT_EQ(Block[I], I == 113 ? Flag : 0) << I;
      UINTN Length = 0;
      ASSERT_TRUE(MeasureHobList(Bytes, Size, &Length));
      EXPECT_EQ(Length, Prefix + PlatformInfoHobLength);
      EXPECT_EQ(Bytes[Size], 0x5A) << "wrote past the list";
    }
  }
}
