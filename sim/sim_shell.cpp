#include "sim/sim_shell.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

std::map<EFI_FILE_PROTOCOL *, SimFile *> &Files() {
  static std::map<EFI_FILE_PROTOCOL *, SimFile *> Open;
  return Open;
}

EFI_STATUS EFIAPI FileSucceed(EFI_FILE_PROTOCOL *) {
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileDelete(EFI_FILE_PROTOCOL *This) {
  SimFile::From(This)->Contents.clear();
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileRead(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  SimFile *F = SimFile::From(This);
  return SimReadAt(F->Contents, F->Position, Size, Buffer);
}
EFI_STATUS EFIAPI FileWrite(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  SimFile *F = SimFile::From(This);
  if (Size == nullptr || (*Size != 0 && Buffer == nullptr))
    return EFI_INVALID_PARAMETER;
  SimWriteAt(F->Contents, F->Position, *Size, Buffer);
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileGetPosition(EFI_FILE_PROTOCOL *This, UINT64 *Position) {
  *Position = SimFile::From(This)->Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileSetPosition(EFI_FILE_PROTOCOL *This, UINT64 Position) {
  SimFile *F = SimFile::From(This);
  F->Position = Position == EfiFilePositionEnd ? F->Contents.size() : Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileGetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *Size,
                              VOID *Buffer) {
  SimFile *F = SimFile::From(This);
  if (EFI_ERROR(F->GetInfoStatus))
    return F->GetInfoStatus;
  EFI_STATUS Status = SimFileInfo(F->Name, F->Contents.size(), Type, Size, Buffer);
  if (Status == EFI_BUFFER_TOO_SMALL && F->GetInfoLiesAboutSize)
    *Size = 8;
  return Status;
}
EFI_STATUS EFIAPI FileSetInfo(EFI_FILE_PROTOCOL *, const EFI_GUID *, UINTN, VOID *) {
  return EFI_SUCCESS;
}

// UEFI Shell 2.0's handle functions: as in the shell itself, each is the handle's own
// EFI_FILE_PROTOCOL function underneath.
EFI_FILE_INFO *EFIAPI ShellGetFileInfo(SHELL_FILE_HANDLE F) {
  UINTN Size = 0;
  F->GetInfo(F, &EfiFileInfoGuid, &Size, nullptr);
  void *Info = SimFirmware::Active().PoolAllocate(Size);
  if (Info != nullptr && EFI_ERROR(F->GetInfo(F, &EfiFileInfoGuid, &Size, Info))) {
    SimFirmware::Active().PoolFree(Info); // the shell frees its buffer when the read fails
    return nullptr;
  }
  return static_cast<EFI_FILE_INFO *>(Info);
}
EFI_STATUS EFIAPI ShellSetFileInfo(SHELL_FILE_HANDLE F, const EFI_FILE_INFO *Info) {
  return F->SetInfo(F, &EfiFileInfoGuid, Info->Size, const_cast<EFI_FILE_INFO *>(Info));
}
// The others pass straight through to the file protocol's member of the same job.
template <auto Function, typename... Args>
EFI_STATUS EFIAPI Forward(SHELL_FILE_HANDLE F, Args... Arguments) {
  return (F->*Function)(F, Arguments...);
}
EFI_STATUS EFIAPI ShellGetFileSize(SHELL_FILE_HANDLE F, UINT64 *Size) {
  alignas(EFI_FILE_INFO) UINT8 Info[sizeof(EFI_FILE_INFO) + 512];
  UINTN Length = sizeof(Info);
  EFI_STATUS Status = F->GetInfo(F, &EfiFileInfoGuid, &Length, Info);
  if (!EFI_ERROR(Status))
    *Size = reinterpret_cast<EFI_FILE_INFO *>(Info)->FileSize;
  return Status;
}

} // namespace

EFI_STATUS SimReadAt(const std::vector<uint8_t> &Data, uint64_t &Position, UINTN *Size,
                     VOID *Buffer) {
  if (Size == nullptr || (*Size != 0 && Buffer == nullptr))
    return EFI_INVALID_PARAMETER;
  uint64_t Left = Position < Data.size() ? Data.size() - Position : 0;
  UINTN N = *Size < Left ? *Size : static_cast<UINTN>(Left);
  if (N != 0)
    memcpy(Buffer, Data.data() + Position, N);
  Position += N;
  *Size = N;
  return EFI_SUCCESS;
}

void SimWriteAt(std::vector<uint8_t> &Data, uint64_t &Position, UINTN Size, const VOID *Buffer) {
  if (Position + Size > Data.size())
    Data.resize(Position + Size);
  if (Size != 0)
    memcpy(Data.data() + Position, Buffer, Size);
  Position += Size;
}

EFI_STATUS SimFileInfo(const std::u16string &Name, uint64_t FileSize, const EFI_GUID *Type,
                       UINTN *Size, VOID *Buffer) {
  if (Type == nullptr || !GuidsEqual(Type, &EfiFileInfoGuid) || Size == nullptr)
    return EFI_UNSUPPORTED;
  UINTN Needed = offsetof(EFI_FILE_INFO, FileName) + (Name.size() + 1) * sizeof(CHAR16);
  if (*Size < Needed || Buffer == nullptr) {
    *Size = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  auto *Info = static_cast<EFI_FILE_INFO *>(Buffer);
  memset(Info, 0, Needed);
  Info->Size = Needed;
  Info->FileSize = FileSize;
  Info->PhysicalSize = (FileSize + 511) / 512 * 512;
  memcpy(Info->FileName, Name.c_str(), (Name.size() + 1) * sizeof(CHAR16));
  *Size = Needed;
  return EFI_SUCCESS;
}

SimArguments::SimArguments(const std::vector<std::u16string> &Args) : Storage(Args) {
  for (auto &S : Storage)
    Pointers.push_back(S.data());
  Pointers.push_back(nullptr);
}

SimShell20::SimShell20(SimFirmware &Sim, EFI_HANDLE Image, const std::vector<std::string> &Args,
                       ShellProtocolPlacement Placement, bool WithParameters)
    : SimShell20(Sim, Image, Ucs2{WideTexts(Args)}, Placement, WithParameters) {}

SimShell20::SimShell20(SimFirmware &Sim, EFI_HANDLE Image, Ucs2 Args,
                       ShellProtocolPlacement Placement, bool WithParameters)
    : Arguments(Args.Args) {
  FillNotSimulated(&Protocol, offsetof(EFI_SHELL_PROTOCOL, ExecutionBreak) / sizeof(void *));
  Protocol.GetFileInfo = ShellGetFileInfo;
  Protocol.SetFileInfo = ShellSetFileInfo;
  Protocol.ReadFile = Forward<&EFI_FILE_PROTOCOL::Read, UINTN *, VOID *>;
  Protocol.WriteFile = Forward<&EFI_FILE_PROTOCOL::Write, UINTN *, VOID *>;
  Protocol.CloseFile = Forward<&EFI_FILE_PROTOCOL::Close>;
  Protocol.DeleteFile = Forward<&EFI_FILE_PROTOCOL::Delete>;
  Protocol.GetFilePosition = Forward<&EFI_FILE_PROTOCOL::GetPosition, UINT64 *>;
  Protocol.SetFilePosition = Forward<&EFI_FILE_PROTOCOL::SetPosition, UINT64>;
  Protocol.FlushFile = Forward<&EFI_FILE_PROTOCOL::Flush>;
  Protocol.GetFileSize = ShellGetFileSize;
  Protocol.MajorVersion = 2;
  Protocol.MinorVersion = 2;
  if (Placement != ShellProtocolPlacement::None) {
    // The shell publishes its protocol on a handle of its own, and on each image it starts.
    ShellHandle = Sim.Handles.CreateHandle();
    Sim.Handles.Install(ShellHandle, EfiShellProtocolGuid, &Protocol);
    if (Placement == ShellProtocolPlacement::OnImage)
      Sim.Handles.Install(Image, EfiShellProtocolGuid, &Protocol);
  }
  Parameters.Argv = Arguments.Argv();
  Parameters.Argc = Arguments.Argc();
  if (WithParameters)
    Sim.Handles.Install(Image, EfiShellParametersProtocolGuid, &Parameters);
}

SimShell11::SimShell11(SimFirmware &Sim, EFI_HANDLE Image, const std::vector<std::string> &Args,
                       EnvironmentPlacement Placement, std::vector<bool> Env2Forms,
                       bool WithInterface)
    : Arguments(Args) {
  const EFI_GUID OtherForm = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
  for (size_t I = 0; I < Env2Forms.size() && Placement != EnvironmentPlacement::None; I++) {
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
  if (WithInterface)
    Sim.Handles.Install(Image, ShellInterfaceProtocolGuid, &Interface);
}

SimFile::SimFile(const std::string &NameIn, const std::vector<uint8_t> &ContentsIn)
    : Name(WideText(NameIn)), Contents(ContentsIn) {
  Files()[&Protocol] = this;
  Protocol = {.Revision = 0x00010000,
              .Close = FileSucceed,
              .Delete = FileDelete,
              .Read = FileRead,
              .Write = FileWrite,
              .GetPosition = FileGetPosition,
              .SetPosition = FileSetPosition,
              .GetInfo = FileGetInfo,
              .SetInfo = FileSetInfo,
              .Flush = FileSucceed};
  FillNotSimulated(&Protocol.Open, 1);
}

SimFile::~SimFile() {
  Files().erase(&Protocol);
}

SimFile *SimFile::From(EFI_FILE_PROTOCOL *P) {
  auto It = Files().find(P);
  if (It == Files().end()) {
    fprintf(stderr, "sim: file operation on an unknown handle\n");
    abort();
  }
  return It->second;
}
