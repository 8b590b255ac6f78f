// Launcher.efi: a boot application that runs the tool without any shell, for the end-to-end runs
// that must not depend on one: the EFI 1.1 argument source under real firmware, and Secure Boot,
// where the firmware refuses to start the built-in shell. The boot manager starts it as
// \EFI\BOOT\BOOTX64.EFI; it reads \launch.txt from its own volume (UCS-2, one line each):
//
//   load NAME                 LoadImage + StartImage a driver (the simulated board)
//   efi11 NAME ARGS           the EFI 1.1 shell's interface and environment-2 on the image handle
//   efi11-search NAME ARGS    the same, but environment-2 found only by a search (below)
//   shell2 NAME ARGS          the Shell 2.0 parameters protocol on the image handle
//   builtin-shell             load and start the firmware's built-in UEFI Shell (below)
//   driver-entry NAME         Driver0001 and DriverOrder: the boot manager loads NAME from the
//                             other volume (a stick) at every boot, as a board's own driver
//   boot-entry NAME ARGS      Boot0042, NAME on the other volume with ARGS (UCS-2, as efibootmgr
//                             --unicode writes it) as its optional data, and BootNext: the next
//                             boot starts it once, without a shell
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
#include "e2e/app_support.h"

namespace {

using namespace e2e;

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

static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 200, "LoadImage slot");
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 208, "StartImage slot");
static_assert(offsetof(EFI_BOOT_SERVICES, UnloadImage) == 224, "UnloadImage slot");
static_assert(offsetof(EFI_BOOT_SERVICES, UninstallProtocolInterface) == 144, "Uninstall slot");
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocolInformation) == 296, "OpenInfo slot");

typedef EFI_GET_VARIABLE GetVariableFn;

// Media device path nodes: a file path, and a file in a firmware volume.
constexpr UINT8 MEDIA_FILEPATH_DP = 4, MEDIA_PIWG_FW_FILE_DP = 6, MEDIA_PIWG_FW_VOL_DP = 7;

// --- State --------------------------------------------------------------------------------

EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;
EFI_HANDLE gSelf;
EFI_FILE_PROTOCOL *gRoot;
EFI_DEVICE_PATH_PROTOCOL *gVolumePath;
UINTN gVolumePathBytes;

// The firmware's own functions, taken before the launcher puts any recorder in their slots.
struct {
  LoadImageFn LoadImage;
  StartImageFn StartImage;
  UnloadImageFn UnloadImage;
  UninstallProtocolFn UninstallProtocolInterface;
  OpenProtocolInformationFn OpenProtocolInformation;
  EFI_OPEN_PROTOCOL OpenProtocol;
  EFI_CLOSE_PROTOCOL CloseProtocol;
  EFI_TEXT_STRING OutputString;
  GetVariableFn GetVariable;
} gReal;

// Puts Replacement in a firmware table's slot for the life of the hook, then the old value back.
template <typename T> struct Hook {
  T &Slot;
  const T Saved;
  Hook(T &Slot, T Replacement) : Slot(Slot), Saved(Slot) { Slot = Replacement; }
  ~Hook() { Slot = Saved; }
};

// The running child: what it wrote (into gCapture), and what it still held open after each of
// its opens and closes.
CHAR16 gCapture[CaptureChars];
struct {
  EFI_HANDLE Child;
  UINTN Captured;
  bool CaptureOverflow;
  UINTN ClosesSeen;
  UINTN OpenAfterLastClose;
  bool InformationFailed;
} gWatch;

struct Installed {
  EFI_HANDLE Handle;
  const EFI_GUID *Protocol;
  VOID *Interface;
};
Installed gInstalled[6];
UINTN gInstalledCount;

// The interfaces the launcher installs: the EFI 1.1 ones, one environment of each form and the
// Shell 2.0 parameters. The environments' functions are never called by the tool.
EFI_SHELL_INTERFACE gInterface;
EFI_SHELL_ENVIRONMENT2 gEnvironment2;
EFI_SHELL_ENVIRONMENT2 gEnvironmentOriginal; // no environment-2 GUID: the original form
EFI_SHELL_PARAMETERS_PROTOCOL gParameters;
CHAR16 *gArgv[ArgsMax + 1];

