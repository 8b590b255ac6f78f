// Launcher.efi: a boot application that runs the tool without any shell, for the end-to-end runs
// that must not depend on one: the EFI 1.1 argument source under real firmware, and Secure Boot,
// where the firmware refuses to start the built-in shell. The boot manager starts it as
// \EFI\BOOT\BOOTX64.EFI; it reads \launch.txt from its own volume (UCS-2, one line each):
//
//   load NAME                 LoadImage + StartImage a driver (the simulated board)
//   efi11 NAME ARGS           the EFI 1.1 shell's interface (Argv, Argc) and an environment-2
//                             shell environment, both on the child's image handle
//   efi11-search NAME ARGS    the interface on the image handle; on the image handle an
//                             environment of the original form only, the environment-2 one on
//                             a handle of its own between two decoys, so the tool must search
//   shell2 NAME ARGS          the Shell 2.0 parameters protocol (Argv, Argc) on the image handle
//   builtin-shell             load and start the firmware's built-in UEFI Shell (see below)
//
// For the Nth command line it writes \oN.txt (what the image wrote to ConOut, UCS-2 with a
// byte-order mark, as shell redirection does), \sN.txt (its exit status as the shell's
// %lasterror% shows it, or "LoadImage" and the status when the firmware refused to load it) and
// \pN.txt (whether the image closed the launcher's protocols again). It prints the runner's
// progress markers on the console and powers the machine off at the end.
//
// Capture: while the child runs, ConOut's OutputString is replaced by a recorder that keeps the
// text and passes it on. The check: while the child runs, OpenProtocol and CloseProtocol are
// wrapped; after each open or close the child makes, OpenProtocolInformation tells how many opens
// the child holds on the protocols the launcher installed. The firmware closes whatever an
// application left open once it returns, so the check has to happen before that: the count after
// the child's last open or close is what it left open, and a child that never closed anything
// is reported as such.
#include "uefi/uefi.h"
#include "e2e/console_text.h"

namespace {

constexpr UINTN ScriptMax = 16384;    // bytes of \launch.txt
constexpr UINTN CaptureChars = 32768; // characters of one run's console output
constexpr UINTN ArgsMax = 32;
constexpr UINTN PathMax = 1024;

// --- Firmware interfaces beyond the tool's own -------------------------------------------

typedef EFI_STATUS(EFIAPI *LoadImageFn)(BOOLEAN BootPolicy, EFI_HANDLE Parent,
                                        EFI_DEVICE_PATH_PROTOCOL *Path, VOID *Source, UINTN Size,
                                        EFI_HANDLE *Image);
typedef EFI_STATUS(EFIAPI *StartImageFn)(EFI_HANDLE Image, UINTN *ExitDataSize, CHAR16 **ExitData);
typedef EFI_STATUS(EFIAPI *UnloadImageFn)(EFI_HANDLE Image);
typedef EFI_STATUS(EFIAPI *UninstallProtocolFn)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                VOID *Interface);

struct OpenProtocolInformationEntry {
  EFI_HANDLE AgentHandle;
  EFI_HANDLE ControllerHandle;
  UINT32 Attributes;
  UINT32 OpenCount;
};
static_assert(sizeof(OpenProtocolInformationEntry) == 24, "open information entry layout");
typedef EFI_STATUS(EFIAPI *OpenProtocolInformationFn)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                      OpenProtocolInformationEntry **Entries,
                                                      UINTN *Count);

// Runtime services: GetVariable (the SecureBoot flag) and ResetSystem (power off).
typedef EFI_STATUS(EFIAPI *GetVariableFn)(const CHAR16 *Name, const EFI_GUID *Vendor,
                                          UINT32 *Attributes, UINTN *Size, VOID *Data);
typedef VOID(EFIAPI *ResetSystemFn)(UINT32 Type, EFI_STATUS Status, UINTN Size, VOID *Data);
constexpr UINTN RuntimeGetVariableOffset = 24 + 6 * 8;
constexpr UINTN RuntimeResetSystemOffset = 24 + 10 * 8;
constexpr UINT32 EfiResetShutdown = 2;
constexpr EFI_GUID EfiGlobalVariableGuid = {
    0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};

