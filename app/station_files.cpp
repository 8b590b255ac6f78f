#include "app/station_files.h"

#include "app/json_text.h"
#include "app/run_journal.h"
#include "app/version.h"
#include "shell/console.h"
#include "shell/memory.h"
#include "shell/shell_file_ops.h"
#include "shell/shell_files.h"

namespace {

// Room for two records whose every byte is escaped, the values asked (each cut to
// MaxLoggedValue characters: one that long is refused anyway, and its start says which it was),
// the files named and the rest.
constexpr UINTN LogLineSize = 16384;
constexpr UINTN MaxLoggedValue = 64;

// Closes File, reporting the close's status: a FAT driver may write its last data only then.
EFI_STATUS CloseChecked(SHELL_FILE_HANDLE File) {
  return ShellFileOps.CloseFile(File);
}

// Takes a partly made file away again; a removal that fails leaves nothing worse than before.
VOID RemoveByName(const CHAR16 *Path) {
  SHELL_FILE_HANDLE File = nullptr;
  if (!EFI_ERROR(OpenShellFile(Path, ShellFileMode::Append, &File)))
    DeleteShellFile(File);
}

// Size bytes of Path, read from its start, compared with Expected; the file must hold no more.
EFI_STATUS ReadBackEquals(const CHAR16 *Path, UINT64 Offset, const UINT8 *Expected, UINTN Size,
                          bool *Equal) {
  *Equal = false;
  SHELL_FILE_HANDLE File = nullptr;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Read, &File);
  if (EFI_ERROR(Status))
    return Status;
  UINT8 *Copy = static_cast<UINT8 *>(AllocateBuffer(Size == 0 ? 1 : Size));
  UINT64 FileSize = 0;
  if (Copy == nullptr)
    Status = EFI_OUT_OF_RESOURCES;
  if (!EFI_ERROR(Status))
    Status = ShellFileOps.GetFileSize(File, &FileSize);
  if (!EFI_ERROR(Status))
    Status = ShellFileOps.SetFilePosition(File, Offset);
  if (!EFI_ERROR(Status))
    Status = ReadShellFileExactly(File, Copy, Size);
  if (!EFI_ERROR(Status)) {
    *Equal = FileSize == Offset + Size;
    for (UINTN I = 0; I < Size && *Equal; I++)
      *Equal = Copy[I] == Expected[I];
  }
  if (Copy != nullptr)
    FreeBuffer(Copy);
  ShellFileOps.CloseFile(File);
  return Status;
}

// A file that cut a line short is cut back to where the line began, so that the next line starts
// on a line of its own.
VOID TruncateTo(SHELL_FILE_HANDLE File, UINT64 Size) {
  EFI_FILE_INFO *Info = ShellFileOps.GetFileInfo(File);
  if (Info == nullptr)
    return;
  if (Info->FileSize > Size) {
    Info->FileSize = Size;
    ShellFileOps.SetFileInfo(File, Info);
  }
  FreeBuffer(Info);
}

VOID AppendKey(JsonText *Out, const CHAR8 *Key) {
  JsonAppendRaw(Out, ",\"");
  JsonAppendRaw(Out, Key);
  JsonAppendRaw(Out, "\":");
}

VOID AppendWideOrNull(JsonText *Out, const CHAR8 *Key, const CHAR16 *Text) {
  AppendKey(Out, Key);
  if (Text == nullptr)
    JsonAppendRaw(Out, "null");
  else
    JsonAppendWide(Out, Text);
}

VOID AppendRecordOrNull(JsonText *Out, const CHAR8 *Key, bool Known, const UINT8 *Record) {
  AppendKey(Out, Key);
  if (Known)
    JsonAppendRecord(Out, Record);
  else
    JsonAppendRaw(Out, "null");
}

