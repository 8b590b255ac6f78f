#include "hosted/shell.h"

#include <cstddef>

namespace {

// Shell 2.0's functions on a handle: the file protocol's own function underneath, as in the
// shell itself.
EFI_FILE_INFO *EFIAPI ShellGetFileInfo(SHELL_FILE_HANDLE F) {
  UINTN Size = 0;
  F->GetInfo(F, &EfiFileInfoGuid, &Size, nullptr);
  void *Info = HostedFirmware::Active().PoolAllocate(Size);
  if (Info != nullptr && EFI_ERROR(F->GetInfo(F, &EfiFileInfoGuid, &Size, Info))) {
    HostedFirmware::Active().PoolFree(Info); // the shell frees its buffer when the read fails
    return nullptr;
  }
  return static_cast<EFI_FILE_INFO *>(Info);
}
EFI_STATUS EFIAPI ShellSetFileInfo(SHELL_FILE_HANDLE F, const EFI_FILE_INFO *Info) {
  return F->SetInfo(F, &EfiFileInfoGuid, Info->Size, const_cast<EFI_FILE_INFO *>(Info));
}
EFI_STATUS EFIAPI ShellGetFileSize(SHELL_FILE_HANDLE F, UINT64 *Size) {
  alignas(EFI_FILE_INFO) UINT8 Info[sizeof(EFI_FILE_INFO) + 512];
  UINTN Length = sizeof(Info);
  EFI_STATUS Status = F->GetInfo(F, &EfiFileInfoGuid, &Length, Info);
  if (!EFI_ERROR(Status))
    *Size = reinterpret_cast<EFI_FILE_INFO *>(Info)->FileSize;
  return Status;
}
template <auto Function, typename... Args>
EFI_STATUS EFIAPI Forward(SHELL_FILE_HANDLE F, Args... Arguments) {
  return (F->*Function)(F, Arguments...);
}

// A shell whose current folder is on no volume served here finds no file by name.
EFI_STATUS EFIAPI NoFileByName(const CHAR16 *, SHELL_FILE_HANDLE *, UINT64) {
  return EFI_NOT_FOUND;
}

} // namespace

ShellArguments::ShellArguments(const std::vector<std::u16string> &Args) : Storage(Args) {
  for (auto &S : Storage)
    Pointers.push_back(S.data());
  Pointers.push_back(nullptr);
}

HostedShell20::HostedShell20(HostedFirmware &Firmware, EFI_HANDLE Image, Ucs2 Args,
                             ShellProtocolPlacement Placement, bool WithParameters)
    : Arguments(Args.Args) {
  FillUnsupported(&Protocol, offsetof(EFI_SHELL_PROTOCOL, ExecutionBreak) / sizeof(void *));
  Protocol.OpenFileByName = NoFileByName;
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
  // The shell publishes its protocol on a handle of its own, and on each image it starts.
  Firmware.Handles.Install(Firmware.Handles.CreateHandle(), EfiShellProtocolGuid, &Protocol);
  if (Placement == ShellProtocolPlacement::OnImage)
    Firmware.Handles.Install(Image, EfiShellProtocolGuid, &Protocol);
  Parameters.Argv = Arguments.Argv();
  Parameters.Argc = Arguments.Argc();
  if (WithParameters)
    Firmware.Handles.Install(Image, EfiShellParametersProtocolGuid, &Parameters);
}
