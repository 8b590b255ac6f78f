#include "shell/shell_connection.h"

#include "diag/debug_message.h"
#include "shell/memory.h"
#include "shell/platform_context.h"

ShellConnectionRecord ShellConnection = {nullptr, nullptr, nullptr, nullptr, nullptr};
ShellFileOpsTable ShellFileOps = {};

namespace {

constexpr UINTN FileInfoFixedSize = offsetof(EFI_FILE_INFO, FileName);

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

VOID FillFromShellProtocol(const EFI_SHELL_PROTOCOL *Shell) {
  ShellFileOps.GetFileInfo = Shell->GetFileInfo;
  ShellFileOps.SetFileInfo = Shell->SetFileInfo;
  ShellFileOps.ReadFile = Shell->ReadFile;
  ShellFileOps.WriteFile = Shell->WriteFile;
  ShellFileOps.CloseFile = Shell->CloseFile;
  ShellFileOps.DeleteFile = Shell->DeleteFile;
  ShellFileOps.GetFilePosition = Shell->GetFilePosition;
  ShellFileOps.SetFilePosition = Shell->SetFilePosition;
  ShellFileOps.FlushFile = Shell->FlushFile;
  ShellFileOps.GetFileSize = Shell->GetFileSize;
}

VOID FillFromFallbacks() {
  ShellFileOps.GetFileInfo = FileFallback::GetFileInfo;
  ShellFileOps.SetFileInfo = FileFallback::SetFileInfo;
  ShellFileOps.ReadFile = FileFallback::ReadFile;
  ShellFileOps.WriteFile = FileFallback::WriteFile;
  ShellFileOps.CloseFile = FileFallback::CloseFile;
  ShellFileOps.DeleteFile = FileFallback::DeleteFile;
  ShellFileOps.GetFilePosition = FileFallback::GetFilePosition;
  ShellFileOps.SetFilePosition = FileFallback::SetFilePosition;
  ShellFileOps.FlushFile = FileFallback::FlushFile;
  ShellFileOps.GetFileSize = FileFallback::GetFileSize;
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
  auto *Handles = static_cast<EFI_HANDLE *>(AllocateZeroedBuffer(Size));
  if (Handles == nullptr)
    return EFI_OUT_OF_RESOURCES;
  Status = Bs->LocateHandle(ByProtocol, &ShellEnvironmentProtocolGuid, nullptr, &Size, Handles);
  if (EFI_ERROR(Status)) {
    FreeBuffer(Handles);
    return Status;
  }

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
  FreeBuffer(Handles);
  return Status;
}

EFI_STATUS ConnectShell(EFI_HANDLE ImageHandle) {
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
    EFI_STATUS Status = FindShellEnvironment(ImageHandle);
    if (EFI_ERROR(Status)) {
      // The line shows the status's low 32 bits, as "%08x" reads them.
      EmitDebugMessage(DebugLevelError, "Status: 0x%08x\r\n", static_cast<UINT32>(Status));
      ShellConnection.ShellEnvironment = nullptr;
    }
    OpenOnHandle(ImageHandle, ShellInterfaceProtocolGuid,
                 reinterpret_cast<VOID **>(&ShellConnection.ShellInterface), ImageHandle);
  }

  bool Shell11 = ShellConnection.ShellEnvironment != nullptr &&
                 ShellConnection.ShellInterface != nullptr;
  bool Shell20 =
      ShellConnection.ShellProtocol != nullptr && ShellConnection.ShellParameters != nullptr;
  if (!Shell11 && !Shell20)
    return EFI_NOT_FOUND;
  if (ShellConnection.ShellProtocol != nullptr)
    FillFromShellProtocol(ShellConnection.ShellProtocol);
  else
    FillFromFallbacks();
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
  return EFI_SUCCESS;
}

namespace FileFallback {

EFI_FILE_INFO *EFIAPI GetFileInfo(SHELL_FILE_HANDLE File) {
  if (File == nullptr)
    return nullptr;
  UINTN Size = 0;
  if (File->GetInfo(File, &EfiFileInfoGuid, &Size, nullptr) != EFI_BUFFER_TOO_SMALL)
    return nullptr;
  // A record shorter than its fixed part could not be read safely by any caller.
  if (Size < FileInfoFixedSize)
    return nullptr;
  VOID *Info = AllocateZeroedBuffer(Size);
  if (Info == nullptr)
    return nullptr;
  if (EFI_ERROR(File->GetInfo(File, &EfiFileInfoGuid, &Size, Info))) {
    FreeBuffer(Info);
    return nullptr;
  }
  return static_cast<EFI_FILE_INFO *>(Info);
}

EFI_STATUS EFIAPI SetFileInfo(SHELL_FILE_HANDLE File, const EFI_FILE_INFO *Info) {
  if (File == nullptr || Info == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->SetInfo(File, &EfiFileInfoGuid, Info->Size,
                       const_cast<EFI_FILE_INFO *>(Info));
}

EFI_STATUS EFIAPI ReadFile(SHELL_FILE_HANDLE File, UINTN *Size, VOID *Buffer) {
  if (File == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->Read(File, Size, Buffer);
}

EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE File, UINTN *Size, VOID *Buffer) {
  if (File == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->Write(File, Size, Buffer);
}

EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE File) {
  if (File == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->Close(File);
}

EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE File) {
  if (File == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->Delete(File);
}

EFI_STATUS EFIAPI GetFilePosition(SHELL_FILE_HANDLE File, UINT64 *Position) {
  if (File == nullptr || Position == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->GetPosition(File, Position);
}

EFI_STATUS EFIAPI SetFilePosition(SHELL_FILE_HANDLE File, UINT64 Position) {
  if (File == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->SetPosition(File, Position);
}

EFI_STATUS EFIAPI FlushFile(SHELL_FILE_HANDLE File) {
  if (File == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->Flush(File);
}

EFI_STATUS EFIAPI GetFileSize(SHELL_FILE_HANDLE File, UINT64 *Size) {
  if (File == nullptr || Size == nullptr)
    return EFI_INVALID_PARAMETER;
  EFI_FILE_INFO *Info = GetFileInfo(File);
  if (Info == nullptr)
    return EFI_DEVICE_ERROR;
  *Size = Info->FileSize;
  FreeBuffer(Info);
  return EFI_SUCCESS;
}

} // namespace FileFallback
