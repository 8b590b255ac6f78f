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

EFI_STATUS EFIAPI FileClose(EFI_FILE_PROTOCOL *This) {
  SimFile::From(This)->Calls.push_back("Close");
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileDelete(EFI_FILE_PROTOCOL *This) {
  SimFile::From(This)->Calls.push_back("Delete");
  SimFile::From(This)->Contents.clear();
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileRead(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  SimFile *F = SimFile::From(This);
  F->Calls.push_back("Read");
  if (Size == nullptr || (*Size != 0 && Buffer == nullptr))
    return EFI_INVALID_PARAMETER;
  uint64_t Left = F->Position < F->Contents.size() ? F->Contents.size() - F->Position : 0;
  UINTN N = *Size < Left ? *Size : static_cast<UINTN>(Left);
  if (N != 0)
    memcpy(Buffer, F->Contents.data() + F->Position, N);
  F->Position += N;
  *Size = N;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileWrite(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
  SimFile *F = SimFile::From(This);
  F->Calls.push_back("Write");
  if (Size == nullptr || (*Size != 0 && Buffer == nullptr))
    return EFI_INVALID_PARAMETER;
  if (F->Position + *Size > F->Contents.size())
    F->Contents.resize(F->Position + *Size);
  if (*Size != 0)
    memcpy(F->Contents.data() + F->Position, Buffer, *Size);
  F->Position += *Size;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileGetPosition(EFI_FILE_PROTOCOL *This, UINT64 *Position) {
  SimFile::From(This)->Calls.push_back("GetPosition");
  *Position = SimFile::From(This)->Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileSetPosition(EFI_FILE_PROTOCOL *This, UINT64 Position) {
  SimFile *F = SimFile::From(This);
  F->Calls.push_back("SetPosition");
  F->Position = Position == ~0ULL ? F->Contents.size() : Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileGetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *Size,
                              VOID *Buffer) {
  SimFile *F = SimFile::From(This);
  F->Calls.push_back("GetInfo");
  if (EFI_ERROR(F->GetInfoStatus))
    return F->GetInfoStatus;
  if (Type == nullptr || !GuidsEqual(Type, &EfiFileInfoGuid) || Size == nullptr)
    return EFI_UNSUPPORTED;
  UINTN Needed = offsetof(EFI_FILE_INFO, FileName) + (F->Name.size() + 1) * sizeof(CHAR16);
  if (*Size < Needed || Buffer == nullptr) {
    *Size = F->GetInfoLiesAboutSize ? 8 : Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  auto *Info = static_cast<EFI_FILE_INFO *>(Buffer);
  memset(Info, 0, Needed);
  Info->Size = Needed;
  Info->FileSize = F->Contents.size();
  Info->PhysicalSize = (F->Contents.size() + 511) / 512 * 512;
  memcpy(Info->FileName, F->Name.c_str(), (F->Name.size() + 1) * sizeof(CHAR16));
  *Size = Needed;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileSetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *, UINTN, VOID *) {
  SimFile::From(This)->Calls.push_back("SetInfo");
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FileFlush(EFI_FILE_PROTOCOL *This) {
  SimFile::From(This)->Calls.push_back("Flush");
  return EFI_SUCCESS;
}

// The Shell 2.0 members the tool's file table takes: each records that the shell's own
// implementation was used, then does the work on the file.
EFI_FILE_INFO *EFIAPI ShellGetFileInfo(SHELL_FILE_HANDLE F) {
  SimFile::From(F)->Calls.push_back("shell:GetFileInfo");
  return nullptr;
}
EFI_STATUS EFIAPI ShellSetFileInfo(SHELL_FILE_HANDLE F, const EFI_FILE_INFO *) {
  SimFile::From(F)->Calls.push_back("shell:SetFileInfo");
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ShellReadFile(SHELL_FILE_HANDLE F, UINTN *Size, VOID *Buffer) {
  SimFile::From(F)->Calls.push_back("shell:ReadFile");
  return FileRead(F, Size, Buffer);
}
EFI_STATUS EFIAPI ShellWriteFile(SHELL_FILE_HANDLE F, UINTN *Size, VOID *Buffer) {
  SimFile::From(F)->Calls.push_back("shell:WriteFile");
  return FileWrite(F, Size, Buffer);
}
EFI_STATUS EFIAPI ShellCloseFile(SHELL_FILE_HANDLE F) {
  SimFile::From(F)->Calls.push_back("shell:CloseFile");
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ShellDeleteFile(SHELL_FILE_HANDLE F) {
  SimFile::From(F)->Calls.push_back("shell:DeleteFile");
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ShellGetFilePosition(SHELL_FILE_HANDLE F, UINT64 *P) {
  SimFile::From(F)->Calls.push_back("shell:GetFilePosition");
  *P = SimFile::From(F)->Position;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ShellSetFilePosition(SHELL_FILE_HANDLE F, UINT64 P) {
  SimFile::From(F)->Calls.push_back("shell:SetFilePosition");
  SimFile::From(F)->Position = P;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ShellFlushFile(SHELL_FILE_HANDLE F) {
  SimFile::From(F)->Calls.push_back("shell:FlushFile");
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ShellGetFileSize(SHELL_FILE_HANDLE F, UINT64 *Size) {
  SimFile::From(F)->Calls.push_back("shell:GetFileSize");
  *Size = SimFile::From(F)->Contents.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Unsupported() {
  return EFI_UNSUPPORTED;
}

} // namespace

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
  void **Slots = reinterpret_cast<void **>(&Protocol);
  for (size_t I = 0; I < offsetof(EFI_SHELL_PROTOCOL, MajorVersion) / sizeof(void *); I++)
    Slots[I] = reinterpret_cast<void *>(&Unsupported);
  Protocol.GetFileInfo = ShellGetFileInfo;
  Protocol.SetFileInfo = ShellSetFileInfo;
  Protocol.ReadFile = ShellReadFile;
  Protocol.WriteFile = ShellWriteFile;
  Protocol.CloseFile = ShellCloseFile;
  Protocol.DeleteFile = ShellDeleteFile;
  Protocol.GetFilePosition = ShellGetFilePosition;
  Protocol.SetFilePosition = ShellSetFilePosition;
  Protocol.FlushFile = ShellFlushFile;
  Protocol.GetFileSize = ShellGetFileSize;
  Protocol.ExecutionBreak = nullptr;
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
  for (size_t I = 0; I < Env2Forms.size() && Placement != EnvironmentPlacement::None; I++) {
    auto Env = std::make_unique<EFI_SHELL_ENVIRONMENT2>();
    memset(Env.get(), 0, sizeof(EFI_SHELL_ENVIRONMENT2));
    if (Env2Forms[I])
      Env->SESGuid = ShellEnvironment2ExtensionGuid;
    else
      Env->SESGuid = EFI_GUID{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
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
  Protocol.Revision = 0x00010000;
  Protocol.Open = reinterpret_cast<EFI_FILE_OPEN>(&Unsupported);
  Protocol.Close = FileClose;
  Protocol.Delete = FileDelete;
  Protocol.Read = FileRead;
  Protocol.Write = FileWrite;
  Protocol.GetPosition = FileGetPosition;
  Protocol.SetPosition = FileSetPosition;
  Protocol.GetInfo = FileGetInfo;
  Protocol.SetInfo = FileSetInfo;
  Protocol.Flush = FileFlush;
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