static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 200, "LoadImage slot");
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 208, "StartImage slot");
static_assert(offsetof(EFI_BOOT_SERVICES, UnloadImage) == 224, "UnloadImage slot");
static_assert(offsetof(EFI_BOOT_SERVICES, UninstallProtocolInterface) == 144, "Uninstall slot");
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocolInformation) == 296, "OpenInfo slot");
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88, "RuntimeServices offset");

constexpr UINT8 MediaDevicePath = 4, FilePathSubType = 4, EndDevicePath = 0x7F, EndEntire = 0xFF;
constexpr UINT64 FileModeWrite = 0x2, FileModeCreate = 0x8000000000000000ULL;

// --- State --------------------------------------------------------------------------------

EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_HANDLE gSelf;
EFI_FILE_PROTOCOL *gRoot;
EFI_DEVICE_PATH_PROTOCOL *gVolumePath;
UINTN gVolumePathBytes;

// What the running child wrote, and what it still held open after each of its closes.
CHAR16 *gCapture;
UINTN gCaptured;
bool gCaptureOverflow;
EFI_TEXT_STRING gRealOutputString;
EFI_CLOSE_PROTOCOL gRealCloseProtocol;
EFI_HANDLE gChild;
struct Installed {
  EFI_HANDLE Handle;
  const EFI_GUID *Protocol;
  VOID *Interface;
};
Installed gInstalled[6];
UINTN gInstalledCount;
UINTN gClosesSeen;
UINTN gOpenAfterLastClose;
bool gInformationFailed;
EFI_HANDLE_PROTOCOL gRealHandleProtocol;
EFI_OPEN_PROTOCOL gRealOpenProtocol;
UINTN gChildCalls; // the child's own HandleProtocol and OpenProtocol calls on its image handle
typedef EFI_STATUS(EFIAPI *SetVariableFn)(const CHAR16 *Name, const EFI_GUID *Vendor,
                                          UINT32 Attributes, UINTN Size, VOID *Data);
constexpr UINTN RuntimeSetVariableOffset = 24 + 8 * 8;
SetVariableFn gRealSetVariable;
GetVariableFn gRealGetVariable;
LoadImageFn gRealLoadImage;

// The interfaces the launcher installs: the EFI 1.1 ones, one environment of each form and the
// Shell 2.0 parameters. The environments' functions are never called by the tool.
EFI_SHELL_INTERFACE gInterface;
EFI_SHELL_ENVIRONMENT2 gEnvironment2;
EFI_SHELL_ENVIRONMENT2 gEnvironmentOriginal; // no environment-2 GUID: the original form
EFI_SHELL_PARAMETERS_PROTOCOL gParameters;
CHAR16 *gArgv[ArgsMax + 1];
CHAR16 gArgText[1024];

// A progress marker for the runner. Statuses are shown as the shell's %lasterror% shows them:
// 0x and upper-case hexadecimal digits.
template <typename... T> void Progress(UcsFormat<T...> Format, const T &...Values) {
  CHAR16 Line[MessageChars];
  const UINTN Length = FormatLine(Line, u"KESTREL-E2E ");
  FormatWithFlags(Line + Length, MessageChars - Length, FormatWideOutput, Format, Values...);
  gRealOutputString(gST->ConOut, Line);
}

// --- Files on the launcher's volume -------------------------------------------------------

EFI_STATUS WriteFile(const CHAR16 *Name, const VOID *Data, UINTN Size) {
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status =
      gRoot->Open(gRoot, &File, Name, EFI_FILE_MODE_READ | FileModeWrite | FileModeCreate, 0);
  if (EFI_ERROR(Status))
    return Status;
  Status = File->Write(File, &Size, const_cast<VOID *>(Data));
  const EFI_STATUS Closed = File->Close(File);
  return EFI_ERROR(Status) ? Status : Closed;
}

