#include "app/station_files.h"

#include "app/board_record.h"
#include "app/json_text.h"
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
// A reason longer than this is cut; every reason the tool gives is shorter.
constexpr UINTN MaxReasonLength = 96;
// Digits a record's numbers (three IDs, two CRCs) can have beyond those of the widest record the
// bound is measured on, and those of a backup's number.
constexpr UINTN RecordNumberSlack = 5 * 2;
// A numbered name's "-N": a dash and up to ten digits.
constexpr UINTN FileNumberSlack = 11;
constexpr UINT64 WidestStatus = ~static_cast<UINT64>(0);
constexpr CHAR8 ReservedReason[] = "no outcome recorded";
constexpr CHAR16 RoomProbeSuffix[] = u".room";
// The longest last part of a file name that the file systems a station uses take.
constexpr UINTN MaxNameLength = 255;

// Takes a partly made file away again; a removal that fails leaves nothing worse than before.
VOID RemoveByName(const CHAR16 *Path) {
  ShellFile File;
  if (!EFI_ERROR(OpenShellFile(Path, ShellFileMode::Update, &File)))
    File.Delete();
}

// Size bytes of Path from Offset on into Buffer, and the file's size when FileSize is given.
EFI_STATUS ReadAt(const CHAR16 *Path, UINT64 Offset, VOID *Buffer, UINTN Size, UINT64 *FileSize) {
  ShellFile File;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Read, &File);
  if (EFI_ERROR(Status))
    return Status;
  if (FileSize != nullptr) {
    Status = ShellFileOps.GetFileSize(File, FileSize);
    if (EFI_ERROR(Status))
      return Status;
  }
  Status = ShellFileOps.SetFilePosition(File, Offset);
  return EFI_ERROR(Status) ? Status : ReadShellFileExactly(File, Buffer, Size);
}

// Size bytes of Path from Offset on, compared with Expected. With Whole the file must end there.
EFI_STATUS ReadBackEquals(const CHAR16 *Path, UINT64 Offset, const UINT8 *Expected, UINTN Size,
                          bool Whole, bool *Equal) {
  *Equal = false;
  auto Copy = PoolPtr<UINT8>::Allocate(Size == 0 ? 1 : Size);
  UINT64 FileSize = 0;
  EFI_STATUS Status =
      !Copy ? EFI_OUT_OF_RESOURCES : ReadAt(Path, Offset, Copy.Get(), Size, &FileSize);
  if (EFI_ERROR(Status))
    return Status;
  *Equal = (!Whole || FileSize == Offset + Size) && BytesEqual(Copy.Get(), Expected, Size);
  return EFI_SUCCESS;
}

// A reservation the volume took only in part is cut back to where it began, so that the next
// line starts on a line of its own; only the run's own bytes, at the end of the file, go.
VOID CutBack(SHELL_FILE_HANDLE File, UINT64 Size, UINT64 Written) {
  PoolPtr<EFI_FILE_INFO> Info(ShellFileOps.GetFileInfo(File));
  if (Info && Info->FileSize > Size && Info->FileSize <= Size + Written) {
    Info->FileSize = Size;
    ShellFileOps.SetFileInfo(File, Info.Get());
  }
}

// Writes Size bytes at the handle's position, flushes them, notes where they end and closes the
// file (a FAT driver may write a file's last data only when it closes); the first failure is the
// status. A write the volume takes only in part is cut back to CutTo, the size the file had, when
// that is given.
EFI_STATUS WriteAndClose(ShellFile &File, const VOID *Data, UINTN Size, UINT64 *End,
                         const UINT64 *CutTo) {
  EFI_STATUS Status = WriteShellFileExactly(File, Data, Size);
  if (EFI_ERROR(Status) && CutTo != nullptr)
    CutBack(File, *CutTo, Size);
  if (!EFI_ERROR(Status))
    Status = ShellFileOps.FlushFile(File);
  if (!EFI_ERROR(Status) && End != nullptr)
    Status = ShellFileOps.GetFilePosition(File, End);
  EFI_STATUS Closed = File.Close();
  return EFI_ERROR(Status) ? Status : Closed;
}

