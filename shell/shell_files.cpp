#include "shell/shell_files.h"

#include "shell/platform_context.h"
#include "shell/shell_connection.h"
#include "shell/shell_file_ops.h"

namespace {

constexpr UINT64 ReadWrite = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr UINT64 ReadWriteCreate = ReadWrite | EFI_FILE_MODE_CREATE;
// A file transfer that moves nothing this many times in a row has stalled.
constexpr UINTN MaxIdleTransfers = 4;

// Path on the volume the running image was loaded from, named from its root.
EFI_STATUS OpenOnImageVolume(const CHAR16 *Path, UINT64 Mode, SHELL_FILE_HANDLE *File) {
  EFI_LOADED_IMAGE_PROTOCOL *Image = nullptr;
  if (ShellConnection.ImageHandle == nullptr ||
      EFI_ERROR(PlatformContext.BootServices->HandleProtocol(ShellConnection.ImageHandle,
                                                             &EfiLoadedImageProtocolGuid,
                                                             reinterpret_cast<VOID **>(&Image))) ||
      Image == nullptr)
    return EFI_NOT_FOUND;
  EFI_FILE_PROTOCOL *Root = nullptr;
  EFI_STATUS Status = OpenVolumeOfImage(Image, &Root);
  if (EFI_ERROR(Status))
    return Status;
  *File = nullptr;
  Status = Root->Open(Root, File, Path, Mode, 0);
  Root->Close(Root);
  if (!EFI_ERROR(Status) && *File == nullptr)
    Status = EFI_DEVICE_ERROR;
  return Status;
}

// One open by name in Mode, through the shell when it has file functions.
EFI_STATUS OpenByName(const CHAR16 *Path, UINT64 Mode, SHELL_FILE_HANDLE *File) {
  EFI_SHELL_PROTOCOL *Shell = ShellConnection.ShellProtocol;
  if (Shell == nullptr)
    return OpenOnImageVolume(Path, Mode, File);
  *File = nullptr;
  EFI_STATUS Status = Shell->OpenFileByName(Path, File, Mode);
  if (!EFI_ERROR(Status) && *File == nullptr)
    Status = EFI_DEVICE_ERROR;
  return Status;
}

// Moves Size bytes through Transfer (the shell's ReadFile or WriteFile), which may move fewer at
// a time; a file system that keeps moving nothing ends the loop with Short.
template <typename Function>
EFI_STATUS TransferExactly(Function Transfer, SHELL_FILE_HANDLE File, UINT8 *At, UINTN Size,
                           EFI_STATUS Short) {
  UINTN Done = 0;
  for (UINTN Idle = 0; Done < Size && Idle < MaxIdleTransfers;) {
    UINTN Chunk = Size - Done;
    EFI_STATUS Status = Transfer(File, &Chunk, At + Done);
    if (EFI_ERROR(Status))
      return Status;
    if (Chunk > Size - Done)
      return EFI_DEVICE_ERROR;
    Idle = Chunk == 0 ? Idle + 1 : 0;
    Done += Chunk;
  }
  return Done == Size ? EFI_SUCCESS : Short;
}

// One open of Path in Mode; Append's position is set by the caller.
EFI_STATUS OpenInMode(const CHAR16 *Path, ShellFileMode Mode, SHELL_FILE_HANDLE *File) {
  switch (Mode) {
  case ShellFileMode::Read:
    return OpenByName(Path, EFI_FILE_MODE_READ, File);
  case ShellFileMode::CreateNew: {
    if (ShellFileExists(Path))
      return EFI_ACCESS_DENIED;
    EFI_SHELL_PROTOCOL *Shell = ShellConnection.ShellProtocol;
    if (Shell == nullptr)
      return OpenOnImageVolume(Path, ReadWriteCreate, File);
    // The shell's own creation, which a shell backed by a file system with atomic creation can
    // make whole-or-nothing.
    *File = nullptr;
    EFI_STATUS Status = Shell->CreateFile(Path, 0, File);
    if (!EFI_ERROR(Status) && *File == nullptr)
      Status = EFI_DEVICE_ERROR;
    return Status;
  }
  case ShellFileMode::Update:
    return OpenByName(Path, ReadWrite, File);
  case ShellFileMode::Append:
    return OpenByName(Path, ReadWriteCreate, File);
  }
  return EFI_INVALID_PARAMETER;
}

} // namespace