// A short text file, UCS-2 with a byte-order mark like the shell's redirected output.
EFI_STATUS WriteText(const CHAR16 *Name, const CHAR16 *Text, UINTN Length) {
  UINTN Bytes = (Length + 1) * sizeof(CHAR16);
  CHAR16 *Buffer = nullptr;
  EFI_STATUS Status =
      gBS->AllocatePool(EfiBootServicesData, Bytes, reinterpret_cast<VOID **>(&Buffer));
  if (EFI_ERROR(Status))
    return Status;
  Buffer[0] = 0xFEFF;
  __builtin_memcpy(Buffer + 1, Text, Length * sizeof(CHAR16));
  Status = WriteFile(Name, Buffer, Bytes);
  gBS->FreePool(Buffer);
  return Status;
}

// \oN.txt, \sN.txt, \pN.txt: the Nth command's output, status and protocol check.
struct ResultFiles {
  CHAR16 Out[16], Status[16], Protocols[16];
  explicit ResultFiles(UINTN Number) {
    FormatWithFlags(Out, 16, FormatWideOutput, u"\\o%ld.txt", Number);
    FormatWithFlags(Status, 16, FormatWideOutput, u"\\s%ld.txt", Number);
    FormatWithFlags(Protocols, 16, FormatWideOutput, u"\\p%ld.txt", Number);
  }
};

// --- Loading images -----------------------------------------------------------------------

// The volume's device path with a file node for \NAME: where LoadImage reads the image from, so
// that the firmware knows its source (and, under Secure Boot, verifies it as a disk image).
EFI_DEVICE_PATH_PROTOCOL *FilePath(const CHAR16 *Name, UINT8 *Buffer) {
  UINTN NameChars = 0;
  while (Name[NameChars] != u'\0')
    NameChars++;
  const UINTN NodeBytes = 4 + (NameChars + 2) * sizeof(CHAR16);
  if (gVolumePathBytes + NodeBytes + 4 > PathMax)
    return nullptr;
  __builtin_memcpy(Buffer, gVolumePath, gVolumePathBytes);
  UINT8 *Node = Buffer + gVolumePathBytes;
  Node[0] = MediaDevicePath;
  Node[1] = FilePathSubType;
  Node[2] = static_cast<UINT8>(NodeBytes);
  Node[3] = static_cast<UINT8>(NodeBytes >> 8);
  CHAR16 Path[PathMax / 2];
  Path[0] = u'\\';
  __builtin_memcpy(Path + 1, Name, (NameChars + 1) * sizeof(CHAR16));
  __builtin_memcpy(Node + 4, Path, (NameChars + 2) * sizeof(CHAR16));
  UINT8 *End = Node + NodeBytes;
  End[0] = EndDevicePath;
  End[1] = EndEntire;
  End[2] = 4;
  End[3] = 0;
  return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Buffer);
}

EFI_STATUS Load(const CHAR16 *Name, EFI_HANDLE *Child) {
  UINT8 Buffer[PathMax];
  EFI_DEVICE_PATH_PROTOCOL *Path = FilePath(Name, Buffer);
  if (Path == nullptr)
    return EFI_BAD_BUFFER_SIZE;
  *Child = nullptr;
  return reinterpret_cast<LoadImageFn>(gBS->LoadImage)(false, gSelf, Path, nullptr, 0, Child);
}

// --- Capture and the close check ----------------------------------------------------------

EFI_STATUS EFIAPI RecordOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *Text) {
  for (const CHAR16 *C = Text; *C != u'\0'; C++) {
    if (gCaptured < CaptureChars)
      gCapture[gCaptured++] = *C;
    else
      gCaptureOverflow = true;
  }
  return gRealOutputString(This, Text);
}

UINTN OpensHeldByChild() {
  auto Information = reinterpret_cast<OpenProtocolInformationFn>(gBS->OpenProtocolInformation);
  UINTN Held = 0;
  for (UINTN I = 0; I < gInstalledCount; I++) {
    OpenProtocolInformationEntry *Entries = nullptr;
    UINTN Count = 0;
    if (EFI_ERROR(Information(gInstalled[I].Handle, gInstalled[I].Protocol, &Entries, &Count))) {
      gInformationFailed = true;
      continue;
    }
    for (UINTN E = 0; E < Count; E++) {
      if (Entries[E].AgentHandle == gChild)
        Held += Entries[E].OpenCount;
    }
    if (Entries != nullptr)
      gBS->FreePool(Entries);
  }
  return Held;
}