VOID ComposeLine(JsonText *Out, const RunLogEntry &Entry) {
  JsonAppendRaw(Out, "{\"tool\":\"Kestrel\",\"version\":");
  JsonAppendWide(Out, ToolVersion);
  AppendKey(Out, "operation");
  JsonAppendNarrow(Out, Entry.Operation);
  AppendKey(Out, "guard");
  JsonAppendNarrow(Out, Entry.Guard);
  AppendWideOrNull(Out, "guard_serial", Entry.GuardSerial);
  AppendKey(Out, "asked");
  JsonAppendRaw(Out, "{");
  for (UINTN I = 0; I < Entry.AskedCount; I++) {
    if (I != 0)
      JsonAppendRaw(Out, ",");
    JsonAppendWide(Out, Entry.Asked[I].Name);
    JsonAppendRaw(Out, ":");
    JsonAppendWideCut(Out, Entry.Asked[I].Text, MaxLoggedValue);
  }
  JsonAppendRaw(Out, "}");
  AppendWideOrNull(Out, "backup", Entry.Backup);
  AppendWideOrNull(Out, "restore", Entry.Restore);
  AppendRecordOrNull(Out, "before", Journal.BeforeKnown, Journal.Before);
  AppendRecordOrNull(Out, "after", Journal.AfterKnown, Journal.After);
  AppendKey(Out, "status");
  JsonAppendNumber(Out, Entry.Status);
  AppendKey(Out, "reason");
  JsonAppendNarrow(Out, RunReason(Entry.Status));
  JsonAppendRaw(Out, "}\n");
}

// What the run did, for the line that says it was not logged.
VOID ReportNotLogged(const StationLog &Log, ToolStatus Status, EFI_STATUS Why) {
  if (Status == ToolSuccess && Journal.WriteReached)
    PrintConsole(u"ERROR: GPP1 was written and verified, but not logged: %s: %r!\n", Log.Path, Why);
  else if (Journal.WriteReached)
    PrintConsole(u"ERROR: GPP1 was written (status %d), but not logged: %s: %r!\n",
                 static_cast<int>(Status), Log.Path, Why);
  else
    PrintConsole(u"ERROR: GPP1 was not written (status %d), and not logged: %s: %r!\n",
                 static_cast<int>(Status), Log.Path, Why);
}

} // namespace

ToolStatus SaveBackupFile(const CHAR16 *Path, const UINT8 *Block, UINTN Size) {
  if (ShellFileExists(Path)) {
    PrintConsole(u"ERROR: Backup %s exists; a backup is never overwritten!\n", Path);
    return ToolInvalidParameter;
  }
  SHELL_FILE_HANDLE File = nullptr;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::CreateNew, &File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot create backup %s: %r!\n", Path, Status);
    return ToolInvalidParameter;
  }
  Status = WriteShellFileExactly(File, Block, Size);
  if (!EFI_ERROR(Status))
    Status = ShellFileOps.FlushFile(File);
  if (EFI_ERROR(Status)) {
    DeleteShellFile(File);
  } else {
    Status = CloseChecked(File);
    if (EFI_ERROR(Status))
      RemoveByName(Path);
  }
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot write backup %s: %r!\n", Path, Status);
    return ToolInvalidParameter;
  }
  bool Equal = false;
  Status = ReadBackEquals(Path, 0, Block, Size, &Equal);
  if (EFI_ERROR(Status) || !Equal) {
    RemoveByName(Path);
    if (EFI_ERROR(Status))
      PrintConsole(u"ERROR: Cannot read backup %s back: %r!\n", Path, Status);
    else
      PrintConsole(u"ERROR: Backup %s reads back other bytes than were saved!\n", Path);
    return ToolInvalidParameter;
  }
  return ToolSuccess;
}

VOID DiscardBackupFile(const CHAR16 *Path) {
  RemoveByName(Path);
}

