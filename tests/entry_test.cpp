// The application's entry under both shells: where the arguments come from, which file
// operations are used, the exit status, and that everything opened is closed again.
#include <gtest/gtest.h>

#include "main/kestrel.h"
#include "shell/platform_context.h"
#include "shell/shell_connection.h"
#include "shell/shell_file_ops.h"
#include "sim/sim_shell.h"
#include "tests/support/board_fixture.h"
#include "tests/support/diag_board.h"
#include "tests/support/expected_texts.h"

namespace {

// A board whose debug UART is on and whose level selector lets error messages through.
struct DebugBoard {
  SimHardware Hw;
  SimUart &Uart;
  DebugBoard() : Uart(diagboard::AddWorkingDebugUart(Hw)) { diagboard::AddLevelSelector(Hw, 1); }
};

// UEFI Shell 2.0, its protocol on the image or found only through LocateProtocol. The start-up
// programs the debug UART first and has nothing to report there. The tear-down closes the shell
// protocol on the image even where it was located elsewhere; that close has no open to match and
// is ignored.
TEST(AppEntry, Shell20WithBothProtocolsRunsTheToolWithItsArguments) {
  for (auto Placement : {ShellProtocolPlacement::OnImage, ShellProtocolPlacement::ElsewhereOnly}) {
    SCOPED_TRACE(static_cast<int>(Placement));
    DebugBoard Debug;
    Board B;
    HostedShell20 Shell(B.Sim, B.Sim.ImageHandle, {"Kestrel.efi", "-h"}, Placement);
    EXPECT_EQ(AppEntry(B.Sim.ImageHandle, &B.Sim.SystemTable), EFI_SUCCESS);
    EXPECT_EQ(Unix(B.Sim.ConsoleText()).rfind(Expected().Banner, 0), 0u);
    EXPECT_EQ(ShellFileOps.ReadFile, Shell.Protocol.ReadFile);
    EXPECT_EQ(ShellFileOps.GetFileSize, Shell.Protocol.GetFileSize);
    EXPECT_EQ(ShellFileOps.CloseFile, Shell.Protocol.CloseFile);
    EXPECT_EQ(PlatformContext.HobList, B.Hobs.Data());
    EXPECT_EQ(Debug.Uart.Transmitted, "");
    EXPECT_EQ(Debug.Uart.Lcr, 0x03);
    EXPECT_EQ(Leftovers(B.Sim), "");
    EXPECT_EQ(B.Sim.Handles.UnmatchedCloses,
              Placement == ShellProtocolPlacement::ElsewhereOnly ? 1u : 0u);
  }
}

// The EFI 1.1 environment: the one on the image, or else the first in the environment-2 form on
// a handle of its own, whose file functions are the fallbacks over the file protocol. Without
// one (none in that form, or no memory for the handle search) there is no shell, and the reason
// goes to the debug port.
TEST(AppEntry, Efi11EnvironmentSearch) {
  using enum EnvironmentPlacement;
  struct {
    EnvironmentPlacement Placement;
    std::vector<bool> Env2Forms;
    size_t FailAllocation; // 1-based number of the pool allocation that fails; 0: none
    EFI_STATUS Status;
    int Found; // the environment connected, -1 none
    std::string Debug;
  } Rows[] = {
      {OnImage, {true}, 0, EFI_SUCCESS, 0, ""},
      {OnOtherHandles, {false, true, true}, 0, EFI_SUCCESS, 1, ""},
      {OnOtherHandles, {false, false}, 0, EFI_NOT_FOUND, -1, "Status: 0x0000000E\r\n"},
      {OnOtherHandles, {true}, 1, EFI_NOT_FOUND, -1, "Status: 0x00000009\r\n"},
  };
  for (const auto &R : Rows) {
    SCOPED_TRACE(R.Debug + std::to_string(R.Env2Forms.size()));
    DebugBoard Debug;
    Board B;
    SimShell11 Shell(B.Sim, B.Sim.ImageHandle, {"Kestrel.efi", "-R"}, R.Placement, R.Env2Forms);
    if (R.FailAllocation != 0)
      B.Sim.FailAllocationNumber(R.FailAllocation);
    EXPECT_EQ(SetUpEnvironment(B.Sim.ImageHandle, &B.Sim.SystemTable), R.Status);
    EXPECT_EQ(ShellConnection.ShellEnvironment,
              R.Found < 0 ? nullptr : Shell.Environments[R.Found].get());
    EXPECT_EQ(ShellConnection.ShellEnvironmentHandle,
              R.Found < 0 || R.Placement == OnImage ? nullptr : Shell.EnvironmentHandles[R.Found]);
    // On the image no handle search is needed.
    EXPECT_EQ(B.Sim.Calls["LocateHandle"] == 0, R.Placement == OnImage);
    EXPECT_EQ(Debug.Uart.Transmitted, R.Debug);
    if (R.Status == EFI_SUCCESS) {
      EXPECT_EQ(ShellFileOps.ReadFile, &FileFallback::ReadFile);
      EXPECT_EQ(RunFromArgumentSource(B.Sim.ImageHandle, &B.Sim.SystemTable), 0u);
    }
    DisconnectShell(B.Sim.ImageHandle);
    EXPECT_EQ(Leftovers(B.Sim), "");
    EXPECT_EQ(B.Sim.Handles.UnmatchedCloses, 0u); // closed on the handle it was opened on
  }
}

// Both shells on the image: the 2.0 parameters win over the 1.1 interface's arguments; without
// them the 1.1 interface's are used, and the 2.0 protocol's file functions all the same.
TEST(AppEntry, BothShellsOnTheImage) {
  for (bool WithParameters : {true, false}) {
    SCOPED_TRACE(WithParameters);
    Board B;
    HostedShell20 Shell20(B.Sim, B.Sim.ImageHandle, {"Kestrel.efi", "-w"},
                          ShellProtocolPlacement::OnImage, WithParameters);
    SimShell11 Shell11(B.Sim, B.Sim.ImageHandle, {"Kestrel.efi", "-h"},
                       EnvironmentPlacement::OnImage);
    EXPECT_EQ(SetUpEnvironment(B.Sim.ImageHandle, &B.Sim.SystemTable), EFI_SUCCESS);
    EXPECT_EQ(ShellFileOps.FlushFile, Shell20.Protocol.FlushFile);
    EXPECT_EQ(RunFromArgumentSource(B.Sim.ImageHandle, &B.Sim.SystemTable),
              WithParameters ? 2u : 0u);
    DisconnectShell(B.Sim.ImageHandle);
    EXPECT_EQ(Leftovers(B.Sim), "");
  }
}

TEST(AppEntry, NoArgumentSourceGivesAllOnesWithoutRunningTheTool) {
  Board B;
  EXPECT_EQ(AppEntry(B.Sim.ImageHandle, &B.Sim.SystemTable), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(B.Sim.ConsoleText(), "");
  EXPECT_EQ(Leftovers(B.Sim), "");
}

// Started by the boot manager, without a shell: the command line from the load options when
// they are text (a first word naming the image passed over), else from kestrel.args beside the
// image, UTF-8 or UCS-2; with neither the image returns all ones and says nothing. The run ends
// with its outcome in a line, waits (10 s, --wait's seconds, or to a key) and then returns,
// resets or powers off; its --log is on the image's volume. The boot manager is told the start
// succeeded once the outcome is shown, so that it does not go on to start the stick again.
TEST(AppEntry, WithoutAShellTheBootManagersCommandLine) {
  const auto Ucs2 = [](const std::u16string &Text) {
    std::vector<uint8_t> Bytes;
    for (char16_t C : Text + u'\0')
      Bytes.insert(Bytes.end(), {static_cast<uint8_t>(C), static_cast<uint8_t>(C >> 8)});
    return Bytes;
  };
  const std::vector<uint8_t> Tag = {0x41, 0x92, 0xe5, 0x3a, 0x11, 0x7c, 0x4f, 0x8b,
                                    0x9c, 0x2d, 0x60, 0x05, 0x1e, 0xa7, 0xb3, 0x48};
  const std::string Ok = "Kestrel.efi ended with status 0x0: ok.";
  const std::string Refused =
      "Kestrel.efi ended with status 0x2: arguments file refused, nothing written.";
  const auto Bytes = [](const std::string &Text) {
    return std::vector<uint8_t>(Text.begin(), Text.end());
  };
  std::vector<uint8_t> Utf8Bom = {0xEF, 0xBB, 0xBF};
  const std::string Args = "-r --wait 2\r\n\n";
  Utf8Bom.insert(Utf8Bom.end(), Args.begin(), Args.end());
  std::vector<uint8_t> Wide = {0xFF, 0xFE};
  for (char16_t C : std::u16string(u"-r --then off --wait 5"))
    Wide.insert(Wide.end(), {static_cast<uint8_t>(C), static_cast<uint8_t>(C >> 8)});
  const struct {
    std::vector<uint8_t> Options, File; // load options; kestrel.args (empty: none)
    uint64_t KeyAt, Status, Waited;
    std::string Says; // a line of the output, or "" for no output at all
    std::vector<EFI_RESET_TYPE> Resets = {};
    std::u16string Typed = u""; // at the console
  } Rows[] = {
      // A station's stick: the values typed at the prompts, one refused and asked again.
      {Ucs2(u"--wait 0 --then off --provision"),
       {},
       0,
       0,
       0,
       "   PASS: provision of 12345678: ok (status 0x0)",
       {EfiResetShutdown},
       u"12 345\r12345678\r\n09876\r\n\r"},
      {Ucs2(u"\\EFI\\BOOT\\BOOTX64.EFI -w -p \"A B\" -m 2^\"3 --wait 0"),
       {},
       0,
       0,
       0,
       "- Verifying binary image..."},
      {Ucs2(u"-w -p 1 -m 2 -c --then reset"),
       {},
       0,
       0,
       10'000'000,
       "Kestrel.efi ended with status 0x2: bad arguments.",
       {EfiResetCold}},
      {Ucs2(u"-r --wait 0 --log run.log"), {}, 0, 0, 0, Ok},
      {Ucs2(u"-r --wait 0 --then sideways"),
       {},
       0,
       0,
       0,
       "ERROR: --then takes return, reset or off!"},
      {Tag, Utf8Bom, 0, 0, 2'000'000, "Press a key to go on, or wait 2 seconds."},
      {{}, Wide, 1'000'000, 0, 1'000'000, Ok, {EfiResetShutdown}},
      {Tag, {}, 0, ~0ull, 0, ""},
      // An arguments file that is no one command line is refused aloud, and logged where its
      // first line says.
      {{}, {'-', 'r', 0xC0, 0xAF}, 0, 0, 10'000'000, Refused},
      {{}, Bytes("-r --log run.log --wait 0\r\n-c\r\n"), 0, 0, 10'000'000, Refused},
      {{}, Bytes(std::string("-r\0-c", 5)), 0, 0, 10'000'000, Refused},
      {{}, Bytes("-r" + std::string(4100, ' ')), 0, 0, 10'000'000, Refused},
  };
  for (const auto &R : Rows) {
    SCOPED_TRACE(R.Says);
    Board B;
    SimVolume Stick(B.Sim);
    Stick.LoadImageFrom(B.Sim.ImageHandle);
    auto *Image = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(
        B.Sim.Handles.Find(B.Sim.ImageHandle, EfiLoadedImageProtocolGuid));
    std::vector<uint8_t> File = {'\\', 0, 'E',  0, 'F', 0, 'I', 0, '\\', 0, 'B', 0, 'O', 0, 'O', 0,
                                 'T',  0, '\\', 0, 'X', 0, '.', 0, 'E',  0, 'F', 0, 'I', 0};
    DevicePathBuilder Path;
    Path.Node(MEDIA_DEVICE_PATH, 4, File).End();
    Image->FilePath = Path.Data();
    Image->LoadOptions = const_cast<uint8_t *>(R.Options.data());
    Image->LoadOptionsSize = static_cast<UINT32>(R.Options.size());
    if (!R.File.empty())
      Stick.Files[u"EFI\\BOOT\\kestrel.args"] = R.File;
    B.Sim.KeyAt = R.KeyAt;
    B.Sim.Type(R.Typed);
    EXPECT_EQ(AppEntry(B.Sim.ImageHandle, &B.Sim.SystemTable), R.Status);
    const std::string Output = Unix(B.Sim.ConsoleText());
    if (R.Says.empty())
      EXPECT_EQ(Output, "");
    else
      EXPECT_NE(Output.find("\n" + R.Says + "\n"), std::string::npos) << Output;
    EXPECT_EQ(B.Sim.Microseconds, R.Waited);
    EXPECT_EQ(B.Sim.Resets, R.Resets);
    EXPECT_EQ(Leftovers(B.Sim), "");
    const std::vector<uint8_t> Block = B.Block0();
    if (R.Says == "- Verifying binary image...")
      EXPECT_EQ(std::string(Block.begin() + 80, Block.begin() + 84), "A B ");
    if (!R.Typed.empty())
      EXPECT_EQ(B.Sim.ErrorText(), "Pylon serial: 12 345\r\nPylon serial: 12345678\r\nMM: 09876\r\n"
                                   "Sandrel serial (Enter for none): \r\n");
    const std::string Text(R.File.begin(), R.File.end());
    const bool Logged = (R.Says == Ok && R.KeyAt == 0) || Text.find("--log") != std::string::npos;
    EXPECT_EQ(Stick.Files.count(u"run.log"), Logged ? 1u : 0u);
  }
}

TEST(AppEntry, NoHobListLeavesItNullAndWritesAllowed) {
  SimFirmware Sim;
  MemoryBackend Medium(2048);
  SimEmmcCard Card(Sim);
  Card.PublishAll(&Medium);
  int Other = 0;
  Sim.AddConfigurationTable(EFI_GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, &Other);
  HostedShell20 Shell(Sim, Sim.ImageHandle, {"Kestrel.efi", "-c"});
  EXPECT_EQ(AppEntry(Sim.ImageHandle, &Sim.SystemTable), 0u);
  EXPECT_EQ(PlatformContext.HobList, nullptr);
}

// The EFI 1.1 shell's file functions over a file on a FAT volume.
TEST(ShellFileOps, FallbacksForwardToTheFileAndCheckArguments) {
  SimFirmware Sim;
  Sim.InstallInPlatformContext();
  SimVolume Stick(Sim);
  Stick.Files[u"gpp1.bin"] = std::vector<uint8_t>(300, 7);
  SHELL_FILE_HANDLE H = Stick.Open(u"gpp1.bin");
  UINT64 Size = 0;
  EXPECT_EQ(FileFallback::GetFileSize(H, &Size), EFI_SUCCESS);
  EXPECT_EQ(Size, 300u);
  EFI_FILE_INFO *Info = FileFallback::GetFileInfo(H);
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(std::u16string(Info->FileName), u"gpp1.bin");
  EXPECT_EQ(FileFallback::SetFileInfo(H, Info), EFI_SUCCESS);
  Sim.BootServices.FreePool(Info);
  UINT8 Buffer[16];
  UINTN Len = sizeof(Buffer);
  EXPECT_EQ(FileFallback::ReadFile(H, &Len, Buffer), EFI_SUCCESS);
  EXPECT_EQ(FileFallback::SetFilePosition(H, 5), EFI_SUCCESS);
  UINT64 Pos = 0;
  EXPECT_EQ(FileFallback::GetFilePosition(H, &Pos), EFI_SUCCESS);
  EXPECT_EQ(Pos, 5u);
  EXPECT_EQ(FileFallback::WriteFile(H, &Len, Buffer), EFI_SUCCESS);
  EXPECT_EQ(FileFallback::FlushFile(H), EFI_SUCCESS);

  EXPECT_EQ(FileFallback::GetFileInfo(nullptr), nullptr);
  EXPECT_EQ(FileFallback::ReadFile(nullptr, &Len, Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FileFallback::SetFileInfo(H, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FileFallback::GetFilePosition(H, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FileFallback::GetFileSize(H, nullptr), EFI_INVALID_PARAMETER);
  // A size is given only from a whole record: not when GetInfo fails, nor when it asks for a
  // record too small for its fixed part (which is refused rather than read past its end), nor
  // when there is no pool for the record; and nothing stays allocated.
  const auto GetInfo = H->GetInfo;
  H->GetInfo = [](EFI_FILE_PROTOCOL *, const EFI_GUID *, UINTN *, VOID *)
                   EFIAPI { return EFI_DEVICE_ERROR; };
  EXPECT_EQ(FileFallback::GetFileSize(H, &Size), EFI_DEVICE_ERROR);
  H->GetInfo = [](EFI_FILE_PROTOCOL *, const EFI_GUID *, UINTN *Needed, VOID *) EFIAPI {
    *Needed = 8;
    return EFI_BUFFER_TOO_SMALL;
  };
  EXPECT_EQ(FileFallback::GetFileSize(H, &Size), EFI_DEVICE_ERROR);
  H->GetInfo = GetInfo;
  Sim.FailAllocationNumber(1);
  EXPECT_EQ(FileFallback::GetFileSize(H, &Size), EFI_DEVICE_ERROR);
  EXPECT_EQ(Size, 300u);
  EXPECT_EQ(FileFallback::CloseFile(H), EFI_SUCCESS);
  EXPECT_EQ(FileFallback::DeleteFile(Stick.Open(u"gpp1.bin")), EFI_SUCCESS);
  EXPECT_TRUE(Stick.Files.empty());
  EXPECT_EQ(Stick.OpenHandles, 0u);
  EXPECT_EQ(Sim.LiveAllocations(), 0u);
}

} // namespace
