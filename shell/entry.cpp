#include "shell/entry.h"

#include "app/command_line.h"
#include "diag/debug_uart_init.h"
#include "shell/platform_context.h"
#include "shell/shell_connection.h"

EFI_STATUS SetUpEnvironment(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // The debug port comes first so that everything after it can report.
  InitDebugUart();

  PlatformContext.HobList = nullptr;
  PlatformContext.SystemTable = SystemTable;
  PlatformContext.BootServices = SystemTable->BootServices;
  EFI_CONFIGURATION_TABLE *Table = SystemTable->ConfigurationTable;
  UINTN Entries = Table == nullptr ? 0 : SystemTable->NumberOfTableEntries;
  for (UINTN I = 0; I < Entries && I < MaxConfigurationTableEntries; I++) {
    if (GuidsEqual(&Table[I].VendorGuid, &EfiHobListGuid)) {
      PlatformContext.HobList = Table[I].VendorTable;
      break;
    }
  }

  ShellConnection = {nullptr, nullptr, nullptr, nullptr, nullptr};
  return ConnectShell(ImageHandle);
}

UINT64 RunToolMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *Bs = SystemTable->BootServices;
  // UEFI Shell 2.0 hands the arguments over in the parameters protocol; it wins over the EFI 1.1
  // shell interface when both are present. The opens are given back once the tool has run so
  // that the firmware's open records do not outlive the image.
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
  DisconnectShell(ImageHandle);
  return Result;
}
