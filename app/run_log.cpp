#include "app/run_log.h"

#include "app/board_record.h"
#include "app/json_text.h"
#include "app/station_files.h"
#include "app/version.h"
#include "shell/console.h"
#include "shell/memory.h"
#include "shell/shell_file_ops.h"

namespace {

// Room for two records whose every byte is escaped, the values asked (each cut to
// MaxLoggedValue characters: one that long is refused anyway, and its start says which it was),
// the files named and the rest.
constexpr UINTN LogLineSize = 16384;
constexpr UINTN MaxLoggedValue = 64;
// A reason longer than this is cut; every reason the tool gives is shorter.
constexpr UINTN MaxReasonLength = 96;
// Digits a record's numbers (three IDs, two CRCs) can have beyond those of the widest record the
// bound is measured on, and those of a backup's number.
constexpr UINTN RecordNumberSlack = 5 * 2;
// A numbered name's "-N": a dash and up to ten digits.
constexpr UINTN FileNumberSlack = 11;
constexpr UINT64 WidestStatus = ~static_cast<UINT64>(0);
constexpr CHAR8 ReservedReason[] = "no outcome recorded";

// The outcome part of a line: the status (null while the run is still going) and its reason, the
// records before and after (or null) and the backup kept.
struct LineOutcome {
  bool Finished;
  UINT64 Status;
  const CHAR8 *Reason;
  const SeenRecord *Before;
  const SeenRecord *After;
  const CHAR16 *Backup;
  const CHAR16 *Saved;
};

VOID AppendKey(JsonText *Out, const CHAR8 *Key) {
  JsonAppendRaw(Out, ",\"");
  JsonAppendRaw(Out, Key);
  JsonAppendRaw(Out, "\":");
}

VOID AppendWideOrNull(JsonText *Out, const CHAR8 *Key, const CHAR16 *Text,
                      UINTN MaxCharacters = ~static_cast<UINTN>(0)) {
  AppendKey(Out, Key);
  if (Text == nullptr)
    JsonAppendRaw(Out, "null");
  else
    JsonAppendText(Out, Text, MaxCharacters);
}

VOID AppendRecordOrNull(JsonText *Out, const CHAR8 *Key, const SeenRecord *Seen) {
  AppendKey(Out, Key);
  if (Seen != nullptr && Seen->Known)
    JsonAppendRecord(Out, *Seen);
  else
    JsonAppendRaw(Out, "null");
}

// The line's last part, from its "status" key on: what an amendment replaces.
VOID AppendStatusAndReason(JsonText *Out, const LineOutcome &Outcome) {
  AppendKey(Out, "status");
  if (Outcome.Finished)
    JsonAppendNumber(Out, Outcome.Status);
  else
    JsonAppendRaw(Out, "null");
  AppendKey(Out, "reason");
  JsonAppendText(Out, Outcome.Reason, MaxReasonLength);
  JsonAppendRaw(Out, "}");
}

VOID ComposeLine(JsonText *Out, const RunLogEntry &Entry, const LineOutcome &Outcome) {
  JsonAppendRaw(Out, "{\"tool\":\"Kestrel\",\"version\":");
  JsonAppendText(Out, ToolVersion);
  AppendKey(Out, "operation");
  JsonAppendText(Out, Entry.Operation);
  AppendKey(Out, "guard");
  JsonAppendText(Out, Entry.Guard);
  AppendWideOrNull(Out, "guard_serial", Entry.GuardSerial, MaxLoggedValue);
  AppendKey(Out, "asked");
  JsonAppendRaw(Out, "{");
  for (UINTN I = 0; I < Entry.AskedCount; I++) {
    if (I != 0)
      JsonAppendRaw(Out, ",");
    JsonAppendText(Out, Entry.Asked[I].Name);
    JsonAppendRaw(Out, ":");
    JsonAppendText(Out, Entry.Asked[I].Text, MaxLoggedValue);
  }
  JsonAppendRaw(Out, "}");
  AppendWideOrNull(Out, "backup", Outcome.Backup);
  AppendWideOrNull(Out, "restore", Entry.Restore);
  AppendWideOrNull(Out, "saved", Outcome.Saved);
  AppendRecordOrNull(Out, "before", Outcome.Before);
  AppendRecordOrNull(Out, "after", Outcome.After);
  AppendStatusAndReason(Out, Outcome);
}

// The most bytes the run's finished line can take: composed with the widest outcome (records
// whose every text byte is escaped, the widest status and reason, the backup under its asked
// name), and the digits that outcome cannot show.
UINTN LineBound(const RunLogEntry &Entry, CHAR8 *Scratch) {
  UINT8 Escaped[BoardRecordSize];
  for (UINT8 &Byte : Escaped)
    Byte = 0x01;
  const SeenRecord Widest = SeeBlock(Escaped, sizeof(Escaped));
  CHAR8 Reason[MaxReasonLength + 1];
  for (UINTN I = 0; I < MaxReasonLength; I++)
    Reason[I] = 'x';
  Reason[MaxReasonLength] = 0;
  JsonText Text = JsonTextIn(Scratch, LogLineSize);
  ComposeLine(&Text, Entry,
              {true, WidestStatus, Reason, &Widest, &Widest, Entry.BackupAsked, Entry.SavedAsked});
  UINTN Slack = 2 * RecordNumberSlack + (Entry.BackupAsked != nullptr ? FileNumberSlack : 0) +
                (Entry.SavedAsked != nullptr ? FileNumberSlack : 0);
  return Text.Overflowed || Text.Used + Slack + 1 >= LogLineSize ? 0 : Text.Used + Slack;
}

// Text (Used bytes of Buffer) padded with spaces to Length and ended with a newline.
UINTN PadLine(CHAR8 *Buffer, UINTN Used, UINTN Length) {
  for (UINTN I = Used; I < Length; I++)
    Buffer[I] = ' ';
  Buffer[Length] = '\n';
  return Length + 1;
}

// Writes Size bytes of Line at Offset of an existing log, in place. EfiFilePositionEnd appends.
EFI_STATUS PutLine(const CHAR16 *Path, UINT64 Offset, const CHAR8 *Line, UINTN Size,
                   UINT64 *Start) {
  ShellFile File;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Update, &File);
  if (EFI_ERROR(Status))
    return Status;
  UINT64 End = 0;
  Status = ShellFileOps.SetFilePosition(File, Offset);
  if (!EFI_ERROR(Status))
    Status = WriteAndClose(File, Line, Size, &End, nullptr);
  *Start = End - Size;
  return Status;
}