// The last line on the console (the runner's end marker, or why the run stopped short), then
// the machine off.
template <typename... T> void PowerOff(UcsFormat<T...> Format, const T &...Values) {
  Say(gST, Format, Values...);
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
}

// --- Files on the launcher's volume -------------------------------------------------------

// A short text file, UCS-2 with a byte-order mark like the shell's redirected output.
EFI_STATUS WriteText(const CHAR16 *Name, const CHAR16 *Text, UINTN Length) {
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = gRoot->Open(
      gRoot, &File, Name, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0);
  if (EFI_ERROR(Status))
    return Status;
  CHAR16 Mark = 0xFEFF;
  UINTN MarkBytes = sizeof(Mark), TextBytes = Length * sizeof(CHAR16);
  Status = File->Write(File, &MarkBytes, &Mark);
  if (!EFI_ERROR(Status))
    Status = File->Write(File, &TextBytes, const_cast<CHAR16 *>(Text));
  const EFI_STATUS Closed = File->Close(File);
  return EFI_ERROR(Status) ? Status : Closed;
}

// \oN.txt, \sN.txt, \pN.txt: the Nth command's output (what was captured), status and protocol
// check.
void WriteResults(UINTN Number, const TextLine &Status, const TextLine &Check) {
  CHAR16 Name[16];
  FormatWithFlags(Name, 16, FormatWideOutput, u"\\o%ld.txt", Number);
  WriteText(Name, gCapture, gWatch.Captured);
  FormatWithFlags(Name, 16, FormatWideOutput, u"\\s%ld.txt", Number);
  WriteText(Name, Status.Text, Status.Length);
  FormatWithFlags(Name, 16, FormatWideOutput, u"\\p%ld.txt", Number);
  WriteText(Name, Check.Text, Check.Length);
}

// --- Loading images -----------------------------------------------------------------------

// Writes a device path node, its header and then Bytes of Data, at At; returns the byte after it.
UINT8 *PutNode(UINT8 *At, UINT8 Type, UINT8 SubType, const VOID *Data, UINTN Bytes) {
  const UINTN Length = sizeof(EFI_DEVICE_PATH_PROTOCOL) + Bytes;
  *reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(At) = {
      Type, SubType, {static_cast<UINT8>(Length), static_cast<UINT8>(Length >> 8)}};
  if (Bytes != 0)
    __builtin_memcpy(At + sizeof(EFI_DEVICE_PATH_PROTOCOL), Data, Bytes);
  return At + Length;
}

// A refused image that the firmware still keeps loaded is unloaded.
EFI_STATUS LoadFrom(UINT8 *Path, BOOLEAN BootPolicy, EFI_HANDLE *Child) {
  *Child = nullptr;
  const EFI_STATUS Status = gReal.LoadImage(
      BootPolicy, gSelf, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Path), nullptr, 0, Child);
  if (EFI_ERROR(Status) && *Child != nullptr)
    gReal.UnloadImage(*Child);
  return Status;
}

// \NAME by the volume's device path with a file node, so that the firmware knows the image's
// source (and, under Secure Boot, verifies it as a disk image).
EFI_STATUS Load(const CHAR16 *Name, EFI_HANDLE *Child) {
  CHAR16 File[PathMax / 2];
  const UINTN FileBytes =
      (FormatWithFlags(File, PathMax / 2, FormatWideOutput, u"\\%s", Name) + 1) * sizeof(CHAR16);
  if (gVolumePathBytes + FileBytes + 2 * sizeof(EFI_DEVICE_PATH_PROTOCOL) > PathMax)
    return EFI_BAD_BUFFER_SIZE;
  UINT8 Path[PathMax];
  __builtin_memcpy(Path, gVolumePath, gVolumePathBytes);
  UINT8 *End =
      PutNode(Path + gVolumePathBytes, MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, File, FileBytes);
  PutNode(End, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, nullptr, 0);
  return LoadFrom(Path, false, Child);
}

// --- Capture and the close check ----------------------------------------------------------

void Capture(const CHAR16 *Text) {
  for (; *Text != u'\0'; Text++) {
    if (gWatch.Captured < CaptureChars)
      gCapture[gWatch.Captured++] = *Text;
    else
      gWatch.CaptureOverflow = true;
  }
}

