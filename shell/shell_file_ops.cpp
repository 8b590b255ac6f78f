#include "shell/shell_file_ops.h"

#include "shell/memory.h"

ShellFileOpsTable ShellFileOps = {};

namespace {

constexpr UINTN FileInfoFixedSize = offsetof(EFI_FILE_INFO, FileName);

} // namespace

VOID FillShellFileOps(const EFI_SHELL_PROTOCOL *Shell) {
  if (Shell != nullptr)
    ShellFileOps = {Shell->GetFileInfo,     Shell->SetFileInfo,     Shell->ReadFile,
                    Shell->WriteFile,       Shell->CloseFile,       Shell->DeleteFile,
                    Shell->GetFilePosition, Shell->SetFilePosition, Shell->FlushFile,
                    Shell->GetFileSize};
  else
    ShellFileOps = {FileFallback::GetFileInfo,     FileFallback::SetFileInfo,
                    FileFallback::ReadFile,        FileFallback::WriteFile,
                    FileFallback::CloseFile,       FileFallback::DeleteFile,
                    FileFallback::GetFilePosition, FileFallback::SetFilePosition,
                    FileFallback::FlushFile,       FileFallback::GetFileSize};
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
  return (File == nullptr || Info == nullptr)
             ? EFI_INVALID_PARAMETER
             : File->SetInfo(File, &EfiFileInfoGuid, Info->Size, const_cast<EFI_FILE_INFO *>(Info));
}

EFI_STATUS EFIAPI ReadFile(SHELL_FILE_HANDLE File, UINTN *Size, VOID *Buffer) {
  return File == nullptr ? EFI_INVALID_PARAMETER : File->Read(File, Size, Buffer);
}

EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE File, UINTN *Size, VOID *Buffer) {
  return File == nullptr ? EFI_INVALID_PARAMETER : File->Write(File, Size, Buffer);
}

EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE File) {
  return File == nullptr ? EFI_INVALID_PARAMETER : File->Close(File);
}

EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE File) {
  return File == nullptr ? EFI_INVALID_PARAMETER : File->Delete(File);
}

EFI_STATUS EFIAPI GetFilePosition(SHELL_FILE_HANDLE File, UINT64 *Position) {
  return (File == nullptr || Position == nullptr) ? EFI_INVALID_PARAMETER
                                                  : File->GetPosition(File, Position);
}

EFI_STATUS EFIAPI SetFilePosition(SHELL_FILE_HANDLE File, UINT64 Position) {
  return File == nullptr ? EFI_INVALID_PARAMETER : File->SetPosition(File, Position);
}

EFI_STATUS EFIAPI FlushFile(SHELL_FILE_HANDLE File) {
  return File == nullptr ? EFI_INVALID_PARAMETER : File->Flush(File);
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