// Writes Size bytes of Line (its newline last) where the run's line starts and reads them back.
EFI_STATUS PutLineAndReadBack(StationLog *Log, UINT64 Offset, const CHAR8 *Line, UINTN Size) {
  UINT64 Start = 0;
  EFI_STATUS Status = PutLine(Log->Path, Offset, Line, Size, &Start);
  if (EFI_ERROR(Status))
    return Status;
  Log->Start = Start;
  Log->Length = Size - 1;
  bool Equal = false;
  Status =
      ReadBackEquals(Log->Path, Start, reinterpret_cast<const UINT8 *>(Line), Size, false, &Equal);
  return !EFI_ERROR(Status) && !Equal ? EFI_VOLUME_CORRUPTED : Status;
}

// Line (Size bytes, padded to the reserved length) put over the run's reserved line. A log that
// takes appends only (a file marked append-only on Linux) gets the line at its end instead.
EFI_STATUS RewriteLine(StationLog *Log, const CHAR8 *Line, UINTN Size) {
  EFI_STATUS Status = PutLineAndReadBack(Log, Log->Start, Line, Size);
  if (Status != EFI_ACCESS_DENIED)
    return Status;
  // Padded as the reserved line was, so that a later amendment still fits.
  return PutLineAndReadBack(Log, EfiFilePositionEnd, Line, Size);
}