EFI_STATUS EFIAPI RecordOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *Text) {
  Capture(Text);
  return gReal.OutputString(This, Text);
}

UINTN OpensHeldByChild() {
  UINTN Held = 0;
  for (UINTN I = 0; I < gInstalledCount; I++) {
    OpenProtocolInformationEntry *Entries = nullptr;
    UINTN Count = 0;
    if (EFI_ERROR(gReal.OpenProtocolInformation(gInstalled[I].Handle, gInstalled[I].Protocol,
                                                &Entries, &Count))) {
      gWatch.InformationFailed = true;
      continue;
    }
    for (UINTN E = 0; E < Count; E++) {
      if (Entries[E].AgentHandle == gWatch.Child)
        Held += Entries[E].OpenCount;
    }
    if (Entries != nullptr)
      gBS->FreePool(Entries);
  }
  return Held;
}

// The variables read while the probed shell starts go into its transcript, one-byte values
// (SecureBoot, SetupMode) with them: they show the state it was refused in.
EFI_STATUS EFIAPI RecordGetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 *Attributes,
                                    UINTN *Size, VOID *Data) {
  const EFI_STATUS Status = gReal.GetVariable(Name, Vendor, Attributes, Size, Data);
  TextLine Line;
  Line.Add(u"[GetVariable %s: 0x%lX", Name, Status);
  if (!EFI_ERROR(Status) && Data != nullptr && *Size == 1)
    Line.Add(u", value %d", *static_cast<UINT8 *>(Data));
  Capture(Line.Add(u"]\n").Text);
  return Status;
}

EFI_STATUS EFIAPI WatchClose(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE Agent,
                             EFI_HANDLE Controller) {
  const EFI_STATUS Status = gReal.CloseProtocol(Handle, Protocol, Agent, Controller);
  if (Agent == gWatch.Child) {
    gWatch.ClosesSeen++;
    gWatch.OpenAfterLastClose = OpensHeldByChild();
  }
  return Status;
}

// An open after the child's last close is counted too: it is then what the child leaves open.
EFI_STATUS EFIAPI WatchOpen(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                            EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  const EFI_STATUS Status =
      gReal.OpenProtocol(Handle, Protocol, Interface, Agent, Controller, Attributes);
  if (Agent == gWatch.Child)
    gWatch.OpenAfterLastClose = OpensHeldByChild();
  return Status;
}

// --- Argument vector ----------------------------------------------------------------------

