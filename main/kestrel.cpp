#include "main/kestrel.h"

#include "app/command_line.h"
#include "diag/debug_message.h"
#include "diag/debug_uart_init.h"
#include "shell/platform_context.h"
#include "shell/shell_connection.h"

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

UINT64 RunToolMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *Bs = SystemTable->BootServices;
  // UEFI Shell 2.0 hands the arguments over in the parameters protocol; it wins over the EFI 1.1
  // shell interface when both are present. The connection holds them open already; this second
  // open is kept on purpose (see docs/kept-on-purpose.md). The opens are given back once the tool
  // has run so that the firmware's open records do not outlive the image.
  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters = nullptr;
  if (!EFI_ERROR(Bs->OpenProtocol(ImageHandle, &EfiShellParametersProtocolGuid,
                                  reinterpret_cast<VOID **>(&Parameters), ImageHandle, nullptr,
                                  EFI_OPEN_PROTOCOL_GET_PROTOCOL))) {
    UINT64 Result = ToolMain(Parameters->Argc, Parameters->Argv);
    Bs->CloseProtocol(ImageHandle, &EfiShellParametersProtocolGuid, ImageHandle, nullptr);
    return Result;
  }
  EFI_SHELL_INTERFACE *Interface = nullptr;
  if (!EFI_ERROR(Bs->OpenProtocol(ImageHandle, &ShellInterfaceProtocolGuid,
                                  reinterpret_cast<VOID **>(&Interface), ImageHandle, nullptr,
                                  EFI_OPEN_PROTOCOL_GET_PROTOCOL))) {
    UINT64 Result = ToolMain(Interface->Argc, Interface->Argv);
    Bs->CloseProtocol(ImageHandle, &ShellInterfaceProtocolGuid, ImageHandle, nullptr);
    return Result;
  }
  return NoArgumentSourceStatus;
}

EFI_STATUS AppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  SetUpEnvironment(ImageHandle, SystemTable);
  UINT64 Result = RunToolMain(ImageHandle, SystemTable);
  // 4. The tear-down: every protocol the connection opened is closed again.
  DisconnectShell(ImageHandle);
  return Result;
}
