#include "app/station_files.h"

#include "shell/console.h"
#include "shell/memory.h"
#include "shell/shell_file_ops.h"

namespace {

constexpr CHAR16 RoomProbeSuffix[] = u".room";
// The longest last part of a file name that the file systems a station uses take.
constexpr UINTN MaxNameLength = 255;

} // namespace

VOID RemoveByName(const CHAR16 *Path) {
  ShellFile File;
  if (!EFI_ERROR(OpenShellFile(Path, ShellFileMode::Update, &File)))
    File.Delete();
}

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
