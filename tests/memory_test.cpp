// Pool helpers and the byte/string helpers, over the simulated firmware.
#include <gtest/gtest.h>

#include "shell/memory.h"
#include "shell/platform_context.h"
#include "sim/sim_firmware.h"

namespace {

TEST(Memory, PoolBuffersAreZeroedOnRequestFreedAndNullWhenThePoolFails) {
  SimFirmware Sim;
  Sim.InstallInPlatformContext();
  auto *P = static_cast<UINT8 *>(AllocateZeroedBuffer(64));
  ASSERT_NE(P, nullptr);
  for (int I = 0; I < 64; I++)
    EXPECT_EQ(P[I], 0);
  EXPECT_EQ(Sim.LiveAllocations(), 1u);
  FreeBuffer(P);
  EXPECT_EQ(Sim.LiveAllocations(), 0u);
  Sim.FailAllocationNumber(2);
  void *A = AllocateBuffer(8);
  void *B = AllocateZeroedBuffer(8);
  void *C = AllocateBuffer(8);
  EXPECT_NE(A, nullptr);
  EXPECT_EQ(B, nullptr);
  EXPECT_NE(C, nullptr);
  FreeBuffer(A);
  FreeBuffer(C);
  EXPECT_EQ(Sim.LiveAllocations(), 0u);
}

TEST(Memory, CopyBytesHandlesOverlapBothWays) {
  char Up[] = "abcdefgh";
  CopyBytes(Up + 2, Up, 5);
  EXPECT_STREQ(Up, "ababcdeh");
  char Down[] = "abcdefgh";
  CopyBytes(Down, Down + 2, 5);
  EXPECT_STREQ(Down, "cdefgfgh");
  char Same[] = "abc";
  CopyBytes(Same, Same, 3);
  CopyBytes(Same, "xyz", 0);
  EXPECT_STREQ(Same, "abc");
}

TEST(Memory, CompareWideStringsGivesFirstDifference) {
  EXPECT_EQ(CompareWideStrings(u"abc", u"abc"), 0);
  EXPECT_EQ(CompareWideStrings(u"abd", u"abc"), 1);
  EXPECT_EQ(CompareWideStrings(u"ab", u"abc"), -static_cast<INTN>(u'c'));
  EXPECT_EQ(CompareWideStrings(u"\xFFFF", u"\x0001"), 0xFFFE);
}

// The simulated firmware's own promises: the IEEE 802.3 CRC-32, which leaves the result alone on
// empty input, and an error from every slot it does not simulate.
TEST(SimFirmware, CrcIsIeee8023AndUnsimulatedSlotsReturnAnError) {
  SimFirmware Sim;
  UINT32 Crc = 0;
  Sim.BootServices.CalculateCrc32("123456789", 9, &Crc);
  EXPECT_EQ(Crc, 0xCBF43926u);
  Crc = 0x12345678;
  EXPECT_NE(Sim.BootServices.CalculateCrc32("x", 0, &Crc), EFI_SUCCESS);
  EXPECT_EQ(Crc, 0x12345678u);
  auto Fn = reinterpret_cast<EFI_STATUS(EFIAPI *)()>(Sim.BootServices.SetWatchdogTimer);
  EXPECT_EQ(Fn(), EFI_UNSUPPORTED);
}

} // namespace