// NAME then ARGS split at spaces, in place; double quotes group words and are dropped (as the
// shell does for the simple command lines the sessions use).
UINTN SplitArguments(CHAR16 *Name, CHAR16 *Args) {
  UINTN Argc = 0;
  gArgv[Argc++] = Name;
  CHAR16 *Out = Args;
  for (CHAR16 *In = Args; *In != u'\0' && Argc < ArgsMax;) {
    if (*In == u' ') {
      In++;
      continue;
    }
    gArgv[Argc++] = Out;
    for (bool Quoted = false; *In != u'\0' && (Quoted || *In != u' '); In++) {
      if (*In == u'"')
        Quoted = !Quoted;
      else
        *Out++ = *In;
    }
    if (*In == u' ')
      In++;
    *Out++ = u'\0';
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
  for (; gInstalledCount > 0; gInstalledCount--) {
    const Installed &Last = gInstalled[gInstalledCount - 1];
    gReal.UninstallProtocolInterface(Last.Handle, Last.Protocol, Last.Interface);
  }
}

bool InstallArgumentSource(const CHAR16 *Mode, UINTN Argc) {
  EFI_HANDLE Child = gWatch.Child;
  if (SameText(Mode, u"shell2")) {
    gParameters = {gArgv, Argc, nullptr, nullptr, nullptr};
    return Install(&Child, EfiShellParametersProtocolGuid, &gParameters);
  }
  gInterface = {};
  gInterface.ImageHandle = Child;
  // The EFI 1.1 shell points Info at the image's loaded-image protocol.
  gBS->HandleProtocol(Child, &EfiLoadedImageProtocolGuid, &gInterface.Info);
  gInterface.Argv = gArgv;
  gInterface.Argc = Argc;
  if (!Install(&Child, ShellInterfaceProtocolGuid, &gInterface))
    return false;
  if (SameText(Mode, u"efi11"))
    return Install(&Child, ShellEnvironmentProtocolGuid, &gEnvironment2);
  if (!SameText(Mode, u"efi11-search"))
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

void RunCommand(UINTN Number, const CHAR16 *Mode, CHAR16 *Name, CHAR16 *Args) {
  TextLine Status, Check;
  gWatch = {};
  EFI_HANDLE Child = nullptr;
  const EFI_STATUS Loaded = Load(Name, &Child);
  if (EFI_ERROR(Loaded)) {
    Status.Add(u"LoadImage 0x%lX %r", Loaded, Loaded);
    Check.Add(u"%s not started", Mode);
  } else {
    gWatch.Child = Child;
    if (!InstallArgumentSource(Mode, SplitArguments(Name, Args)))
      PowerOff(u"KESTREL-E2E failed: cannot install the argument source for %s\n", Mode);
    const EFI_STATUS Exit = [Child] {
      const Hook Output(gST->ConOut->OutputString, RecordOutput);
      const Hook Close(gBS->CloseProtocol, WatchClose);
      const Hook Open(gBS->OpenProtocol, WatchOpen);
      return gReal.StartImage(Child, nullptr, nullptr);
    }();
    UninstallAll();
    Status.Add(u"0x%lX", Exit);
    if (gWatch.InformationFailed)
      Check.Add(u"%s OpenProtocolInformation failed", Mode);
    else if (gWatch.ClosesSeen == 0)
      Check.Add(u"%s never closed", Mode);
    else if (gWatch.OpenAfterLastClose != 0)
      Check.Add(u"%s left open: %ld", Mode, gWatch.OpenAfterLastClose);
    else
      Check.Add(u"%s closed (%ld closes)", Mode, gWatch.ClosesSeen);
    if (gWatch.CaptureOverflow)
      Check.Add(u"; output cut");
  }
  WriteResults(Number, Status, Check);
}

// --- The firmware's own shell -------------------------------------------------------------

// OVMF's built-in UEFI Shell: the file 7C04A583-9E3E-4F1C-AD65-E05268D0B4D1 in the firmware
// volume 7CB8BDC9-F8EB-4F34-AAEA-3EE4AF6516A1, the path of the boot manager's "EFI Internal
// Shell" option. Loaded and started without arguments; what is recorded is whether LoadImage
// accepts it, what StartImage returns, and the variables read meanwhile.
void ProbeBuiltInShell(UINTN Number) {
  constexpr EFI_GUID FvGuid = {
      0x7CB8BDC9, 0xF8EB, 0x4F34, {0xAA, 0xEA, 0x3E, 0xE4, 0xAF, 0x65, 0x16, 0xA1}};
  constexpr EFI_GUID ShellFileGuid = {
      0x7C04A583, 0x9E3E, 0x4F1C, {0xAD, 0x65, 0xE0, 0x52, 0x68, 0xD0, 0xB4, 0xD1}};
  UINT8 Path[3 * sizeof(EFI_DEVICE_PATH_PROTOCOL) + 2 * sizeof(EFI_GUID)]; // volume, file, end
  UINT8 *End = PutNode(Path, MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_VOL_DP, &FvGuid, sizeof(EFI_GUID));
  End = PutNode(End, MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_FILE_DP, &ShellFileGuid, sizeof(EFI_GUID));
  PutNode(End, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, nullptr, 0);
  EFI_HANDLE Child = nullptr;
  const EFI_STATUS Loaded = LoadFrom(Path, true, &Child);
  TextLine Status;
  Status.Add(u"LoadImage 0x%lX", Loaded);
  gWatch = {};
  if (!EFI_ERROR(Loaded)) {
    const EFI_STATUS Exit = [Child] {
      const Hook GetVariable(gRT->GetVariable, RecordGetVariable);
      const Hook Output(gST->ConOut->OutputString, RecordOutput);
      return gReal.StartImage(Child, nullptr, nullptr);
    }();
    Status.Add(u", StartImage 0x%lX %r", Exit, Exit);
  }
  WriteResults(Number, Status, TextLine().Add(u"none"));
}

// --- Load options for the next boot --------------------------------------------------------

constexpr EFI_GUID GlobalVariableGuid = {
    0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
constexpr UINT32 NonVolatileBootRuntime = 0x7;
constexpr UINT32 LoadOptionActive = 0x1;
constexpr UINT16 BootEntryNumber = 0x0042;

// The device path of the file system other than the launcher's own volume (the stick), into Path;
// its length up to its end node, 0 when there is none.
UINTN OtherVolumePath(UINT8 *Path) {
  UINTN Bytes = 0;
  ForEachHandle(gBS, EfiSimpleFileSystemProtocolGuid, [&](EFI_HANDLE Handle, VOID *) {
    VOID *Interface = nullptr;
    if (EFI_ERROR(gBS->HandleProtocol(Handle, &EfiDevicePathProtocolGuid, &Interface)) ||
        Interface == gVolumePath)
      return false;
    const auto *Node = static_cast<const UINT8 *>(Interface);
    while (Bytes < PathMax / 2 && Node[Bytes] != END_DEVICE_PATH_TYPE) {
      const UINTN Length =
          DevicePathNodeLength(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node + Bytes));
      if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL))
        break;
      Bytes += Length;
    }
    __builtin_memcpy(Path, Node, Bytes);
    return true;
  });
  return Bytes;
}