ToolStatus LoadBackupFile(const CHAR16 *Path, UINT8 *Block, UINTN Size) {
  SHELL_FILE_HANDLE File = nullptr;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Read, &File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot open %s: %r!\n", Path, Status);
    return ToolInvalidParameter;
  }
  UINT64 FileSize = 0;
  Status = ShellFileOps.GetFileSize(File, &FileSize);
  if (!EFI_ERROR(Status) && FileSize == Size)
    Status = ReadShellFileExactly(File, Block, Size);
  ShellFileOps.CloseFile(File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot read %s: %r!\n", Path, Status);
    return ToolInvalidParameter;
  }
  if (FileSize != Size) {
    PrintConsole(u"ERROR: %s holds %ld bytes, not the %d of a GPP1 block!\n", Path, FileSize,
                 static_cast<int>(Size));
    return ToolInvalidParameter;
  }
  return ToolSuccess;
}

ToolStatus OpenStationLog(StationLog *Log, const CHAR16 *Path) {
  Log->Path = Path;
  Log->File = nullptr;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Append, &Log->File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot open log %s for appending: %r; GPP1 untouched!\n", Path, Status);
    return ToolNotLogged;
  }
  return ToolSuccess;
}

const CHAR8 *RunReason(ToolStatus Status) {
  if (Journal.Reason != nullptr)
    return Journal.Reason;
  if (Status == ToolSuccess)
    return Journal.DryRun ? "dry run, nothing written" : "ok";
  if (Journal.Gpp1Missing)
    return "GPP1 not found";
  if (Journal.VerifyFailed)
    return "written, verify failed";
  if (Journal.ReadBackFailed)
    return "written, read-back failed";
  if (Journal.WriteFailed)
    return "write failed";
  switch (Status) {
  case ToolInvalidParameter:
    return "bad arguments";
  case ToolWriteProtected:
    return "write-protected";
  case ToolOutOfResources:
    return Journal.WriteReached ? "out of memory after writing" : "out of memory, nothing written";
  case ToolVolumeCorrupted:
    return "record fails its CRC";
  default:
    return Journal.WriteReached ? "device error after writing" : "device error, nothing written";
  }
}

ToolStatus AppendStationLog(StationLog *Log, const RunLogEntry &Entry) {
  CHAR8 *Line = static_cast<CHAR8 *>(AllocateBuffer(LogLineSize));
  if (Line == nullptr) {
    ShellFileOps.CloseFile(Log->File);
    ReportNotLogged(*Log, Entry.Status, EFI_OUT_OF_RESOURCES);
    return ToolNotLogged;
  }
  JsonText Text = JsonTextIn(Line, LogLineSize);
  ComposeLine(&Text, Entry);
  UINT64 Start = 0;
  EFI_STATUS Status = Text.Overflowed ? EFI_BUFFER_TOO_SMALL : EFI_SUCCESS;
  if (!EFI_ERROR(Status))
    Status = ShellFileOps.GetFilePosition(Log->File, &Start);
  if (!EFI_ERROR(Status))
    Status = WriteShellFileExactly(Log->File, Line, Text.Used);
  if (!EFI_ERROR(Status))
    Status = ShellFileOps.FlushFile(Log->File);
  if (EFI_ERROR(Status))
    TruncateTo(Log->File, Start);
  EFI_STATUS Closed = ShellFileOps.CloseFile(Log->File);
  Log->File = nullptr;
  if (!EFI_ERROR(Status))
    Status = Closed;
  bool Equal = false;
  if (!EFI_ERROR(Status))
    Status =
        ReadBackEquals(Log->Path, Start, reinterpret_cast<const UINT8 *>(Line), Text.Used, &Equal);
  if (!EFI_ERROR(Status) && !Equal)
    Status = EFI_VOLUME_CORRUPTED;
  FreeBuffer(Line);
  if (EFI_ERROR(Status)) {
    ReportNotLogged(*Log, Entry.Status, Status);
    return ToolNotLogged;
  }
  return ToolSuccess;
}
