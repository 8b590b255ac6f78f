// The two shells an application may be started from: UEFI Shell 2.0 (shell protocol and the
// per-image parameters protocol) and the older EFI 1.1 shell (shell environment and the per-image
// shell interface).
#pragma once

#include "uefi/uefi_base.h"
#include "uefi/uefi_file.h"

typedef EFI_FILE_PROTOCOL *SHELL_FILE_HANDLE;

typedef EFI_FILE_INFO *(EFIAPI *EFI_SHELL_GET_FILE_INFO)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_SET_FILE_INFO)(SHELL_FILE_HANDLE FileHandle,
                                                    const EFI_FILE_INFO *FileInfo);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_READ_FILE)(SHELL_FILE_HANDLE FileHandle, UINTN *ReadSize,
                                                VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_WRITE_FILE)(SHELL_FILE_HANDLE FileHandle, UINTN *BufferSize,
                                                 VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_CLOSE_FILE)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_DELETE_FILE)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_GET_FILE_POSITION)(SHELL_FILE_HANDLE FileHandle,
                                                        UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_SET_FILE_POSITION)(SHELL_FILE_HANDLE FileHandle,
                                                        UINT64 Position);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_FLUSH_FILE)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_GET_FILE_SIZE)(SHELL_FILE_HANDLE FileHandle, UINT64 *Size);
// Names are taken as the shell takes them: relative to its current folder, or with a mapping
// ("fs0:\\...").
typedef EFI_STATUS(EFIAPI *EFI_SHELL_OPEN_FILE_BY_NAME)(const CHAR16 *FileName,
                                                        SHELL_FILE_HANDLE *FileHandle,
                                                        UINT64 OpenMode);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_CREATE_FILE)(const CHAR16 *FileName, UINT64 FileAttribs,
                                                  SHELL_FILE_HANDLE *FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_DELETE_FILE_BY_NAME)(const CHAR16 *FileName);

struct EFI_SHELL_PROTOCOL {
  VOID *Execute;
  VOID *GetEnv;
  VOID *SetEnv;
  VOID *GetAlias;
  VOID *SetAlias;
  VOID *GetHelpText;
  VOID *GetDevicePathFromMap;
  VOID *GetMapFromDevicePath;
  VOID *GetDevicePathFromFilePath;
  VOID *GetFilePathFromDevicePath;
  VOID *SetMap;
  VOID *GetCurDir;
  VOID *SetCurDir;
  VOID *OpenFileList;
  VOID *FreeFileList;
  VOID *RemoveDupInFileList;
  VOID *BatchIsActive;
  VOID *IsRootShell;
  VOID *EnablePageBreak;
  VOID *DisablePageBreak;
  VOID *GetPageBreak;
  VOID *GetDeviceName;
  EFI_SHELL_GET_FILE_INFO GetFileInfo;
  EFI_SHELL_SET_FILE_INFO SetFileInfo;
  EFI_SHELL_OPEN_FILE_BY_NAME OpenFileByName;
  EFI_SHELL_CLOSE_FILE CloseFile;
  EFI_SHELL_CREATE_FILE CreateFile;
  EFI_SHELL_READ_FILE ReadFile;
  EFI_SHELL_WRITE_FILE WriteFile;
  EFI_SHELL_DELETE_FILE DeleteFile;
  EFI_SHELL_DELETE_FILE_BY_NAME DeleteFileByName;
  EFI_SHELL_GET_FILE_POSITION GetFilePosition;
  EFI_SHELL_SET_FILE_POSITION SetFilePosition;
  EFI_SHELL_FLUSH_FILE FlushFile;
  VOID *FindFiles;
  VOID *FindFilesInDir;
  EFI_SHELL_GET_FILE_SIZE GetFileSize;
  VOID *OpenRoot;
  VOID *OpenRootByHandle;
  EFI_EVENT ExecutionBreak;
  UINT32 MajorVersion;
  UINT32 MinorVersion;
  // Shell 2.1 additions.
  VOID *RegisterGuidName;
  VOID *GetGuidName;
  VOID *GetGuidFromName;
  VOID *GetEnvEx;
};
static_assert(sizeof(EFI_SHELL_PROTOCOL) == 360, "EFI_SHELL_PROTOCOL layout");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileInfo) == 176, "GetFileInfo slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetFileInfo) == 184, "SetFileInfo slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, OpenFileByName) == 192, "OpenFileByName slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, CloseFile) == 200, "CloseFile slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, CreateFile) == 208, "CreateFile slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, ReadFile) == 216, "ReadFile slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, WriteFile) == 224, "WriteFile slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, DeleteFile) == 232, "DeleteFile slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, DeleteFileByName) == 240, "DeleteFileByName slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFilePosition) == 248, "GetFilePosition slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetFilePosition) == 256, "SetFilePosition slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, FlushFile) == 264, "FlushFile slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileSize) == 288, "GetFileSize slot");
static_assert(offsetof(EFI_SHELL_PROTOCOL, MajorVersion) == 320, "version fields");

struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16 **Argv;
  UINTN Argc;
  SHELL_FILE_HANDLE StdIn;
  SHELL_FILE_HANDLE StdOut;
  SHELL_FILE_HANDLE StdErr;
};
static_assert(sizeof(EFI_SHELL_PARAMETERS_PROTOCOL) == 40, "parameters protocol layout");
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argv) == 0, "Argv first");
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8, "Argc second");

// EFI 1.1 shell: the per-image interface carrying the arguments.
struct EFI_SHELL_INTERFACE {
  EFI_HANDLE ImageHandle;
  VOID *Info;
  CHAR16 **Argv;
  UINTN Argc;
  CHAR16 **RedirArgv;
  UINTN RedirArgc;
  EFI_FILE_PROTOCOL *StdIn;
  EFI_FILE_PROTOCOL *StdOut;
  EFI_FILE_PROTOCOL *StdErr;
  UINT32 EchoOn;
};
static_assert(offsetof(EFI_SHELL_INTERFACE, Argv) == 16, "EFI 1.1 Argv offset");
static_assert(offsetof(EFI_SHELL_INTERFACE, Argc) == 24, "EFI 1.1 Argc offset");
static_assert(sizeof(EFI_SHELL_INTERFACE) == 80, "EFI 1.1 shell interface layout");

// EFI 1.1 shell environment. The first twelve members are the original environment; the
// environment-2 form appends a GUID that identifies it, then further members.
struct EFI_SHELL_ENVIRONMENT2 {
  VOID *Execute;
  VOID *GetEnv;
  VOID *GetMap;
  VOID *AddCmd;
  VOID *AddProt;
  VOID *GetProt;
  VOID *CurDir;
  VOID *FileMetaArg;
  VOID *FreeFileList;
  VOID *NewShell;
  VOID *BatchIsActive;
  VOID *FreeResources;
  EFI_GUID SESGuid;
  VOID *Enablepagebreak;
  VOID *Disablepagebreak;
  VOID *GetPageBreak;
  VOID *SetKeyFilter;
  VOID *GetKeyFilter;
  VOID *GetExecutionBreak;
  VOID *IncrementShellNestingLevel;
  VOID *DecrementShellNestingLevel;
  VOID *IsRootShell;
  VOID *CloseConsoleProxy;
  VOID *HandleEnum[8];
};
static_assert(offsetof(EFI_SHELL_ENVIRONMENT2, SESGuid) == 96, "environment-2 GUID offset");

constexpr EFI_GUID EfiShellProtocolGuid = {
    0x6302D008, 0x7F9B, 0x4F30, {0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E}};
constexpr EFI_GUID EfiShellParametersProtocolGuid = {
    0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};
constexpr EFI_GUID ShellEnvironmentProtocolGuid = {
    0x47C7B221, 0xC42A, 0x11D2, {0x8E, 0x57, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
constexpr EFI_GUID ShellInterfaceProtocolGuid = {
    0x47C7B223, 0xC42A, 0x11D2, {0x8E, 0x57, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
constexpr EFI_GUID ShellEnvironment2ExtensionGuid = {
    0xD2C18636, 0x40E5, 0x4EB5, {0xA3, 0x1B, 0x36, 0x69, 0x5F, 0xD4, 0x2C, 0x87}};
