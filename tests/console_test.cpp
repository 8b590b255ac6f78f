// The console print over the simulated firmware: one pool line per message, released on every
// path, cut at 320 characters, empty messages and failures never shown.
#include <gtest/gtest.h>

#include <string>

#include "shell/console.h"
#include "shell/platform_context.h"
#include "sim/sim_firmware.h"

namespace {

class ConsolePrint : public ::testing::Test {
protected:
  void SetUp() override { Sim.InstallInPlatformContext(); }
  void TearDown() override { EXPECT_EQ(Sim.LiveAllocations(), 0u); }
  SimFirmware Sim;
};

TEST_F(ConsolePrint, ShowsOneMessageWithLineEndsInOneCall) {
  const size_t Before = Sim.AllocationCount;
  EXPECT_EQ(PrintConsole(u"- Writing %a image, %d blocks...\n", "binary", 1), 37u);
  ASSERT_EQ(Sim.ConsoleCalls.size(), 1u);
  EXPECT_TRUE(Sim.ConsoleCalls[0] == u"- Writing binary image, 1 blocks...\r\n");
  EXPECT_EQ(Sim.AllocationCount - Before, 1u);
  EXPECT_EQ(Sim.Calls["FreePool"], 1u);
  EXPECT_EQ(PrintConsole(u"ERROR: %r (%s)\n", EFI_WRITE_PROTECTED, u"GPP1"), 31u);
  EXPECT_EQ(Sim.ConsoleText(), "- Writing binary image, 1 blocks...\r\n"
                               "ERROR: Write Protected (GPP1)\r\n");
}

TEST_F(ConsolePrint, LongMessageIsCutAt320Characters) {
  const std::string Long(400, 'x');
  EXPECT_EQ(PrintConsole(u"%a", Long.c_str()), 320u);
  ASSERT_EQ(Sim.ConsoleCalls.size(), 1u);
  EXPECT_TRUE(Sim.ConsoleCalls[0] == std::u16string(320, u'x'));
  // A line cut short still ends as its format does; what would steer a terminal shows as '?'.
  Sim.ClearConsole();
  PrintConsole(u"%a\n", (std::string("\x1b\x7f") + Long).c_str());
  EXPECT_TRUE(Sim.ConsoleCalls[0] == u"??" + std::u16string(316, u'x') + u"\r\n");
  // Exactly full: all 320 characters, nothing dropped.
  Sim.ClearConsole();
  EXPECT_EQ(PrintConsole(u"%320a", "y"), 320u);
  EXPECT_TRUE(Sim.ConsoleCalls[0] == std::u16string(319, u' ') + u"y");
}

TEST_F(ConsolePrint, EmptyMessageIsNotHandedToTheConsole) {
  EXPECT_EQ(PrintConsole(u"%a", ""), 0u);
  EXPECT_EQ(PrintConsole(u""), 0u);
  EXPECT_TRUE(Sim.ConsoleCalls.empty());
  EXPECT_EQ(Sim.Calls["OutputString"], 0u);
}

TEST_F(ConsolePrint, ConsoleErrorGivesZeroButWarningsDoNot) {
  Sim.ConsoleStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(PrintConsole(u"lost\n"), 0u);
  EXPECT_EQ(Sim.ConsoleCalls.size(), 1u);
  Sim.ConsoleStatus = 1; // a warning: unknown glyph, the text was still shown
  EXPECT_EQ(PrintConsole(u"kept\n"), 6u);
}

TEST_F(ConsolePrint, FailedAllocationShowsNothing) {
  Sim.FailAllocationNumber(1);
  EXPECT_EQ(PrintConsole(u"never shown %d\n", 1), 0u);
  EXPECT_TRUE(Sim.ConsoleCalls.empty());
  EXPECT_EQ(Sim.Calls["FreePool"], 0u);
  // The next message gets its buffer again.
  EXPECT_EQ(PrintConsole(u"shown"), 5u);
  EXPECT_EQ(Sim.ConsoleText(), "shown");
}

TEST_F(ConsolePrint, ExplicitConsoleInstanceOrNoConsoleAtAll) {
  const FormatArg Args[] = {MakeFormatArg(u"slot"), MakeFormatArg(3)};
  EXPECT_EQ(PrintToConsole(u"%s %d", &Sim.ConOut, FormatArgList{Args, 2}), 6u);
  EXPECT_EQ(Sim.ConsoleText(), "slot 3");
  // Without a console a message is still counted.
  Sim.ClearConsole();
  Sim.SystemTable.ConOut = nullptr;
  EXPECT_EQ(PrintConsole(u"nowhere %d\n", 42), 12u);
  EXPECT_EQ(PrintToConsole(u"%d", nullptr, FormatArgList{Args + 1, 1}), 1u);
  EXPECT_TRUE(Sim.ConsoleCalls.empty());
}

} // namespace