// Every failed firmware call the probed shell makes is written into its transcript, so that the
// reason for its refusal can be read there.
template <typename... T> void RecordText(UcsFormat<T...> Format, const T &...Values) {
  CHAR16 Line[MessageChars];
  FormatLine(Line, Format, Values...);
  for (const CHAR16 *Text = Line; *Text != u'\0' && gCaptured < CaptureChars; Text++)
    gCapture[gCaptured++] = *Text;
}

void RecordCall(const CHAR16 *What, const EFI_GUID *Protocol, EFI_STATUS Status) {
  RecordText(u"[%s 0x%X: 0x%lX]\n", What, Protocol->Data1, Status);
}

EFI_STATUS EFIAPI CountHandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                      VOID **Interface) {
  const EFI_STATUS Status = gRealHandleProtocol(Handle, Protocol, Interface);
  if (Handle == gChild && gChild != nullptr) {
    gChildCalls++;
    RecordCall(u"HandleProtocol", Protocol, Status);
  }
  return Status;
}

EFI_STATUS EFIAPI CountOpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                    EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  const EFI_STATUS Status =
      gRealOpenProtocol(Handle, Protocol, Interface, Agent, Controller, Attributes);
  if (Agent == gChild && gChild != nullptr) {
    gChildCalls++;
    RecordCall(u"OpenProtocol", Protocol, Status);
  }
  return Status;
}

EFI_STATUS EFIAPI RecordSetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 Attributes,
                                    UINTN Size, VOID *Data) {
  const EFI_STATUS Status = gRealSetVariable(Name, Vendor, Attributes, Size, Data);
  RecordText(u"[SetVariable %s attributes 0x%X: 0x%lX]\n", Name, Attributes, Status);
  return Status;
}

EFI_STATUS EFIAPI RecordGetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 *Attributes,
                                    UINTN *Size, VOID *Data) {
  const EFI_STATUS Status = gRealGetVariable(Name, Vendor, Attributes, Size, Data);
  if (!EFI_ERROR(Status) && Data != nullptr && *Size == 1)
    RecordText(u"[GetVariable %s: 0x%lX, value %d]\n", Name, Status, *static_cast<UINT8 *>(Data));
  else
    RecordText(u"[GetVariable %s: 0x%lX]\n", Name, Status);
  return Status;
}

EFI_STATUS EFIAPI RecordLoadImage(BOOLEAN BootPolicy, EFI_HANDLE Parent,
                                  EFI_DEVICE_PATH_PROTOCOL *Path, VOID *Source, UINTN Size,
                                  EFI_HANDLE *Image) {
  const EFI_STATUS Status = gRealLoadImage(BootPolicy, Parent, Path, Source, Size, Image);
  RecordText(u"[LoadImage: 0x%lX]\n", Status);
  return Status;
}

EFI_STATUS EFIAPI WatchClose(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE Agent,
                             EFI_HANDLE Controller) {
  const EFI_STATUS Status = gRealCloseProtocol(Handle, Protocol, Agent, Controller);
  if (Agent == gChild && gChild != nullptr) {
    gClosesSeen++;
    gOpenAfterLastClose = OpensHeldByChild();
  }
  return Status;
}

// An open after the child's last close is counted too: it is then what the child leaves open.
EFI_STATUS EFIAPI WatchOpen(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                            EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  const EFI_STATUS Status =
      gRealOpenProtocol(Handle, Protocol, Interface, Agent, Controller, Attributes);
  if (Agent == gChild && gChild != nullptr)
    gOpenAfterLastClose = OpensHeldByChild();
  return Status;
}

// --- Argument vector ----------------------------------------------------------------------

