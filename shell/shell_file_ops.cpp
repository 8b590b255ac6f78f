#include "shell/shell_file_ops.h"

#include "shell/memory.h"

ShellFileOpsTable ShellFileOps = {};

namespace {

constexpr UINTN FileInfoFixedSize = offsetof(EFI_FILE_INFO, FileName);

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

VOID FillShellFileOps(const EFI_SHELL_PROTOCOL *Shell) {
  if (Shell != nullptr)
    FillFromShellProtocol(Shell);
  else
    FillFromFallbacks();
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
  auto Info = PoolPtr<UINT8>::AllocateZeroed(Size);
  if (!Info || EFI_ERROR(File->GetInfo(File, &EfiFileInfoGuid, &Size, Info.Get())))
    return nullptr;
  return reinterpret_cast<EFI_FILE_INFO *>(Info.Release());
}

EFI_STATUS EFIAPI SetFileInfo(SHELL_FILE_HANDLE File, const EFI_FILE_INFO *Info) {
  if (File == nullptr || Info == nullptr)
    return EFI_INVALID_PARAMETER;
  return File->SetInfo(File, &EfiFileInfoGuid, Info->Size, const_cast<EFI_FILE_INFO *>(Info));
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
  PoolPtr<EFI_FILE_INFO> Info(GetFileInfo(File));
  if (!Info)
    return EFI_DEVICE_ERROR;
  *Size = Info->FileSize;
  return EFI_SUCCESS;
}

} // namespace FileFallback