// Where the last occurrence of Key (KeyLength bytes) starts in Line's first Length bytes; Length
// when there is none.
UINTN FindLast(const CHAR8 *Line, UINTN Length, const CHAR8 *Key, UINTN KeyLength) {
  UINTN Found = Length;
  for (UINTN I = 0; I + KeyLength <= Length; I++) {
    bool Equal = true;
    for (UINTN K = 0; K < KeyLength && Equal; K++)
      Equal = Line[I + K] == Key[K];
    if (Equal)
      Found = I;
  }
  return Found;
}

// What the run did (Written: whether it wrote GPP1), for the line that says it was not logged.
ToolStatus ReportNotLogged(const StationLog &Log, bool Written, ToolStatus Status, EFI_STATUS Why) {
  if (Status == ToolSuccess && Written)
    PrintConsole(u"ERROR: GPP1 was written and verified, but not logged: %s: %r!\n", Log.Path, Why);
  else if (Written)
    PrintConsole(u"ERROR: GPP1 was written (status %d), but not logged: %s: %r!\n",
                 static_cast<int>(Status), Log.Path, Why);
  else
    PrintConsole(u"ERROR: GPP1 was not written (status %d), and not logged: %s: %r!\n",
                 static_cast<int>(Status), Log.Path, Why);
  return Written ? ToolNotLoggedWritten : ToolNotLoggedNothingWritten;
}

// The run's reserved line appended at the end of the log (File, Size bytes long), led by a
// newline when the log's last line has none, so that it stands alone; Lead says whether it is.
EFI_STATUS AppendReservation(const CHAR16 *Path, ShellFile &File, UINT64 Size,
                             const RunLogEntry &Entry, CHAR8 *Line, UINTN Length, UINTN *Lead,
                             UINT64 *End) {
  CHAR8 Last = '\n';
  if (Size != 0) {
    EFI_STATUS Status = ShellFileOps.SetFilePosition(File, Size - 1);
    if (EFI_ERROR(Status) || EFI_ERROR(Status = ReadShellFileExactly(File, &Last, 1)) ||
        EFI_ERROR(Status = ShellFileOps.SetFilePosition(File, EfiFilePositionEnd)))
      return Status;
  }
  *Lead = Last == '\n' ? 0 : 1;
  Line[0] = '\n';
  JsonText Text = JsonTextIn(Line + *Lead, LogLineSize - *Lead);
  ComposeLine(&Text, Entry, {false, 0, ReservedReason, nullptr, nullptr, nullptr, nullptr});
  UINTN Total = *Lead + PadLine(Line + *Lead, Text.Used, Length);
  VolumeRoom Room = AskVolumeRoom(File);
  if (Room.ReadOnly)
    return EFI_WRITE_PROTECTED;
  if (!FitsVolume(Room, Size, Total))
    return EFI_VOLUME_FULL;
  EFI_STATUS Status = WriteAndClose(File, Line, Total, End, &Size);
  if (EFI_ERROR(Status) || Room.Known)
    return Status;
  return ProveRoomAfter(Path);
}

// The status and the reason of the line Log stands for, replaced where it stands.
EFI_STATUS AmendLine(StationLog *Log, ToolStatus Status, const CHAR8 *Reason) {
  auto Line = PoolPtr<CHAR8>::Allocate(Log->Length + 1);
  if (!Line)
    return EFI_OUT_OF_RESOURCES;
  EFI_STATUS Result = ReadAt(Log->Path, Log->Start, Line.Get(), Log->Length + 1, nullptr);
  if (EFI_ERROR(Result))
    return Result;
  // The status is the line's last key but one; a '"' inside a value is always escaped, so the
  // key's text appears nowhere else.
  constexpr CHAR8 Key[] = ",\"status\":";
  UINTN Tail = FindLast(Line.Get(), Log->Length, Key, sizeof(Key) - 1);
  if (Tail == Log->Length)
    return EFI_VOLUME_CORRUPTED;
  JsonText Text = JsonTextIn(Line.Get() + Tail, Log->Length + 1 - Tail);
  AppendStatusAndReason(&Text, {true, Status, Reason, nullptr, nullptr, nullptr, nullptr});
  if (Text.Overflowed)
    return EFI_BUFFER_TOO_SMALL;
  return RewriteLine(Log, Line.Get(), PadLine(Line.Get(), Tail + Text.Used, Log->Length));
}