// NAME then ARGS split at spaces; double quotes group words and are dropped (as the shell does
// for the simple command lines the sessions use).
UINTN SplitArguments(const CHAR16 *Name, const CHAR16 *Args) {
  UINTN Argc = 0, Used = 0;
  auto Start = [&]() -> bool {
    if (Argc >= ArgsMax)
      return false;
    gArgv[Argc++] = gArgText + Used;
    return true;
  };
  auto Put = [&](CHAR16 C) {
    if (Used + 1 < sizeof(gArgText) / sizeof(CHAR16))
      gArgText[Used++] = C;
  };
  Start();
  for (const CHAR16 *C = Name; *C != u'\0'; C++)
    Put(*C);
  Put(u'\0');
  const CHAR16 *C = Args;
  while (*C != u'\0') {
    while (*C == u' ')
      C++;
    if (*C == u'\0' || !Start())
      break;
    bool Quoted = false;
    for (; *C != u'\0' && (Quoted || *C != u' '); C++) {
      if (*C == u'"')
        Quoted = !Quoted;
      else
        Put(*C);
    }
    Put(u'\0');
  }
  gArgv[Argc] = nullptr;
  return Argc;
}

// --- One command --------------------------------------------------------------------------

bool Install(EFI_HANDLE *Handle, const EFI_GUID &Protocol, VOID *Interface) {
  if (EFI_ERROR(gBS->InstallProtocolInterface(Handle, &Protocol, EFI_NATIVE_INTERFACE, Interface)))
    return false;
  gInstalled[gInstalledCount++] = {*Handle, &Protocol, Interface};
  return true;
}

void UninstallAll() {
  auto Uninstall = reinterpret_cast<UninstallProtocolFn>(gBS->UninstallProtocolInterface);
  for (UINTN I = gInstalledCount; I > 0; I--)
    Uninstall(gInstalled[I - 1].Handle, gInstalled[I - 1].Protocol, gInstalled[I - 1].Interface);
  gInstalledCount = 0;
}

bool InstallArgumentSource(const CHAR16 *Mode, UINTN Argc) {
  auto Is = [&](const CHAR16 *Word) {
    UINTN I = 0;
    for (; Word[I] != u'\0'; I++) {
      if (Mode[I] != Word[I])
        return false;
    }
    return Mode[I] == u'\0';
  };
  EFI_HANDLE Child = gChild;
  if (Is(u"shell2")) {
    gParameters = {gArgv, Argc, nullptr, nullptr, nullptr};
    return Install(&Child, EfiShellParametersProtocolGuid, &gParameters);
  }
  gInterface = {};
  gInterface.ImageHandle = gChild;
  // The EFI 1.1 shell points Info at the image's loaded-image protocol.
  gBS->HandleProtocol(gChild, &EfiLoadedImageProtocolGuid, &gInterface.Info);
  gInterface.Argv = gArgv;
  gInterface.Argc = Argc;
  if (!Install(&Child, ShellInterfaceProtocolGuid, &gInterface))
    return false;
  if (Is(u"efi11"))
    return Install(&Child, ShellEnvironmentProtocolGuid, &gEnvironment2);
  if (!Is(u"efi11-search"))
    return false;
  // The original form on the image handle, then on new handles a decoy of the original form,
  // the environment-2 one and another decoy: whatever order LocateHandle returns them in, the
  // tool passes over at least one interface it cannot use.
  EFI_HANDLE First = nullptr, Second = nullptr, Third = nullptr;
  return Install(&Child, ShellEnvironmentProtocolGuid, &gEnvironmentOriginal) &&
         Install(&First, ShellEnvironmentProtocolGuid, &gEnvironmentOriginal) &&
         Install(&Second, ShellEnvironmentProtocolGuid, &gEnvironment2) &&
         Install(&Third, ShellEnvironmentProtocolGuid, &gEnvironmentOriginal);
}