// Variable Name (Boot#### or Driver####): an active load option of NAME on the stick, described
// as Description, with Data (Bytes of it) as its optional data.
EFI_STATUS SetLoadOption(const CHAR16 *Variable, UINT32 Attributes, const CHAR16 *Description,
                         const CHAR16 *Name, const VOID *Data, UINTN Bytes) {
  static UINT8 Option[PathMax * 3];
  UINT8 Path[PathMax];
  const UINTN PathBytes = OtherVolumePath(Path);
  CHAR16 File[PathMax / 4];
  const UINTN FileBytes =
      (FormatWithFlags(File, PathMax / 4, FormatWideOutput, u"\%s", Name) + 1) * sizeof(CHAR16);
  if (PathBytes == 0)
    return EFI_NOT_FOUND;
  UINT8 *End = PutNode(Path + PathBytes, MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, File, FileBytes);
  End = PutNode(End, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, nullptr, 0);
  const UINT16 ListBytes = static_cast<UINT16>(End - Path);
  UINTN At = 0;
  __builtin_memcpy(Option + At, &Attributes, 4);
  __builtin_memcpy(Option + At + 4, &ListBytes, 2);
  At += 6;
  for (const CHAR16 *C = Description;; C++) {
    __builtin_memcpy(Option + At, C, 2);
    At += 2;
    if (*C == 0)
      break;
  }
  if (At + ListBytes + Bytes > sizeof(Option))
    return EFI_BAD_BUFFER_SIZE;
  __builtin_memcpy(Option + At, Path, ListBytes);
  if (Bytes != 0)
    __builtin_memcpy(Option + At + ListBytes, Data, Bytes);
  return gRT->SetVariable(Variable, &GlobalVariableGuid, NonVolatileBootRuntime,
                          At + ListBytes + Bytes, Option);
}

EFI_STATUS SetBootEntries(const CHAR16 *Mode, const CHAR16 *Name, const CHAR16 *Args) {
  if (SameText(Mode, u"driver-entry")) {
    const UINT16 Order = 0x0001;
    // Not to be reconnected after loading (LOAD_OPTION_FORCE_RECONNECT): that would take the
    // disk the board forwards GPP1 to away from under it. The driver connects what it needs.
    EFI_STATUS Status =
        SetLoadOption(u"Driver0001", LoadOptionActive, u"Simulated Tarn board", Name, nullptr, 0);
    return EFI_ERROR(Status) ? Status
                             : gRT->SetVariable(u"DriverOrder", &GlobalVariableGuid,
                                                NonVolatileBootRuntime, sizeof(Order), &Order);
  }
  UINTN Length = 0;
  while (Args[Length] != 0)
    Length++;
  EFI_STATUS Status = SetLoadOption(u"Boot0042", LoadOptionActive, u"Kestrel", Name, Args,
                                    (Length + 1) * sizeof(CHAR16));
  return EFI_ERROR(Status)
             ? Status
             : gRT->SetVariable(u"BootNext", &GlobalVariableGuid, NonVolatileBootRuntime,
                                sizeof(BootEntryNumber), &BootEntryNumber);
}

