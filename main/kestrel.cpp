#include "main/kestrel.h"

#include "app/tool_main.h"
#include "diag/debug_message.h"
#include "diag/debug_uart_init.h"
#include "shell/boot_arguments.h"
#include "shell/console.h"
#include "shell/platform_context.h"
#include "shell/shell_connection.h"
#include "shell/shell_file_ops.h"

namespace {

// A run the boot manager started keeps its outcome on the screen this long by default: a person
// at the board reads it, an unattended station gives --wait 0.
constexpr UINT32 DefaultBootWaitSeconds = 10;
constexpr UINTN KeyPollMicroseconds = 10000;
constexpr UINTN MicrosecondsPerSecond = 1000000;

// Waits Seconds, or until a key is pressed; a firmware without a keyboard or a clock ends it at
// once rather than hanging.
VOID WaitForKeyOrTime(UINT32 Seconds) {
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Keys = PlatformContext.SystemTable->ConIn;
  EFI_BOOT_SERVICES *Bs = PlatformContext.BootServices;
  if (Seconds == 0 || Keys == nullptr || Keys->ReadKeyStroke == nullptr)
    return;
  PrintConsole(u"Press a key to go on, or wait %d seconds.\n", static_cast<int>(Seconds));
  const UINTN Polls = static_cast<UINTN>(Seconds) * (MicrosecondsPerSecond / KeyPollMicroseconds);
  for (UINTN I = 0; I < Polls; I++) {
    EFI_INPUT_KEY Key;
    if (!EFI_ERROR(Keys->ReadKeyStroke(Keys, &Key)) || EFI_ERROR(Bs->Stall(KeyPollMicroseconds)))
      return;
  }
}

// How the run ends once the tool is done: the outcome in one line when no shell shows the status,
// the wait, then a return to whoever started the image, or a reset or power-off of the board (a
// station's next board). ResetSystem does not come back; a firmware without it returns.
VOID EndRun(const RunResult &Result, bool FromBootManager) {
  const RunEnding &Ending = Result.Ending;
  if (FromBootManager)
    PrintConsole(u"Kestrel.efi ended with status 0x%lx: %a.\n", static_cast<UINT64>(Result.Status),
                 Result.Reason);
  WaitForKeyOrTime(Ending.WaitGiven  ? Ending.WaitSeconds
                   : FromBootManager ? DefaultBootWaitSeconds
                                     : 0);
  EFI_RUNTIME_SERVICES *Rt = PlatformContext.SystemTable->RuntimeServices;
  if (Ending.Then == RunEnd::Return || Rt == nullptr || Rt->ResetSystem == nullptr)
    return;
  Rt->ResetSystem(Ending.Then == RunEnd::Reset ? EfiResetCold : EfiResetShutdown, EFI_SUCCESS, 0,
                  nullptr);
}

// The tool with Argc and Argv, and how its run ends. A boot manager that a start returns an error
// to goes on to its next boot option, which may be this stick again: a second run, and a second
// line in the log, for one power-on. Once the outcome is shown on the screen and in the log, the
// boot manager is told the start succeeded; a shell gets the tool's own status.
UINT64 RunAndEnd(UINTN Argc, CHAR16 **Argv, bool FromBootManager) {
  ToolRequest Request;
  ParseToolRequest(Argc, Argv, &Request);
  const RunResult Result = ToolMain(Request);
  EndRun(Result, FromBootManager);
  return FromBootManager ? EFI_SUCCESS : Result.Status;
}

// The tool with the arguments of the shell interface Guid (a Shell type with Argc and Argv) on the
// image handle, when it is there: false when it is not.
template <typename Shell>
bool RunWithShellArguments(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                           const EFI_GUID &Guid, UINT64 *Result) {
  EFI_BOOT_SERVICES *Bs = SystemTable->BootServices;
  Shell *Arguments = nullptr;
  if (EFI_ERROR(Bs->OpenProtocol(ImageHandle, &Guid, reinterpret_cast<VOID **>(&Arguments),
                                 ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL)))
    return false;
  *Result = RunAndEnd(Arguments->Argc, Arguments->Argv, false);
  Bs->CloseProtocol(ImageHandle, &Guid, ImageHandle, nullptr);
  return true;
}

} // namespace

EFI_STATUS SetUpEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // 1. The debug port comes first so that everything after it can report.
  InitDebugUart();
  // 2. The firmware's tables and its HOB list.
  SetUpPlatformContext(SystemTable);
  // 3. The shell. Without a UEFI Shell 2.0 pair the EFI 1.1 environment is searched for; why it
  // was not found goes down the debug channel, the one report the start-up makes there.
  EFI_STATUS EnvironmentStatus = EFI_SUCCESS;
  EFI_STATUS Status = ConnectShell(ImageHandle, &EnvironmentStatus);
  // The line shows the status's low 32 bits, as "%08x" reads them.
  if (EFI_ERROR(EnvironmentStatus))
    EmitDebugMessage(DebugLevelError, "Status: 0x%08x\r\n", static_cast<UINT32>(EnvironmentStatus));
  return Status;
}

UINT64 RunFromArgumentSource(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // UEFI Shell 2.0 hands the arguments over in the parameters protocol; it wins over the EFI 1.1
  // shell interface when both are present. The connection holds them open already; this second
  // open is kept on purpose (see docs/kept-on-purpose.md). The opens are given back once the tool
  // has run so that the firmware's open records do not outlive the image.
  UINT64 Result = 0;
  if (RunWithShellArguments<EFI_SHELL_PARAMETERS_PROTOCOL>(
          ImageHandle, SystemTable, EfiShellParametersProtocolGuid, &Result) ||
      RunWithShellArguments<EFI_SHELL_INTERFACE>(ImageHandle, SystemTable,
                                                 ShellInterfaceProtocolGuid, &Result))
    return Result;
  // No shell: the boot manager started the image, with a boot entry's optional data as its load
  // options or with the arguments file beside it. Its files are on its own volume, named from
  // the root, as under the EFI 1.1 shell.
  BootArguments Boot;
  const BootArgumentSource Source = ReadBootArguments(ImageHandle, &Boot);
  if (Source == BootArgumentSource::None)
    return NoArgumentSourceStatus;
  FillShellFileOps(nullptr);
  if (Source == BootArgumentSource::Refused) {
    // An arguments file that is there but is not one command line is said, never ignored; it
    // ends as a start by the boot manager ends, with nothing it asked for trusted.
    ToolRequest Request;
    ParseToolRequest(Boot.Argc, Boot.Argv, &Request);
    EndRun(RefuseArgumentsFile(Boot.File, Boot.Fault, Request), true);
    return EFI_SUCCESS;
  }
  return RunAndEnd(Boot.Argc, Boot.Argv, true);
}

EFI_STATUS AppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  SetUpEnvironment(ImageHandle, SystemTable);
  UINT64 Result = RunFromArgumentSource(ImageHandle, SystemTable);
  // 4. The tear-down: every protocol the connection opened is closed again.
  DisconnectShell(ImageHandle);
  return Result;
}