void RunCommand(UINTN Number, const CHAR16 *Mode, const CHAR16 *Name, const CHAR16 *Args) {
  Progress(u"run %ld\n", Number);
  const ResultFiles Files(Number);
  CHAR16 Status[MessageChars], Check[MessageChars];
  UINTN StatusLength = 0;

  EFI_HANDLE Child = nullptr;
  EFI_STATUS Loaded = Load(Name, &Child);
  if (EFI_ERROR(Loaded)) {
    // Never started. A refused image that the firmware still keeps loaded is unloaded.
    if (Child != nullptr)
      reinterpret_cast<UnloadImageFn>(gBS->UnloadImage)(Child);
    StatusLength = FormatLine(Status, u"LoadImage 0x%lX %r", Loaded, Loaded);
    FormatLine(Check, u"not started");
    WriteText(Files.Out, u"", 0);
  } else {
    gChild = Child;
    gCaptured = 0;
    gCaptureOverflow = false;
    gClosesSeen = 0;
    gOpenAfterLastClose = 0;
    gInformationFailed = false;
    const UINTN Argc = SplitArguments(Name, Args);
    if (!InstallArgumentSource(Mode, Argc)) {
      UninstallAll();
      reinterpret_cast<UnloadImageFn>(gBS->UnloadImage)(Child);
      Progress(u"failed: cannot install the argument source for %s\n", Mode);
      return;
    }
    gST->ConOut->OutputString = RecordOutput;
    gBS->CloseProtocol = WatchClose;
    gBS->OpenProtocol = WatchOpen;
    const EFI_STATUS Exit =
        reinterpret_cast<StartImageFn>(gBS->StartImage)(Child, nullptr, nullptr);
    gBS->OpenProtocol = gRealOpenProtocol;
    gBS->CloseProtocol = gRealCloseProtocol;
    gST->ConOut->OutputString = gRealOutputString;
    UninstallAll();
    gChild = nullptr;
    StatusLength = FormatLine(Status, u"0x%lX", Exit);
    const UINTN Length = gInformationFailed ? FormatLine(Check, u"OpenProtocolInformation failed")
                         : gClosesSeen == 0 ? FormatLine(Check, u"never closed")
                         : gOpenAfterLastClose != 0
                             ? FormatLine(Check, u"left open: %ld", gOpenAfterLastClose)
                             : FormatLine(Check, u"closed (%ld closes)", gClosesSeen);
    if (gCaptureOverflow)
      FormatWithFlags(Check + Length, MessageChars - Length, FormatWideOutput, u"; output cut");
    WriteText(Files.Out, gCapture, gCaptured);
  }
  WriteText(Files.Status, Status, StatusLength);
  CHAR16 Note[MessageChars];
  WriteText(Files.Protocols, Note, FormatLine(Note, u"%s %s", Mode, Check));
}

// --- The firmware's own shell -------------------------------------------------------------

