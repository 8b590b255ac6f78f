#include "shell/shell_connection.h"

#include "shell/memory.h"
#include "shell/platform_context.h"
#include "shell/shell_file_ops.h"

ShellConnectionRecord ShellConnection = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {

EFI_STATUS OpenOnHandle(EFI_HANDLE Handle, const EFI_GUID &Protocol, VOID **Interface,
                        EFI_HANDLE ImageHandle) {
  *Interface = nullptr;
  EFI_STATUS Status = PlatformContext.BootServices->OpenProtocol(
      Handle, &Protocol, Interface, ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR(Status))
    *Interface = nullptr;
  return Status;
}

VOID CloseOnHandle(EFI_HANDLE Handle, const EFI_GUID &Protocol, EFI_HANDLE ImageHandle) {
  PlatformContext.BootServices->CloseProtocol(Handle, &Protocol, ImageHandle, nullptr);
}

// The EFI 1.1 environment is usable only in its environment-2 form, which identifies itself by
// a GUID after the original members.
bool IsEnvironment2(const EFI_SHELL_ENVIRONMENT2 *Environment) {
  return Environment != nullptr &&
         GuidsEqual(&Environment->SESGuid, &ShellEnvironment2ExtensionGuid);
}

} // namespace

EFI_STATUS FindShellEnvironment(EFI_HANDLE ImageHandle) {
  EFI_STATUS Status =
      OpenOnHandle(ImageHandle, ShellEnvironmentProtocolGuid,
                   reinterpret_cast<VOID **>(&ShellConnection.ShellEnvironment), ImageHandle);
  if (!EFI_ERROR(Status)) {
    if (IsEnvironment2(ShellConnection.ShellEnvironment))
      return Status;
    // Not the form we can use: give the open back before looking elsewhere.
    CloseOnHandle(ImageHandle, ShellEnvironmentProtocolGuid, ImageHandle);
    ShellConnection.ShellEnvironment = nullptr;
  }

  EFI_BOOT_SERVICES *Bs = PlatformContext.BootServices;
  UINTN Size = 0;
  Status = Bs->LocateHandle(ByProtocol, &ShellEnvironmentProtocolGuid, nullptr, &Size, nullptr);
  if (Status != EFI_BUFFER_TOO_SMALL)
    return Status;
  PoolPtr<EFI_HANDLE> Handles(static_cast<EFI_HANDLE *>(AllocateZeroedBuffer(Size)));
  if (!Handles)
    return EFI_OUT_OF_RESOURCES;
  Status =
      Bs->LocateHandle(ByProtocol, &ShellEnvironmentProtocolGuid, nullptr, &Size, Handles.Get());
  if (EFI_ERROR(Status))
    return Status;

  Status = EFI_NOT_FOUND;
  UINTN Count = Size / sizeof(EFI_HANDLE);
  for (UINTN I = 0; I < Count; I++) {
    EFI_SHELL_ENVIRONMENT2 *Environment = nullptr;
    if (EFI_ERROR(OpenOnHandle(Handles[I], ShellEnvironmentProtocolGuid,
                               reinterpret_cast<VOID **>(&Environment), ImageHandle))) {
      continue;
    }
    if (IsEnvironment2(Environment)) {
      ShellConnection.ShellEnvironment = Environment;
      ShellConnection.ShellEnvironmentHandle = Handles[I];
      Status = EFI_SUCCESS;
      break;
    }
    CloseOnHandle(Handles[I], ShellEnvironmentProtocolGuid, ImageHandle);
  }
  return Status;
}

EFI_STATUS ConnectShell(EFI_HANDLE ImageHandle, EFI_STATUS *EnvironmentStatus) {
  ShellConnection = {nullptr, nullptr, nullptr, nullptr, nullptr, ImageHandle};
  *EnvironmentStatus = EFI_SUCCESS;
  if (EFI_ERROR(OpenOnHandle(ImageHandle, EfiShellProtocolGuid,
                             reinterpret_cast<VOID **>(&ShellConnection.ShellProtocol),
                             ImageHandle))) {
    VOID *Interface = nullptr;
    EFI_STATUS Status =
        PlatformContext.BootServices->LocateProtocol(&EfiShellProtocolGuid, nullptr, &Interface);
    ShellConnection.ShellProtocol =
        EFI_ERROR(Status) ? nullptr : static_cast<EFI_SHELL_PROTOCOL *>(Interface);
  }
  OpenOnHandle(ImageHandle, EfiShellParametersProtocolGuid,
               reinterpret_cast<VOID **>(&ShellConnection.ShellParameters), ImageHandle);

  if (ShellConnection.ShellProtocol == nullptr || ShellConnection.ShellParameters == nullptr) {
    *EnvironmentStatus = FindShellEnvironment(ImageHandle);
    if (EFI_ERROR(*EnvironmentStatus))
      ShellConnection.ShellEnvironment = nullptr;
    OpenOnHandle(ImageHandle, ShellInterfaceProtocolGuid,
                 reinterpret_cast<VOID **>(&ShellConnection.ShellInterface), ImageHandle);
  }

  bool Shell11 =
      ShellConnection.ShellEnvironment != nullptr && ShellConnection.ShellInterface != nullptr;
  bool Shell20 =
      ShellConnection.ShellProtocol != nullptr && ShellConnection.ShellParameters != nullptr;
  if (!Shell11 && !Shell20)
    return EFI_NOT_FOUND;
  if (ShellConnection.ShellProtocol != nullptr)
    FillShellFileOps(ShellConnection.ShellProtocol);
  else
    FillShellFileOps(nullptr);
  return EFI_SUCCESS;
}

EFI_STATUS DisconnectShell(EFI_HANDLE ImageHandle) {
  if (ShellConnection.ShellEnvironment != nullptr) {
    EFI_HANDLE Where = ShellConnection.ShellEnvironmentHandle != nullptr
                           ? ShellConnection.ShellEnvironmentHandle
                           : ImageHandle;
    CloseOnHandle(Where, ShellEnvironmentProtocolGuid, ImageHandle);
    ShellConnection.ShellEnvironment = nullptr;
  }
  if (ShellConnection.ShellInterface != nullptr) {
    CloseOnHandle(ImageHandle, ShellInterfaceProtocolGuid, ImageHandle);
    ShellConnection.ShellInterface = nullptr;
  }
  if (ShellConnection.ShellProtocol != nullptr) {
    CloseOnHandle(ImageHandle, EfiShellProtocolGuid, ImageHandle);
    ShellConnection.ShellProtocol = nullptr;
  }
  if (ShellConnection.ShellParameters != nullptr) {
    CloseOnHandle(ImageHandle, EfiShellParametersProtocolGuid, ImageHandle);
    ShellConnection.ShellParameters = nullptr;
  }
  ShellConnection.ShellEnvironmentHandle = nullptr;
  ShellConnection.ImageHandle = nullptr;
  return EFI_SUCCESS;
}