EFI_STATUS OpenVolumeOfImage(const EFI_LOADED_IMAGE_PROTOCOL *Image, EFI_FILE_PROTOCOL **Root) {
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume = nullptr;
  if (Image->DeviceHandle == nullptr ||
      EFI_ERROR(PlatformContext.BootServices->HandleProtocol(Image->DeviceHandle,
                                                             &EfiSimpleFileSystemProtocolGuid,
                                                             reinterpret_cast<VOID **>(&Volume))) ||
      Volume == nullptr)
    return EFI_NOT_FOUND;
  *Root = nullptr;
  EFI_STATUS Status = Volume->OpenVolume(Volume, Root);
  if (!EFI_ERROR(Status) && *Root == nullptr)
    Status = EFI_DEVICE_ERROR;
  return Status;
}

bool ShellFileExists(const CHAR16 *Path) {
  ShellFile File;
  // A name that holds something the file system will not open as a file (a folder, another
  // user's link) is taken all the same.
  EFI_STATUS Status =
      Path != nullptr ? OpenShellFile(Path, ShellFileMode::Read, &File) : EFI_INVALID_PARAMETER;
  return !EFI_ERROR(Status) || Status == EFI_ACCESS_DENIED || Status == EFI_SECURITY_VIOLATION;
}

EFI_STATUS OpenShellFile(const CHAR16 *Path, ShellFileMode Mode, ShellFile *File) {
  if (Path == nullptr || File == nullptr)
    return EFI_INVALID_PARAMETER;
  File->Close();
  // Without a shell connection there is no file table to work the handle with.
  if (ShellFileOps.CloseFile == nullptr)
    return EFI_UNSUPPORTED;
  EFI_STATUS Status = OpenInMode(Path, Mode, &File->Handle);
  // A failed open leaves nothing to close, whatever the firmware put in the handle.
  if (EFI_ERROR(Status))
    File->Handle = nullptr;
  else if (Mode == ShellFileMode::Append)
    Status = ShellFileOps.SetFilePosition(File->Handle, EfiFilePositionEnd);
  if (EFI_ERROR(Status))
    File->Close();
  return Status;
}

EFI_STATUS ShellFile::Close() {
  if (Handle == nullptr)
    return EFI_SUCCESS;
  EFI_STATUS Status = ShellFileOps.CloseFile(Handle);
  Handle = nullptr;
  return Status;
}

EFI_STATUS ShellFile::Delete() {
  if (Handle == nullptr || ShellFileOps.DeleteFile == nullptr)
    return EFI_INVALID_PARAMETER;
  EFI_STATUS Status = ShellFileOps.DeleteFile(Handle);
  Handle = nullptr;
  return Status;
}

EFI_STATUS ReadShellFileExactly(SHELL_FILE_HANDLE File, VOID *Buffer, UINTN Size) {
  return TransferExactly(ShellFileOps.ReadFile, File, static_cast<UINT8 *>(Buffer), Size,
                         EFI_END_OF_FILE);
}

EFI_STATUS WriteShellFileExactly(SHELL_FILE_HANDLE File, const VOID *Buffer, UINTN Size) {
  // The shell's WriteFile takes a non-const buffer but only reads it.
  return TransferExactly(ShellFileOps.WriteFile, File,
                         static_cast<UINT8 *>(const_cast<VOID *>(Buffer)), Size, EFI_VOLUME_FULL);
}

VolumeRoom AskVolumeRoom(SHELL_FILE_HANDLE File) {
  VolumeRoom Room = {false, false, 0, 1};
  // The fixed part and a label of up to 31 characters; a longer label only makes the call fail,
  // and the room is then unknown.
  alignas(EFI_FILE_SYSTEM_INFO) UINT8 Data[offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel) + 64];
  UINTN Size = sizeof(Data);
  if (File == nullptr || File->GetInfo == nullptr ||
      EFI_ERROR(File->GetInfo(File, &EfiFileSystemInfoGuid, &Size, Data)) ||
      Size < offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel))
    return Room;
  const auto *Info = reinterpret_cast<const EFI_FILE_SYSTEM_INFO *>(Data);
  Room.ReadOnly = Info->ReadOnly != 0;
  Room.Free = Info->FreeSpace;
  Room.Unit = Info->BlockSize == 0 ? 1 : Info->BlockSize;
  Room.Known = Info->FreeSpace < Info->VolumeSize;
  return Room;
}

bool FitsVolume(const VolumeRoom &Room, UINT64 Size, UINT64 Added) {
  if (!Room.Known)
    return true;
  const auto Units = [&](UINT64 Bytes) { return Bytes / Room.Unit + (Bytes % Room.Unit != 0); };
  UINT64 Needed = (Units(Size + Added) - Units(Size)) * Room.Unit;
  return Needed <= Room.Free;
}