// A file system that cannot say how much room it has may also take a new file past its end and
// report success (U-Boot's FAT does so, and fails the file after it instead). A one-byte file made
// right after Beside shows whether Beside found room: it is made and removed again. A file that
// already has the probe's name (someone's, or a probe of a run that was cut off) is never
// touched: the probe takes the next numbered name instead.
EFI_STATUS ProveRoomAfter(const CHAR16 *Beside) {
  UINTN Length = WideStringLength(Beside);
  constexpr UINTN SuffixLength = sizeof(RoomProbeSuffix) / sizeof(CHAR16);
  auto Base = PoolPtr<CHAR16>::Allocate(Length + SuffixLength);
  if (!Base)
    return EFI_OUT_OF_RESOURCES;
  CopyBytes(Base.Get(), Beside, Length * sizeof(CHAR16));
  CopyBytes(Base.Get() + Length, RoomProbeSuffix, sizeof(RoomProbeSuffix));
  for (UINTN Number = 1; Number <= MaxFileNumber; Number++) {
    PoolPtr<CHAR16> Name = NumberedName(Base.Get(), Number);
    if (!Name)
      return EFI_OUT_OF_RESOURCES;
    ShellFile File;
    EFI_STATUS Status = OpenShellFile(Name.Get(), ShellFileMode::CreateNew, &File);
    if (Status == EFI_ACCESS_DENIED && ShellFileExists(Name.Get()))
      continue;
    if (EFI_ERROR(Status))
      return Status;
    const UINT8 Byte = 0;
    Status = WriteAndClose(File, &Byte, 1, nullptr, nullptr);
    RemoveByName(Name.Get());
    return Status;
  }
  return EFI_ACCESS_DENIED;
}

// Takes away a file whose making failed and says why.
EFI_STATUS SaveFailed(const CHAR16 *Name, const StationFileWords &Words,
                      ConsoleFormat<const CHAR16 *, const CHAR16 *, EFI_STATUS> Line,
                      EFI_STATUS Status) {
  RemoveByName(Name);
  PrintConsole(Line, Words.Noun, Name, Status);
  return Status;
}

// Makes one new file under Name. EFI_ACCESS_DENIED with *Taken set when the name turns out to be
// someone else's (made meanwhile); any other failure has said its line.
EFI_STATUS TrySave(const CHAR16 *Name, const UINT8 *Data, UINTN Size, const StationFileWords &Words,
                   bool *Taken) {
  *Taken = false;
  ShellFile File;
  EFI_STATUS Status = OpenShellFile(Name, ShellFileMode::CreateNew, &File);
  if (EFI_ERROR(Status)) {
    *Taken = Status == EFI_ACCESS_DENIED && ShellFileExists(Name);
    if (!*Taken)
      PrintConsole(u"ERROR: Cannot create %s %s: %r!\n", Words.Noun, Name, Status);
    return Status;
  }
  VolumeRoom Room = AskVolumeRoom(File);
  if (!FitsVolume(Room, 0, Size)) {
    File.Delete();
    PrintConsole(u"ERROR: %s %s does not fit: %ld bytes are free on its volume!\n",
                 Words.CapitalNoun, Name, Room.Free);
    return EFI_VOLUME_FULL;
  }
  Status = WriteShellFileExactly(File, Data, Size);
  if (!EFI_ERROR(Status))
    Status = ShellFileOps.FlushFile(File);
  if (EFI_ERROR(Status)) {
    File.Delete();
    PrintConsole(u"ERROR: Cannot write %s %s: %r!\n", Words.Noun, Name, Status);
    return Status;
  }
  // A file system may write a new file's last data, or give it its name, only when it closes.
  Status = File.Close();
  *Taken = Status == EFI_ACCESS_DENIED && ShellFileExists(Name);
  if (*Taken)
    return Status;
  if (EFI_ERROR(Status))
    return SaveFailed(Name, Words, u"ERROR: Cannot write %s %s: %r!\n", Status);
  if (!Room.Known) {
    Status = ProveRoomAfter(Name);
    if (EFI_ERROR(Status))
      return SaveFailed(Name, Words, u"ERROR: The volume of %s %s has no room left: %r!\n", Status);
  }
  bool Equal = false;
  Status = ReadBackEquals(Name, 0, Data, Size, true, &Equal);
  if (EFI_ERROR(Status))
    return SaveFailed(Name, Words, u"ERROR: Cannot read %s %s back: %r!\n", Status);
  if (!Equal) {
    RemoveByName(Name);
    PrintConsole(u"ERROR: %s %s reads back other bytes than were saved!\n", Words.CapitalNoun,
                 Name);
    return EFI_VOLUME_CORRUPTED;
  }
  return EFI_SUCCESS;
}