// --- The script ---------------------------------------------------------------------------

// Ends Text at its first Separator, if any; returns what follows.
CHAR16 *Split(CHAR16 *Text, CHAR16 Separator) {
  while (*Text != u'\0' && *Text != Separator)
    Text++;
  if (*Text == Separator)
    *Text++ = u'\0';
  return Text;
}

bool OpenVolume() {
  EFI_HANDLE Device = nullptr;
  VOID *Interface = nullptr;
  if (EFI_ERROR(OpenImageVolume(gBS, gSelf, &Device, &gRoot)) ||
      EFI_ERROR(gBS->HandleProtocol(Device, &EfiDevicePathProtocolGuid, &Interface)))
    return false;
  gVolumePath = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Interface);
  // The path's length up to its end node; firmware paths are a few nodes long.
  const auto *Node = reinterpret_cast<const UINT8 *>(gVolumePath);
  UINTN Bytes = 0;
  while (Bytes < PathMax && Node[Bytes] != END_DEVICE_PATH_TYPE) {
    const UINTN Length =
        DevicePathNodeLength(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node + Bytes));
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL))
      return false;
    Bytes += Length;
  }
  gVolumePathBytes = Bytes;
  return Bytes < PathMax;
}

} // namespace

extern "C" EFI_STATUS EFIAPI LauncherMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gSelf = ImageHandle;
  gReal = {reinterpret_cast<LoadImageFn>(gBS->LoadImage),
           reinterpret_cast<StartImageFn>(gBS->StartImage),
           reinterpret_cast<UnloadImageFn>(gBS->UnloadImage),
           reinterpret_cast<UninstallProtocolFn>(gBS->UninstallProtocolInterface),
           reinterpret_cast<OpenProtocolInformationFn>(gBS->OpenProtocolInformation),
           gBS->OpenProtocol,
           gBS->CloseProtocol,
           gST->ConOut->OutputString,
           gRT->GetVariable};
  gEnvironment2.SESGuid = ShellEnvironment2ExtensionGuid;

  static CHAR16 Script[ScriptMax / sizeof(CHAR16) + 1];
  UINTN Size = 0;
  if (!OpenVolume())
    PowerOff(u"KESTREL-E2E failed: the launcher cannot open its own volume\n");
  if (EFI_ERROR(ReadWholeFile(gRoot, u"\\launch.txt", Script, ScriptMax - 1, &Size)))
    PowerOff(u"KESTREL-E2E failed: the launcher cannot read \\launch.txt\n");
  Script[Size / sizeof(CHAR16)] = u'\0';

  UINTN Number = 0;
  CHAR16 *Line = Script;
  if (*Line == 0xFEFF)
    Line++;
  while (*Line != u'\0') {
    CHAR16 *Next = Split(Line, u'\n');
    Split(Line, u'\r'); // CR LF line ends; a command holds no control characters
    CHAR16 *Mode = Line;
    CHAR16 *Name = Split(Mode, u' ');
    CHAR16 *Args = Split(Name, u' ');
    if (SameText(Mode, u"load")) {
      EFI_HANDLE Driver = nullptr;
      EFI_STATUS Status = Load(Name, &Driver);
      if (!EFI_ERROR(Status))
        Status = gReal.StartImage(Driver, nullptr, nullptr);
      if (EFI_ERROR(Status))
        PowerOff(u"KESTREL-E2E failed: load %s returned 0x%lX\n", Name, Status);
    } else if (SameText(Mode, u"driver-entry") || SameText(Mode, u"boot-entry")) {
      EFI_STATUS Status = SetBootEntries(Mode, Name, Args);
      if (EFI_ERROR(Status))
        PowerOff(u"KESTREL-E2E failed: %s %s returned 0x%lX\n", Mode, Name, Status);
    } else if (*Mode != u'\0') {
      // The runner follows the run by these markers, each starting a command's time-out.
      Say(gST, u"KESTREL-E2E run %ld\n", ++Number);
      if (SameText(Mode, u"builtin-shell"))
        ProbeBuiltInShell(Number);
      else
        RunCommand(Number, Mode, Name, Args);
    }
    Line = Next;
  }
  PowerOff(u"KESTREL-E2E done\n");
  return EFI_SUCCESS;
}