// The run's line could not be put or confirmed: what the line holds now is unknown (the old
// status, the new one, or the reservation's null). The run's exit status becomes the "not
// logged" one, said on the console, and the line is made to say that status once more, so that
// a line the run leaves never names another status than its exit status (or null).
ToolStatus CorrectLine(StationLog *Log, bool Written, ToolStatus Status, EFI_STATUS Why) {
  const ToolStatus Exit = ReportNotLogged(*Log, Written, Status, Why);
  AmendLine(Log, Exit, Written ? "written, not logged" : "not logged, nothing written");
  return Exit;
}

// The run's line reserved at the end of the log File (Log->Path), and read back.
EFI_STATUS ReserveLine(StationLog *Log, ShellFile &File, const RunLogEntry &Entry) {
  auto Line = PoolPtr<CHAR8>::Allocate(LogLineSize);
  if (!Line)
    return EFI_OUT_OF_RESOURCES;
  const UINTN Length = LineBound(Entry, Line.Get());
  if (Length == 0)
    return EFI_BUFFER_TOO_SMALL;
  UINT64 Size = 0, End = 0;
  EFI_STATUS Status = ShellFileOps.GetFileSize(File, &Size);
  if (EFI_ERROR(Status))
    return Status;
  UINTN Lead = 0;
  Status = AppendReservation(Log->Path, File, Size, Entry, Line.Get(), Length, &Lead, &End);
  if (EFI_ERROR(Status))
    return Status;
  *Log = {Log->Path, End - (Length + 1), Length};
  bool Equal = false;
  Status = ReadBackEquals(Log->Path, Log->Start, reinterpret_cast<const UINT8 *>(Line.Get() + Lead),
                          Length + 1, false, &Equal);
  return !EFI_ERROR(Status) && !Equal ? EFI_VOLUME_CORRUPTED : Status;
}

} // namespace

ToolStatus ReserveStationLog(StationLog *Log, const CHAR16 *Path, const RunLogEntry &Entry) {
  *Log = {Path, 0, 0};
  ShellFile File;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Append, &File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot open log %s for appending: %r; GPP1 untouched!\n", Path, Status);
    // A name the file system will not let the run write through (another user's link) is a
    // log the command line should not have named.
    return Status == EFI_SECURITY_VIOLATION ? ToolBadCommandLine : ToolNotLoggedNothingWritten;
  }
  Status = ReserveLine(Log, File, Entry);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Log %s cannot take the run's line: %r; GPP1 untouched!\n", Path, Status);
    return ToolNotLoggedNothingWritten;
  }
  return ToolSuccess;
}

ToolStatus FinishStationLog(StationLog *Log, const RunLogEntry &Entry, const RunStory &Story,
                            ToolStatus Status) {
  auto Line = PoolPtr<CHAR8>::Allocate(LogLineSize);
  if (!Line)
    return ReportNotLogged(*Log, Story.WriteReached, Status, EFI_OUT_OF_RESOURCES);
  JsonText Text = JsonTextIn(Line.Get(), LogLineSize);
  ComposeLine(&Text, Entry,
              {true, Status, RunReason(Status, Story), &Story.Before, &Story.After,
               Story.Backup.Get(), Story.Saved.Get()});
  EFI_STATUS Result =
      Text.Used > Log->Length
          ? EFI_BUFFER_TOO_SMALL
          : RewriteLine(Log, Line.Get(), PadLine(Line.Get(), Text.Used, Log->Length));
  if (!EFI_ERROR(Result))
    return Status;
  return CorrectLine(Log, Story.WriteReached, Status, Result);
}

ToolStatus AmendStationLog(const StationLog &Line, bool Written, ToolStatus Status,
                           const CHAR8 *Reason) {
  if (Line.Path == nullptr)
    return ToolSuccess;
  StationLog Log = Line;
  EFI_STATUS Result = AmendLine(&Log, Status, Reason);
  return EFI_ERROR(Result) ? CorrectLine(&Log, Written, Status, Result) : ToolSuccess;
}
