#include "app/backup_files.h"

#include "shell/console.h"
#include "shell/memory.h"
#include "shell/shell_file_ops.h"

namespace {

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

} // namespace

ToolStatus SaveNewFile(const CHAR16 *Path, const UINT8 *Data, UINTN Size,
                       const StationFileWords &Words, PoolPtr<CHAR16> *Kept) {
  Kept->Reset();
  for (UINTN Number = 1; Number <= MaxFileNumber; Number++) {
    PoolPtr<CHAR16> Name = NumberedName(Path, Number);
    if (!Name) {
      PrintConsole(u"ERROR: Failed to allocate pool!\n");
      return ToolOutOfMemory;
    }
    bool Taken = ShellFileExists(Name.Get());
    if (!Taken && !EFI_ERROR(TrySave(Name.Get(), Data, Size, Words, &Taken))) {
      if (Number > 1)
        PrintConsole(u"- %s is taken: the %s is kept in %s.\n", Path, Words.Content, Name.Get());
      *Kept = static_cast<PoolPtr<CHAR16> &&>(Name);
      return ToolSuccess;
    }
    if (!Taken)
      return ToolFileNotKept;
  }
  PrintConsole(u"ERROR: %s %s and all its numbered names are taken!\n", Words.CapitalNoun, Path);
  return ToolFileNotKept;
}

VOID DiscardBackupFile(const CHAR16 *Path) {
  RemoveByName(Path);
}

ToolStatus LoadBackupFile(const CHAR16 *Path, UINT8 *Block, UINTN Size) {
  ShellFile File;
  EFI_STATUS Status = OpenShellFile(Path, ShellFileMode::Read, &File);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot open %s: %r!\n", Path, Status);
    return ToolBadCommandLine;
  }
  UINT64 FileSize = 0;
  Status = ShellFileOps.GetFileSize(File, &FileSize);
  if (!EFI_ERROR(Status) && FileSize == Size)
    Status = ReadShellFileExactly(File, Block, Size);
  if (EFI_ERROR(Status)) {
    PrintConsole(u"ERROR: Cannot read %s: %r!\n", Path, Status);
    return ToolBadCommandLine;
  }
  if (FileSize != Size) {
    PrintConsole(u"ERROR: %s holds %ld bytes, not the %d of a GPP1 block!\n", Path, FileSize,
                 static_cast<int>(Size));
    return ToolBadCommandLine;
  }
  return ToolSuccess;
}