// --- The run's line ---------------------------------------------------------------------------

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

PoolPtr<CHAR16> NumberedName(const CHAR16 *Path, UINTN Number) {
  UINTN Length = WideStringLength(Path);
  // The last part of the path, and its extension: from its last '.', not counting a leading one.
  UINTN Part = Length;
  while (Part > 0 && Path[Part - 1] != u'\\' && Path[Part - 1] != u'/' && Path[Part - 1] != u':')
    Part--;
  UINTN Split = Length;
  for (UINTN I = Length; I > Part + 1; I--) {
    if (Path[I - 1] == u'.') {
      Split = I - 1;
      break;
    }
  }
  CHAR16 Digits[24];
  UINTN Count = 0;
  for (UINTN N = Number; Number > 1 && N != 0; N /= 10)
    Digits[Count++] = static_cast<CHAR16>(u'0' + N % 10);
  // A numbered name longer than a file system takes (255 characters on FAT, 255 bytes of UTF-8
  // on Linux) gives up characters of the name before its number, never the number or the
  // extension.
  UINTN Stem = Split;
  const auto PartSize = [&](UINTN StemEnd, bool Bytes) {
    UINTN Size = Count != 0 ? Count + 1 : 0;
    for (UINTN I = Part; I < Length; I++) {
      if (I >= StemEnd && I < Split)
        continue;
      Size += !Bytes || Path[I] < 0x80 ? 1 : Path[I] < 0x800 ? 2 : 3;
    }
    return Size;
  };
  while (Count != 0 && Stem > Part + 1 &&
         (PartSize(Stem, false) > MaxNameLength || PartSize(Stem, true) > MaxNameLength))
    Stem--;
  auto Name = PoolPtr<CHAR16>::Allocate(Length + Count + 2);
  if (!Name)
    return Name;
  UINTN At = 0;
  for (UINTN I = 0; I < Stem; I++)
    Name[At++] = Path[I];
  if (Count != 0)
    Name[At++] = u'-';
  while (Count > 0)
    Name[At++] = Digits[--Count];
  for (UINTN I = Split; I <= Length; I++)
    Name[At++] = Path[I];
  return Name;
}

ToolStatus SaveNewFile(const CHAR16 *Path, const UINT8 *Data, UINTN Size,
                       const StationFileWords &Words, PoolPtr<CHAR16> *Kept) {
  Kept->Reset();
  for (UINTN Number = 1; Number <= MaxFileNumber; Number++) {
    PoolPtr<CHAR16> Name = NumberedName(Path, Number);
    if (!Name) {
      PrintConsole(u"ERROR: Failed to allocate pool!\n");
      return ToolOutOfResources;
    }
    bool Taken = ShellFileExists(Name.Get());
    if (!Taken && !EFI_ERROR(TrySave(Name.Get(), Data, Size, Words, &Taken))) {
      if (Number > 1)
        PrintConsole(u"- %s is taken: the %s is kept in %s.\n", Path, Words.Content, Name.Get());
      *Kept = static_cast<PoolPtr<CHAR16> &&>(Name);
      return ToolSuccess;
    }
    if (!Taken)
      return ToolBackupFailed;
  }
  PrintConsole(u"ERROR: %s %s and all its numbered names are taken!\n", Words.CapitalNoun, Path);
  return ToolBackupFailed;
}

VOID DiscardBackupFile(const CHAR16 *Path) {
  RemoveByName(Path);
}

ToolStatus LoadBackupFile(const CHAR16 *Path, UINT8 *Block, UINTN Size) {
  ShellFile File;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Read, &File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot open %s: %r!\n", Path, Status);
    return ToolInvalidParameter;
  }
  UINT64 FileSize = 0;
  Status = ShellFileOps.GetFileSize(File, &FileSize);
  if (!EFI_ERROR(Status) && FileSize == Size)
    Status = ReadShellFileExactly(File, Block, Size);
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

ToolStatus ReserveStationLog(StationLog *Log, const CHAR16 *Path, const RunLogEntry &Entry) {
  *Log = {Path, 0, 0};
  ShellFile File;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Append, &File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot open log %s for appending: %r; GPP1 untouched!\n", Path, Status);
    // A name the file system will not let the run write through (another user's link) is a
    // log the command line should not have named.
    return Status == EFI_SECURITY_VIOLATION ? ToolInvalidParameter : ToolNotLoggedNothingWritten;
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