// OVMF's built-in UEFI Shell: the file 7C04A583-9E3E-4F1C-AD65-E05268D0B4D1 in the firmware
// volume 7CB8BDC9-F8EB-4F34-AAEA-3EE4AF6516A1, the path of the boot manager's "EFI Internal
// Shell" option. Loaded and started without arguments; what is recorded is whether LoadImage
// accepts it, what StartImage returns, and whether any of the shell's own code ran (its calls
// on its image handle: any image's start-up asks for its loaded-image protocol).
void ProbeBuiltInShell(UINTN Number) {
  Progress(u"run %ld\n", Number);
  struct {
    UINT8 Fv[4 + 16];
    UINT8 File[4 + 16];
    UINT8 End[4];
  } Path = {};
  static_assert(sizeof(Path) == 44, "firmware-volume file path");
  constexpr EFI_GUID FvGuid = {
      0x7CB8BDC9, 0xF8EB, 0x4F34, {0xAA, 0xEA, 0x3E, 0xE4, 0xAF, 0x65, 0x16, 0xA1}};
  constexpr EFI_GUID ShellFileGuid = {
      0x7C04A583, 0x9E3E, 0x4F1C, {0xAD, 0x65, 0xE0, 0x52, 0x68, 0xD0, 0xB4, 0xD1}};
  Path.Fv[0] = MediaDevicePath;
  Path.Fv[1] = 7; // firmware volume
  Path.Fv[2] = 20;
  __builtin_memcpy(Path.Fv + 4, &FvGuid, 16);
  Path.File[0] = MediaDevicePath;
  Path.File[1] = 6; // firmware file
  Path.File[2] = 20;
  __builtin_memcpy(Path.File + 4, &ShellFileGuid, 16);
  Path.End[0] = EndDevicePath;
  Path.End[1] = EndEntire;
  Path.End[2] = 4;
  EFI_HANDLE Child = nullptr;
  const EFI_STATUS Loaded = reinterpret_cast<LoadImageFn>(gBS->LoadImage)(
      true, gSelf, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(&Path), nullptr, 0, &Child);
  CHAR16 Status[MessageChars];
  UINTN StatusLength = FormatLine(Status, u"LoadImage 0x%lX", Loaded);
  gCaptured = 0;
  if (!EFI_ERROR(Loaded)) {
    gChild = Child;
    gChildCalls = 0;
    auto *Runtime = static_cast<UINT8 *>(gST->RuntimeServices);
    auto *SetVariableSlot = reinterpret_cast<SetVariableFn *>(Runtime + RuntimeSetVariableOffset);
    gRealSetVariable = *SetVariableSlot;
    auto *GetVariableSlot = reinterpret_cast<GetVariableFn *>(Runtime + RuntimeGetVariableOffset);
    gRealGetVariable = *GetVariableSlot;
    *GetVariableSlot = RecordGetVariable;
    gRealLoadImage = reinterpret_cast<LoadImageFn>(gBS->LoadImage);
    gBS->HandleProtocol = CountHandleProtocol;
    gBS->OpenProtocol = CountOpenProtocol;
    gBS->LoadImage = reinterpret_cast<VOID *>(RecordLoadImage);
    *SetVariableSlot = RecordSetVariable;
    gST->ConOut->OutputString = RecordOutput;
    const EFI_STATUS Exit =
        reinterpret_cast<StartImageFn>(gBS->StartImage)(Child, nullptr, nullptr);
    gST->ConOut->OutputString = gRealOutputString;
    *SetVariableSlot = gRealSetVariable;
    *GetVariableSlot = gRealGetVariable;
    gBS->LoadImage = reinterpret_cast<VOID *>(gRealLoadImage);
    gBS->OpenProtocol = gRealOpenProtocol;
    gBS->HandleProtocol = gRealHandleProtocol;
    gChild = nullptr;
    StatusLength += FormatWithFlags(
        Status + StatusLength, MessageChars - StatusLength, FormatWideOutput,
        u", StartImage 0x%lX %r, calls by the shell's code: %ld", Exit, Exit, gChildCalls);
  } else if (Child != nullptr) {
    reinterpret_cast<UnloadImageFn>(gBS->UnloadImage)(Child);
  }
  const ResultFiles Files(Number);
  WriteText(Files.Out, gCapture, gCaptured);
  WriteText(Files.Status, Status, StatusLength);
  WriteText(Files.Protocols, u"none", 4);
}

// --- The script ---------------------------------------------------------------------------

bool ReadScript(CHAR16 *Text, UINTN *Chars) {
  EFI_FILE_PROTOCOL *File = nullptr;
  if (EFI_ERROR(gRoot->Open(gRoot, &File, u"\\launch.txt", EFI_FILE_MODE_READ, 0)))
    return false;
  UINTN Size = ScriptMax;
  const EFI_STATUS Status = File->Read(File, &Size, Text);
  File->Close(File);
  if (EFI_ERROR(Status) || Size >= ScriptMax)
    return false;
  *Chars = Size / sizeof(CHAR16);
  Text[*Chars] = u'\0';
  return true;
}

// Splits off the first word of Line (ended by a space or the end); returns the rest.
CHAR16 *Word(CHAR16 *Line) {
  while (*Line != u'\0' && *Line != u' ')
    Line++;
  if (*Line == u' ')
    *Line++ = u'\0';
  return Line;
}

void PowerOff() {
  auto *Runtime = static_cast<UINT8 *>(gST->RuntimeServices);
  auto Reset = *reinterpret_cast<ResetSystemFn *>(Runtime + RuntimeResetSystemOffset);
  Reset(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
}

bool OpenVolume() {
  VOID *Interface = nullptr;
  if (EFI_ERROR(gBS->HandleProtocol(gSelf, &EfiLoadedImageProtocolGuid, &Interface)))
    return false;
  EFI_HANDLE Device = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface)->DeviceHandle;
  if (EFI_ERROR(gBS->HandleProtocol(Device, &EfiDevicePathProtocolGuid, &Interface)))
    return false;
  gVolumePath = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Interface);
  // The path's length up to its end node; firmware paths are a few nodes long.
  const auto *Node = reinterpret_cast<const UINT8 *>(gVolumePath);
  UINTN Bytes = 0;
  while (Bytes < PathMax && Node[Bytes] != EndDevicePath) {
    const UINTN Length = Node[Bytes + 2] | Node[Bytes + 3] << 8;
    if (Length < 4)
      return false;
    Bytes += Length;
  }
  if (Bytes >= PathMax)
    return false;
  gVolumePathBytes = Bytes;
  if (EFI_ERROR(gBS->HandleProtocol(Device, &EfiSimpleFileSystemProtocolGuid, &Interface)))
    return false;
  auto *Volume = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *>(Interface);
  return !EFI_ERROR(Volume->OpenVolume(Volume, &gRoot));
}

