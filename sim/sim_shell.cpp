#include "sim/sim_shell.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

SimVolume *Current = nullptr;

SimVolume &Volume() {
  if (Current == nullptr) {
    fprintf(stderr, "sim: file operation without a volume\n");
    abort();
  }
  return *Current;
}

// An open file or the root folder; the protocol comes first, so a handle is its file.
struct VolumeFile {
  EFI_FILE_PROTOCOL Protocol;
  std::vector<uint8_t> *Data;
  std::u16string Name; // empty for the root
  bool Writable;
  uint64_t Position = 0;
};
VolumeFile *FileOf(EFI_FILE_PROTOCOL *P) {
  return reinterpret_cast<VolumeFile *>(P);
}

EFI_STATUS EFIAPI FileRead(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  VolumeFile *F = FileOf(This);
  if (Size == nullptr || (*Size != 0 && Buffer == nullptr))
    return EFI_INVALID_PARAMETER;
  uint64_t Left = F->Position < F->Data->size() ? F->Data->size() - F->Position : 0;
  UINTN N = *Size < Left ? *Size : static_cast<UINTN>(Left);
  if (N != 0)
    memcpy(Buffer, F->Data->data() + F->Position, N);
  if (N != 0 && Volume().GarblesReads)
    static_cast<uint8_t *>(Buffer)[0] ^= 1;
  F->Position += N;
  *Size = N;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileGetPosition(EFI_FILE_PROTOCOL *This, UINT64 *Position) {
  *Position = FileOf(This)->Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileSetPosition(EFI_FILE_PROTOCOL *This, UINT64 Position) {
  VolumeFile *F = FileOf(This);
  F->Position = Position == EfiFilePositionEnd ? F->Data->size() : Position;
  return EFI_SUCCESS;
}
// The volume's EFI_FILE_SYSTEM_INFO record, without a label: its capacity, the bytes its files
// leave free, in units of one byte; or, as a file system that keeps no account of its space,
// the whole volume free whatever it holds.
EFI_STATUS VolumeInfo(UINTN *Size, VOID *Buffer) {
  const SimVolume &V = Volume();
  constexpr UINTN Needed = sizeof(EFI_FILE_SYSTEM_INFO);
  if (*Size < Needed || Buffer == nullptr) {
    *Size = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  auto *Info = static_cast<EFI_FILE_SYSTEM_INFO *>(Buffer);
  memset(Info, 0, Needed);
  Info->Size = Needed;
  Info->ReadOnly = V.ReadOnly;
  Info->VolumeSize = V.Capacity;
  Info->FreeSpace = V.AccountsSpace ? V.Capacity - V.UsedBytes() : V.Capacity;
  Info->BlockSize = 1;
  *Size = Needed;
  return EFI_SUCCESS;
}

// The EFI_FILE_INFO record; EFI_BUFFER_TOO_SMALL with the size needed when it does not fit.
EFI_STATUS EFIAPI FileGetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *Size,
                              VOID *Buffer) {
  const VolumeFile *F = FileOf(This);
  if (Type != nullptr && GuidsEqual(Type, &EfiFileSystemInfoGuid) && Size != nullptr)
    return VolumeInfo(Size, Buffer);
  if (Type == nullptr || !GuidsEqual(Type, &EfiFileInfoGuid) || Size == nullptr)
    return EFI_UNSUPPORTED;
  const UINTN NameBytes = (F->Name.size() + 1) * sizeof(CHAR16);
  const UINTN Needed = offsetof(EFI_FILE_INFO, FileName) + NameBytes;
  if (*Size < Needed || Buffer == nullptr) {
    *Size = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  auto *Info = static_cast<EFI_FILE_INFO *>(Buffer);
  memset(Info, 0, Needed);
  Info->Size = Needed;
  Info->FileSize = F->Data->size();
  Info->PhysicalSize = (Info->FileSize + 511) / 512 * 512;
  memcpy(Info->FileName, F->Name.c_str(), NameBytes);
  *Size = Needed;
  return EFI_SUCCESS;
}

EFI_FILE_PROTOCOL *NewHandle(const std::u16string &Name, bool Writable);

// Opening by name, for the shell and for a folder's Open alike.
EFI_STATUS EFIAPI ShellOpenFileByName(const CHAR16 *Path, SHELL_FILE_HANDLE *Out, UINT64 Mode) {
  SimVolume &V = Volume();
  std::u16string Name(Path);
  Name.erase(0, Name.find_first_not_of(u'\\'));
  bool Writing = (Mode & EFI_FILE_MODE_WRITE) != 0;
  if (Name.empty() || Out == nullptr)
    return EFI_INVALID_PARAMETER;
  bool Exists = V.Files.count(Name) != 0;
  if (!Exists && (Mode & EFI_FILE_MODE_CREATE) == 0)
    return EFI_NOT_FOUND;
  if (V.ReadOnly && (Writing || !Exists))
    return EFI_WRITE_PROTECTED;
  *Out = NewHandle(Name, Writing);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FileOpen(EFI_FILE_PROTOCOL *, EFI_FILE_PROTOCOL **New, const CHAR16 *Name,
                           UINT64 Mode, UINT64) {
  return ShellOpenFileByName(Name, New, Mode);
}
EFI_STATUS EFIAPI FileClose(EFI_FILE_PROTOCOL *This) {
  delete FileOf(This);
  Volume().OpenHandles--;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileDelete(EFI_FILE_PROTOCOL *This) {
  bool Refused = Volume().ReadOnly || !FileOf(This)->Writable;
  if (!Refused)
    Volume().Files.erase(FileOf(This)->Name);
  FileClose(This);
  // EFI_WARN_DELETE_FAILURE: the handle is closed, the file stays.
  return Refused ? 2 : EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileWrite(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  SimVolume &V = Volume();
  VolumeFile *F = FileOf(This);
  if (!F->Writable || V.ReadOnly) {
    *Size = 0;
    return V.ReadOnly ? EFI_WRITE_PROTECTED : EFI_ACCESS_DENIED;
  }
  if (V.WritesLeft == 0) {
    *Size = 0;
    return EFI_DEVICE_ERROR;
  }
  V.WritesLeft--;
  uint64_t End = F->Position + *Size;
  uint64_t Growth = End > F->Data->size() ? End - F->Data->size() : 0;
  uint64_t Free = V.Capacity - V.UsedBytes();
  EFI_STATUS Status = EFI_SUCCESS;
  if (Growth > Free) {
    *Size -= static_cast<UINTN>(Growth - Free);
    Status = EFI_VOLUME_FULL;
  }
  if (F->Position + *Size > F->Data->size())
    F->Data->resize(F->Position + *Size);
  if (*Size != 0)
    memcpy(F->Data->data() + F->Position, Buffer, *Size);
  F->Position += *Size;
  return Status;
}
EFI_STATUS EFIAPI FileSetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN, VOID *Buffer) {
  VolumeFile *F = FileOf(This);
  if (!GuidsEqual(Type, &EfiFileInfoGuid) || !F->Writable)
    return EFI_ACCESS_DENIED;
  auto *Info = static_cast<EFI_FILE_INFO *>(Buffer);
  if (Info->FileSize > F->Data->size())
    return EFI_VOLUME_FULL; // growing by SetInfo is not what the tool does
  F->Data->resize(Info->FileSize);
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileFlush(EFI_FILE_PROTOCOL *This) {
  return FileOf(This)->Writable ? EFI_SUCCESS : EFI_ACCESS_DENIED;
}

EFI_FILE_PROTOCOL *NewHandle(const std::u16string &Name, bool Writable) {
  static std::vector<uint8_t> RootBytes;
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
  Volume().OpenHandles++;
  std::vector<uint8_t> *Data = Name.empty() ? &RootBytes : &Volume().Files[Name];
  return &(new VolumeFile{Functions, Data, Name, Writable})->Protocol;
}

EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *, EFI_FILE_PROTOCOL **Root) {
  *Root = NewHandle(u"", false);
  return EFI_SUCCESS;
}

// Shell 2.0's CreateFile: by name on the volume.
EFI_STATUS EFIAPI ShellCreateFile(const CHAR16 *Name, UINT64, SHELL_FILE_HANDLE *File) {
  return ShellOpenFileByName(Name, File,
                             EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE);
}

} // namespace

SimShell11::SimShell11(SimFirmware &Sim, EFI_HANDLE Image, const std::vector<std::string> &Args,
                       EnvironmentPlacement Placement, std::vector<bool> Env2Forms)
    : Arguments(WideTexts(Args)) {
  const EFI_GUID OtherForm = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
  for (size_t I = 0; I < Env2Forms.size(); I++) {
    auto Env = std::make_unique<EFI_SHELL_ENVIRONMENT2>();
    Env->SESGuid = Env2Forms[I] ? ShellEnvironment2ExtensionGuid : OtherForm;
    EFI_HANDLE Where = Image;
    if (Placement == EnvironmentPlacement::OnOtherHandles || I > 0)
      Where = Sim.Handles.CreateHandle();
    Sim.Handles.Install(Where, ShellEnvironmentProtocolGuid, Env.get());
    EnvironmentHandles.push_back(Where);
    Environments.push_back(std::move(Env));
  }
  Interface.ImageHandle = Image;
  Interface.Argv = Arguments.Argv();
  Interface.Argc = Arguments.Argc();
  Sim.Handles.Install(Image, ShellInterfaceProtocolGuid, &Interface);
}

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
}

EFI_FILE_PROTOCOL *SimVolume::Open(const std::u16string &Name) {
  EFI_FILE_PROTOCOL *File = nullptr;
  ShellOpenFileByName(Name.c_str(), &File, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE);
  return File;
}
