#include "sim/sim_volume.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/sim_shell.h"

namespace {

SimVolume *Current = nullptr;

// One open file or the root folder. The protocol comes first, so a handle is its protocol.
struct VolumeHandle {
  EFI_FILE_PROTOCOL Protocol;
  std::u16string Name; // empty for the root
  uint64_t Position;
  bool Writable;
};

VolumeHandle *HandleOf(EFI_FILE_PROTOCOL *P) {
  return reinterpret_cast<VolumeHandle *>(P);
}

std::u16string NameOf(const CHAR16 *Path) {
  std::u16string Name(Path);
  while (!Name.empty() && Name[0] == u'\\')
    Name.erase(0, 1);
  return Name;
}

EFI_FILE_PROTOCOL *NewHandle(const std::u16string &Name, bool Writable);

EFI_STATUS OpenNamed(const std::u16string &Name, UINT64 Mode, bool Create,
                     EFI_FILE_PROTOCOL **Out) {
  SimVolume &V = SimVolume::Active();
  bool Writing = (Mode & EFI_FILE_MODE_WRITE) != 0;
  if (Name.empty() || Out == nullptr)
    return EFI_INVALID_PARAMETER;
  bool Exists = V.Files.count(Name) != 0;
  if (!Exists && !Create)
    return EFI_NOT_FOUND;
  if (V.ReadOnly && (Writing || !Exists))
    return EFI_WRITE_PROTECTED;
  if (!Exists)
    V.Files[Name] = {};
  *Out = NewHandle(Name, Writing);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileOpen(EFI_FILE_PROTOCOL *, EFI_FILE_PROTOCOL **New, const CHAR16 *Name,
                           UINT64 Mode, UINT64) {
  return OpenNamed(NameOf(Name), Mode, (Mode & EFI_FILE_MODE_CREATE) != 0, New);
}
EFI_STATUS EFIAPI FileClose(EFI_FILE_PROTOCOL *This) {
  delete HandleOf(This);
  SimVolume::Active().Open--;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileDelete(EFI_FILE_PROTOCOL *This) {
  SimVolume &V = SimVolume::Active();
  bool Refused = V.ReadOnly || !HandleOf(This)->Writable;
  if (!Refused)
    V.Files.erase(HandleOf(This)->Name);
  FileClose(This);
  // EFI_WARN_DELETE_FAILURE: the handle is closed, the file stays.
  return Refused ? 2 : EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileRead(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  VolumeHandle *H = HandleOf(This);
  return SimReadAt(SimVolume::Active().Files[H->Name], H->Position, Size, Buffer);
}
EFI_STATUS EFIAPI FileWrite(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  SimVolume &V = SimVolume::Active();
  VolumeHandle *H = HandleOf(This);
  if (!H->Writable || V.ReadOnly) {
    *Size = 0;
    return V.ReadOnly ? EFI_WRITE_PROTECTED : EFI_ACCESS_DENIED;
  }
  std::vector<uint8_t> &Data = V.Files[H->Name];
  uint64_t End = H->Position + *Size;
  uint64_t Growth = End > Data.size() ? End - Data.size() : 0;
  uint64_t Free = V.Capacity - V.UsedBytes();
  UINTN N = *Size;
  EFI_STATUS Status = EFI_SUCCESS;
  if (Growth > Free) {
    N = static_cast<UINTN>(*Size - (Growth - Free));
    Status = EFI_VOLUME_FULL;
  }
  *Size = N;
  SimWriteAt(Data, H->Position, N, Buffer);
  return Status;
}
EFI_STATUS EFIAPI FileGetPosition(EFI_FILE_PROTOCOL *This, UINT64 *Position) {
  *Position = HandleOf(This)->Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileSetPosition(EFI_FILE_PROTOCOL *This, UINT64 Position) {
  VolumeHandle *H = HandleOf(This);
  H->Position =
      Position == EfiFilePositionEnd ? SimVolume::Active().Files[H->Name].size() : Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileGetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *Size,
                              VOID *Buffer) {
  const std::u16string &Name = HandleOf(This)->Name;
  return SimFileInfo(Name, SimVolume::Active().Files[Name].size(), Type, Size, Buffer);
}
EFI_STATUS EFIAPI FileSetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN, VOID *Buffer) {
  VolumeHandle *H = HandleOf(This);
  if (!GuidsEqual(Type, &EfiFileInfoGuid) || !H->Writable)
    return EFI_ACCESS_DENIED;
  auto *Info = static_cast<EFI_FILE_INFO *>(Buffer);
  std::vector<uint8_t> &Data = SimVolume::Active().Files[H->Name];
  if (Info->FileSize > Data.size())
    return EFI_VOLUME_FULL; // growing by SetInfo is not what the tool does
  Data.resize(Info->FileSize);
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileFlush(EFI_FILE_PROTOCOL *This) {
  return HandleOf(This)->Writable ? EFI_SUCCESS : EFI_ACCESS_DENIED;
}

EFI_FILE_PROTOCOL *NewHandle(const std::u16string &Name, bool Writable) {
  const EFI_FILE_PROTOCOL Functions = {.Revision = 0x00010000,
                                       .Open = FileOpen,
                                       .Close = FileClose,
                                       .Delete = FileDelete,
                                       .Read = FileRead,
                                       .Write = FileWrite,
                                       .GetPosition = FileGetPosition,
                                       .SetPosition = FileSetPosition,
                                       .GetInfo = FileGetInfo,
                                       .SetInfo = FileSetInfo,
                                       .Flush = FileFlush};
  SimVolume::Active().Open++;
  return &(new VolumeHandle{Functions, Name, 0, Writable})->Protocol;
}

EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *, EFI_FILE_PROTOCOL **Root) {
  *Root = NewHandle(u"", false);
  return EFI_SUCCESS;
}

// Shell 2.0's functions: names as the shell takes them, handles of the volume.
EFI_STATUS EFIAPI ShellOpenFileByName(const CHAR16 *Name, SHELL_FILE_HANDLE *File, UINT64 Mode) {
  return OpenNamed(NameOf(Name), Mode, (Mode & EFI_FILE_MODE_CREATE) != 0, File);
}
EFI_STATUS EFIAPI ShellCreateFile(const CHAR16 *Name, UINT64, SHELL_FILE_HANDLE *File) {
  return OpenNamed(NameOf(Name), EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, true, File);
}
EFI_STATUS EFIAPI ShellDeleteFileByName(const CHAR16 *Name) {
  SimVolume &V = SimVolume::Active();
  if (V.ReadOnly)
    return EFI_WRITE_PROTECTED;
  return V.Files.erase(NameOf(Name)) != 0 ? EFI_SUCCESS : EFI_NOT_FOUND;
}

} // namespace

SimVolume::SimVolume(SimFirmware &SimIn) : Sim(SimIn) {
  Current = this;
  FileSystem.Revision = 0x00010000;
  FileSystem.OpenVolume = OpenVolume;
  Device = Sim.Handles.CreateHandle();
  Sim.Handles.Install(Device, EfiSimpleFileSystemProtocolGuid, &FileSystem);
}

SimVolume::~SimVolume() {
  if (Current == this)
    Current = nullptr;
}

SimVolume &SimVolume::Active() {
  if (Current == nullptr) {
    fprintf(stderr, "sim: file operation without a volume\n");
    abort();
  }
  return *Current;
}

uint64_t SimVolume::UsedBytes() const {
  uint64_t Used = 0;
  for (const auto &File : Files)
    Used += File.second.size();
  return Used;
}

void SimVolume::LoadImageFrom(EFI_HANDLE Image) {
  LoadedImage.Revision = 0x1000;
  LoadedImage.SystemTable = &Sim.SystemTable;
  LoadedImage.DeviceHandle = Device;
  Sim.Handles.Install(Image, EfiLoadedImageProtocolGuid, &LoadedImage);
}

void SimVolume::Serve(EFI_SHELL_PROTOCOL *Shell) {
  Shell->OpenFileByName = ShellOpenFileByName;
  Shell->CreateFile = ShellCreateFile;
  Shell->DeleteFileByName = ShellDeleteFileByName;
}