void SecureBootState() {
  auto *Runtime = static_cast<UINT8 *>(gST->RuntimeServices);
  auto GetVariable = *reinterpret_cast<GetVariableFn *>(Runtime + RuntimeGetVariableOffset);
  UINT8 Value = 0;
  UINTN Size = sizeof(Value);
  const EFI_STATUS Status =
      GetVariable(u"SecureBoot", &EfiGlobalVariableGuid, nullptr, &Size, &Value);
  Progress(u"launcher: secure boot %s\n", EFI_ERROR(Status) ? u"unknown"
                                          : Value == 1      ? u"on"
                                                            : u"off");
}

} // namespace

extern "C" EFI_STATUS EFIAPI LauncherMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gSelf = ImageHandle;
  gRealOutputString = gST->ConOut->OutputString;
  gRealCloseProtocol = gBS->CloseProtocol;
  gRealHandleProtocol = gBS->HandleProtocol;
  gRealOpenProtocol = gBS->OpenProtocol;
  gEnvironment2.SESGuid = ShellEnvironment2ExtensionGuid;
  SecureBootState();

  CHAR16 *Script = nullptr;
  UINTN Chars = 0;
  if (!OpenVolume()) {
    Progress(u"failed: the launcher cannot open its own volume\n");
    PowerOff();
  }
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, ScriptMax + sizeof(CHAR16),
                                  reinterpret_cast<VOID **>(&Script))) ||
      EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, CaptureChars * sizeof(CHAR16),
                                  reinterpret_cast<VOID **>(&gCapture))) ||
      !ReadScript(Script, &Chars)) {
    Progress(u"failed: the launcher cannot read \\launch.txt\n");
    PowerOff();
  }

  UINTN Number = 0;
  bool Ready = false;
  CHAR16 *Line = Script;
  if (*Line == 0xFEFF)
    Line++;
  while (*Line != u'\0') {
    CHAR16 *End = Line;
    while (*End != u'\0' && *End != u'\n')
      End++;
    CHAR16 *Next = *End == u'\0' ? End : End + 1;
    *End = u'\0';
    if (End > Line && End[-1] == u'\r')
      End[-1] = u'\0';
    CHAR16 *Mode = Line;
    CHAR16 *Name = Word(Mode);
    CHAR16 *Args = Word(Name);
    if (*Mode == u'\0') {
      // an empty line
    } else if (Mode[0] == u'l' && Mode[1] == u'o' && Mode[2] == u'a' && Mode[3] == u'd' &&
               Mode[4] == u'\0') {
      EFI_HANDLE Driver = nullptr;
      EFI_STATUS Status = Load(Name, &Driver);
      if (!EFI_ERROR(Status))
        Status = reinterpret_cast<StartImageFn>(gBS->StartImage)(Driver, nullptr, nullptr);
      if (EFI_ERROR(Status)) {
        Progress(u"failed: load %s returned 0x%lX\n", Name, Status);
        PowerOff();
      }
    } else {
      if (!Ready)
        Progress(u"ready\n");
      Ready = true;
      if (Mode[0] == u'b' && Mode[1] == u'u' && Mode[2] == u'i' && Mode[3] == u'l' &&
          Mode[4] == u't' && Mode[5] == u'i' && Mode[6] == u'n')
        ProbeBuiltInShell(++Number);
      else
        RunCommand(++Number, Mode, Name, Args);
    }
    Line = Next;
  }
  Progress(u"done\n");
  PowerOff();
  return EFI_SUCCESS;
}
