#include "hosted/linux_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <climits>
#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "hosted/descriptor.h"
#include "hosted/text.h"
#include "hosted/firmware.h"

namespace {

// How long an open for writing waits for another run's lock on the file (a log shared by runs at
// once holds it only while a line is put), and how often it asks.
constexpr int FileLockWaitMilliseconds = 5000;
constexpr long FileLockPollNanoseconds = 10 * 1000 * 1000;
constexpr int NanosecondsPerMillisecond = 1000 * 1000;

// How a new file is made whole before it gets its name.
enum class NewFile {
  None,      // an existing file
  Unnamed,   // O_TMPFILE: no name at all until it is linked in place
  Temporary, // a hidden temporary beside it, renamed over the name reserved for it
};

// One open file; the protocol comes first, so a handle is its protocol.
struct LinuxFile {
  EFI_FILE_PROTOCOL Protocol;
  Descriptor Fd;
  std::string Path;
  NewFile Kind;
  std::string Temporary; // NewFile::Temporary: the temporary's name
  uint64_t Position;
};

// The open files, owned here from their open to their close (or delete).
std::vector<std::unique_ptr<LinuxFile>> OpenFiles;

LinuxFile *FileOf(SHELL_FILE_HANDLE F) {
  return reinterpret_cast<LinuxFile *>(F);
}

EFI_STATUS StatusOf(int Error) {
  switch (Error) {
  case ENOSPC:
  case EDQUOT:
  case EFBIG:
    return EFI_VOLUME_FULL;
  case EROFS:
    return EFI_WRITE_PROTECTED;
  case EACCES:
  case EPERM:
  case EEXIST:
  case EISDIR:
    return EFI_ACCESS_DENIED;
  case ENOENT:
  case ENOTDIR:
    return EFI_NOT_FOUND;
  case ENOMEM:
    return EFI_OUT_OF_RESOURCES;
  default:
    return EFI_DEVICE_ERROR;
  }
}

EFI_STATUS Failed(const std::string &What, const std::string &Path, int Error) {
  Warn("cannot " + What + " " + Path + ": " + strerror(Error));
  return StatusOf(Error);
}

std::string FolderOf(const std::string &Path) {
  size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? "." : Slash == 0 ? "/" : Path.substr(0, Slash);
}

bool SyncFolder(const std::string &Path) {
  Descriptor Folder(open(FolderOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!Folder.Valid())
    return false;
  // Some file systems (FUSE ones among them) cannot sync a folder; the rename stands regardless.
  bool Ok = fsync(Folder.Get()) == 0 || errno == EINVAL || errno == ENOSYS;
  int Error = errno;
  // Closed before the reason is put back, so that the close cannot change it.
  Folder.Reset();
  errno = Error;
  return Ok;
}

EFI_STATUS EFIAPI Unsupported() {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI GetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *Size, VOID *Buffer);

SHELL_FILE_HANDLE NewHandle(Descriptor Fd, const std::string &Path, NewFile Kind,
                            const std::string &Temporary = "") {
  auto F = std::make_unique<LinuxFile>();
  F->Fd = std::move(Fd);
  F->Path = Path;
  F->Kind = Kind;
  F->Temporary = Temporary;
  void **Slots = reinterpret_cast<void **>(&F->Protocol.Open);
  for (size_t I = 0; I < (sizeof(EFI_FILE_PROTOCOL) - sizeof(UINT64)) / sizeof(void *); I++)
    Slots[I] = reinterpret_cast<void *>(&Unsupported);
  F->Protocol.Revision = 0x00010000;
  F->Protocol.GetInfo = GetInfo;
  OpenFiles.push_back(std::move(F));
  return &OpenFiles.back()->Protocol;
}

// An exclusive lock on a file opened for writing, held until it is closed, so that runs sharing a
// log put their lines one at a time. Waits a few seconds for another holder.
bool LockForWriting(int Fd) {
  for (int Waited = 0;; Waited++) {
    if (flock(Fd, LOCK_EX | LOCK_NB) == 0)
      return true;
    if ((errno != EWOULDBLOCK && errno != EINTR) ||
        static_cast<long>(Waited) * FileLockPollNanoseconds >=
            static_cast<long>(FileLockWaitMilliseconds) * NanosecondsPerMillisecond)
      return false;
    struct timespec Pause = {0, FileLockPollNanoseconds};
    nanosleep(&Pause, nullptr);
  }
}

// The handle is closed: its file goes (with its descriptor, if still open).
EFI_STATUS Release(LinuxFile *F, EFI_STATUS Status) {
  for (auto It = OpenFiles.begin(); It != OpenFiles.end(); ++It) {
    if (It->get() == F) {
      OpenFiles.erase(It);
      break;
    }
  }
  return Status;
}

// The run's own files, each opened by name once: the log from its first open for writing, a new
// file from the moment it gets its name. Every later open of the same name in the run goes
// through that descriptor, so that nothing another user does to the name meanwhile (a
// symlink put in its place, the file moved) reaches the run, and a log's exclusive lock is held
// from the run's reserved line until its outcome is in. Let go of when the run ends.
struct RunFile {
  std::string Path;
  Descriptor Fd;
};
std::vector<RunFile> RunFiles;

// The run's file Path opened again with Flags, through its held descriptor rather than its name:
// a descriptor of its own (a FAT file system through FUSE writes a file's data only when an open
// of it is released), or a duplicate where /proc is not there to reopen it through.
Descriptor RunFileCopy(const std::string &Path, int Flags) {
  for (const RunFile &File : RunFiles) {
    if (File.Path != Path)
      continue;
    const std::string Held = "/proc/self/fd/" + std::to_string(File.Fd.Get());
    Descriptor Again(open(Held.c_str(), Flags & ~(O_CREAT | O_NOFOLLOW)));
    struct stat A, B;
    if (Again.Valid() && fstat(Again.Get(), &A) == 0 && fstat(File.Fd.Get(), &B) == 0 &&
        A.st_dev == B.st_dev && A.st_ino == B.st_ino)
      return Again;
    return Descriptor(fcntl(File.Fd.Get(), F_DUPFD_CLOEXEC, 0));
  }
  return Descriptor();
}

VOID KeepRunFile(const std::string &Path, int Fd) {
  Descriptor Copy(fcntl(Fd, F_DUPFD_CLOEXEC, 0));
  if (Copy.Valid())
    RunFiles.push_back({Path, std::move(Copy)});
}

// Opens Path once, by name, as a run may: a regular file, reached through a symlink as the last
// part of its name only when the run's own user made the link (whoever owns the folder, and
// whatever fs.protected_symlinks says). Anything else under the name is not opened at all:
// EFI_SECURITY_VIOLATION for another user's link, EFI_ACCESS_DENIED for a name that holds no
// regular file (a FIFO, a folder, a device, a link to nowhere), so that a caller can tell a name
// that is taken from one that is free.
EFI_STATUS OpenOnce(const std::string &Path, int Flags, Descriptor *Fd) {
  struct stat Named;
  if (lstat(Path.c_str(), &Named) != 0) {
    if (errno != ENOENT || (Flags & O_CREAT) == 0)
      return errno == ENOENT ? EFI_NOT_FOUND : Failed("open", Path, errno);
  } else if (S_ISLNK(Named.st_mode)) {
    if (Named.st_uid != geteuid()) {
      Warn("cannot use " + Path + ": a symbolic link another user made");
      return EFI_SECURITY_VIOLATION;
    }
    // Our own link, held by its inode while it is followed, so that it cannot be swapped between
    // the look and the open.
    Descriptor Link(open(Path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat Held;
    if (!Link.Valid() || fstat(Link.Get(), &Held) != 0 || Held.st_ino != Named.st_ino ||
        Held.st_dev != Named.st_dev)
      return Failed("open", Path, Link.Valid() ? EAGAIN : errno);
    // Where the held link points (one link, no chain), from the folder the link is in.
    std::string Target(PATH_MAX, '\0');
    ssize_t Length = readlinkat(Link.Get(), "", Target.data(), Target.size());
    if (Length <= 0 || static_cast<size_t>(Length) >= Target.size())
      return Failed("follow", Path, Length < 0 ? errno : ENAMETOOLONG);
    Target.resize(static_cast<size_t>(Length));
    if (Target[0] != '/')
      Target = FolderOf(Path) + "/" + Target;
    Fd->Reset(open(Target.c_str(), (Flags & ~O_CREAT) | O_NOFOLLOW, 0666));
    if (!Fd->Valid())
      return errno == ENOENT || errno == ELOOP ? EFI_ACCESS_DENIED : Failed("open", Path, errno);
  } else if (!S_ISREG(Named.st_mode)) {
    Warn("cannot use " + Path + ": not a regular file");
    return EFI_ACCESS_DENIED;
  }
  if (!Fd->Valid())
    Fd->Reset(open(Path.c_str(), Flags | O_NOFOLLOW, 0666));
  if (!Fd->Valid())
    return errno == ELOOP ? EFI_SECURITY_VIOLATION : Failed("open", Path, errno);
  struct stat Info;
  if (fstat(Fd->Get(), &Info) != 0 || !S_ISREG(Info.st_mode)) {
    Fd->Reset();
    Warn("cannot use " + Path + ": not a regular file");
    return EFI_ACCESS_DENIED;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI OpenFileByName(const CHAR16 *Name, SHELL_FILE_HANDLE *File, UINT64 Mode) {
  std::string Path = EncodeUtf8(Name);
  int Flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  // Writes at the end go through O_APPEND, so that runs sharing a log never write over each
  // other's lines, and a file marked append-only can still be opened.
  const bool Writing = (Mode & EFI_FILE_MODE_WRITE) != 0;
  if (Writing)
    Flags |= O_RDWR | O_APPEND | ((Mode & EFI_FILE_MODE_CREATE) != 0 ? O_CREAT : 0);
  Descriptor Fd = RunFileCopy(Path, Flags);
  if (Fd.Valid()) {
    *File = NewHandle(std::move(Fd), Path, NewFile::None);
    return EFI_SUCCESS;
  }
  EFI_STATUS Status = OpenOnce(Path, Flags, &Fd);
  if (EFI_ERROR(Status))
    return Status;
  if (Writing && !LockForWriting(Fd.Get())) {
    int Error = errno;
    return Failed("lock", Path, Error == EWOULDBLOCK ? EBUSY : Error);
  }
  if (Writing)
    KeepRunFile(Path, Fd.Get());
  *File = NewHandle(std::move(Fd), Path, NewFile::None);
  return EFI_SUCCESS;
}

// The hidden temporary a new file at Path is made in where the file system has no unnamed files:
// ".kestrel-" and a hash of the file's name, in its folder.
std::string TemporaryFor(const std::string &Path) {
  const size_t Slash = Path.rfind('/');
  uint64_t Hash = 0xCBF29CE484222325ULL; // FNV-1a
  for (size_t I = Slash == std::string::npos ? 0 : Slash + 1; I < Path.size(); I++)
    Hash = (Hash ^ static_cast<unsigned char>(Path[I])) * 0x100000001B3ULL;
  char Text[17];
  snprintf(Text, sizeof(Text), "%016llx", static_cast<unsigned long long>(Hash));
  return FolderOf(Path) + "/.kestrel-" + Text;
}

EFI_STATUS EFIAPI CreateFile(const CHAR16 *Name, UINT64, SHELL_FILE_HANDLE *File) {
  std::string Path = EncodeUtf8(Name);
  struct stat Existing;
  if (lstat(Path.c_str(), &Existing) == 0)
    return Failed("create", Path, EEXIST);
  // A file without a name until it is whole: nothing of it is left if the run is killed.
  mode_t Mask = umask(0);
  umask(Mask);
  Descriptor Fd(open(FolderOf(Path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666 & ~Mask));
  if (Fd.Valid()) {
    *File = NewHandle(std::move(Fd), Path, NewFile::Unnamed);
    return EFI_SUCCESS;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
    return Failed("create", Path, errno);
  // A file system without unnamed files (FAT through FUSE): a hidden temporary beside the name,
  // of a length of its own (so that the name may be as long as the folder allows) and named
  // after it, so that the next run for the same name removes what a killed run left. One that
  // another user put there is left alone, and a random name taken instead.
  std::string Temporary = TemporaryFor(Path);
  Fd.Reset(open(Temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
  struct stat Left;
  if (!Fd.Valid() && errno == EEXIST && lstat(Temporary.c_str(), &Left) == 0 &&
      S_ISREG(Left.st_mode) && Left.st_uid == geteuid() && unlink(Temporary.c_str()) == 0)
    Fd.Reset(open(Temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
  if (!Fd.Valid() && errno == EEXIST) {
    Temporary = FolderOf(Path) + "/.kestrel-XXXXXX";
    Fd.Reset(mkostemp(Temporary.data(), O_CLOEXEC));
  }
  if (!Fd.Valid())
    return Failed("create", Path, errno);
  // mkostemp creates the file for its owner only; the file gets the usual mode.
  fchmod(Fd.Get(), 0666 & ~Mask);
  *File = NewHandle(std::move(Fd), Path, NewFile::Temporary, Temporary);
  return EFI_SUCCESS;
}

// Gives an unnamed file its name, never over an existing file (link() fails with EEXIST).
bool LinkUnnamed(int Fd, const std::string &Path) {
  std::string Self = "/proc/self/fd/" + std::to_string(Fd);
  if (linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Path.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return true;
  // Without /proc, the descriptor itself (this needs the right to search any folder).
  return errno == ENOENT && linkat(Fd, "", AT_FDCWD, Path.c_str(), AT_EMPTY_PATH) == 0;
}

// Puts a synced temporary at Path, never over an existing file. link() does it in one step; a file
// system without it (FAT) gets the name reserved with O_EXCL and the temporary renamed over it.
bool PlaceNewFile(const std::string &Temporary, const std::string &Path) {
  if (link(Temporary.c_str(), Path.c_str()) == 0) {
    unlink(Temporary.c_str());
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
    return false;
  if (!Descriptor(open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666))
           .Valid())
    return false;
  if (rename(Temporary.c_str(), Path.c_str()) == 0)
    return true;
  int Error = errno;
  unlink(Path.c_str());
  errno = Error;
  return false;
}

EFI_STATUS EFIAPI ReadFile(SHELL_FILE_HANDLE H, UINTN *Size, VOID *Buffer) {
  LinuxFile *F = FileOf(H);
  ssize_t N;
  do
    N = pread(F->Fd.Get(), Buffer, *Size, static_cast<off_t>(F->Position));
  while (N < 0 && errno == EINTR);
  if (N < 0) {
    *Size = 0;
    return Failed("read", F->Path, errno);
  }
  *Size = static_cast<UINTN>(N);
  F->Position += static_cast<uint64_t>(N);
  return EFI_SUCCESS;
}

// Writes Size bytes at the handle's position. At or past the file's end the bytes go through
// O_APPEND and land at its real end, which becomes the position; before it, in place, through a
// descriptor of the file's own without O_APPEND (pwrite on an O_APPEND descriptor appends
// whatever its offset), which a file marked append-only refuses (EFI_ACCESS_DENIED, nothing
// written).
EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE H, UINTN *Size, VOID *Buffer) {
  LinuxFile *F = FileOf(H);
  int Flags = fcntl(F->Fd.Get(), F_GETFL);
  struct stat Info;
  if (Flags < 0 || fstat(F->Fd.Get(), &Info) != 0)
    return Failed("write", F->Path, errno);
  const bool Appending = (Flags & O_APPEND) != 0;
  const bool Append = Appending && F->Position >= static_cast<uint64_t>(Info.st_size);
  Descriptor InPlace;
  if (Appending && !Append) {
    const std::string Held = "/proc/self/fd/" + std::to_string(F->Fd.Get());
    InPlace.Reset(open(Held.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (!InPlace.Valid()) {
      *Size = 0;
      return errno == EPERM ? EFI_ACCESS_DENIED : Failed("write", F->Path, errno);
    }
  }
  const int Fd = InPlace.Valid() ? InPlace.Get() : F->Fd.Get();
  size_t Done = 0;
  int Error = 0;
  while (Done < *Size) {
    const uint8_t *From = static_cast<uint8_t *>(Buffer) + Done;
    ssize_t N = Append ? write(Fd, From, *Size - Done)
                       : pwrite(Fd, From, *Size - Done, static_cast<off_t>(F->Position + Done));
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0) {
      Error = N < 0 ? errno : ENOSPC;
      break;
    }
    Done += static_cast<size_t>(N);
  }
  if (Append) {
    off_t End = lseek(Fd, 0, SEEK_CUR);
    F->Position = End >= 0 ? static_cast<uint64_t>(End) : F->Position + Done;
  } else {
    F->Position += Done;
  }
  // A write in place is released with its own descriptor (a FUSE file system writes it then);
  // the handle's flush syncs the file.
  if (InPlace.Valid() && !InPlace.Close() && Error == 0)
    Error = errno;
  *Size = Done;
  return Error == 0 ? EFI_SUCCESS : Failed("write", F->Path, Error);
}

EFI_STATUS EFIAPI FlushFile(SHELL_FILE_HANDLE H) {
  LinuxFile *F = FileOf(H);
  return fsync(F->Fd.Get()) == 0 ? EFI_SUCCESS : Failed("sync", F->Path, errno);
}

EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE H) {
  LinuxFile *F = FileOf(H);
  if (F->Kind == NewFile::None)
    return Release(F, F->Fd.Close() ? EFI_SUCCESS : Failed("close", F->Path, errno));
  // A new file: synced whole, then put in place under its name, and the folder synced.
  // An unnamed file is linked while it is open; a temporary is renamed once it is closed.
  bool Ok = fsync(F->Fd.Get()) == 0;
  int Error = errno;
  // The file, as the run's own from now on: its read-back and removal go through this. An open of
  // its own, so that closing the one it was written through releases it (and a FUSE file system
  // writes it then).
  const std::string Self = "/proc/self/fd/" + std::to_string(F->Fd.Get());
  Descriptor Kept(open(Self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!Kept.Valid())
    Kept.Reset(fcntl(F->Fd.Get(), F_DUPFD_CLOEXEC, 0));
  bool Placed = Ok && F->Kind == NewFile::Unnamed && LinkUnnamed(F->Fd.Get(), F->Path);
  if (Ok && F->Kind == NewFile::Unnamed && !Placed) {
    Ok = false;
    Error = errno;
  }
  if (!F->Fd.Close() && Ok) {
    Ok = false;
    Error = errno;
    if (Placed)
      unlink(F->Path.c_str());
    Placed = false;
  }
  if (Ok && F->Kind == NewFile::Temporary) {
    Placed = PlaceNewFile(F->Temporary, F->Path);
    if (!Placed)
      Error = errno;
  }
  if (Placed && !SyncFolder(F->Path)) {
    Error = errno;
    unlink(F->Path.c_str());
    Placed = false;
  }
  if (!Placed) {
    if (F->Kind == NewFile::Temporary)
      unlink(F->Temporary.c_str());
    return Release(F, Failed("write", F->Path, Error));
  }
  if (Kept.Valid())
    RunFiles.push_back({F->Path, std::move(Kept)});
  return Release(F, EFI_SUCCESS);
}

// Whether Path still names the run's own file (made or opened by the run), and no other.
bool StillNames(const std::string &Path) {
  struct stat Named, Held;
  for (const RunFile &File : RunFiles) {
    if (File.Path == Path)
      return lstat(Path.c_str(), &Named) == 0 && fstat(File.Fd.Get(), &Held) == 0 &&
             Named.st_dev == Held.st_dev && Named.st_ino == Held.st_ino;
  }
  return false;
}

EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE H) {
  LinuxFile *F = FileOf(H);
  // Closed first, as the firmware's Delete closes the handle before the file goes.
  F->Fd.Reset();
  // A new file is nameless, or only its temporary, until it is closed.
  if (F->Kind == NewFile::Unnamed)
    return Release(F, EFI_SUCCESS);
  const std::string &Name = F->Kind == NewFile::Temporary ? F->Temporary : F->Path;
  // A name the run did not make, or that holds another file by now, is not the run's to remove.
  if (F->Kind == NewFile::None && !StillNames(F->Path))
    return Release(F, Failed("remove", F->Path, EPERM));
  EFI_STATUS Status = unlink(Name.c_str()) == 0 ? EFI_SUCCESS : Failed("remove", F->Path, errno);
  if (Status == EFI_SUCCESS)
    SyncFolder(F->Path);
  return Release(F, Status);
}

EFI_STATUS EFIAPI GetFilePosition(SHELL_FILE_HANDLE H, UINT64 *Position) {
  *Position = FileOf(H)->Position;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetFileSize(SHELL_FILE_HANDLE H, UINT64 *Size) {
  struct stat Info;
  if (fstat(FileOf(H)->Fd.Get(), &Info) != 0)
    return Failed("examine", FileOf(H)->Path, errno);
  *Size = static_cast<UINT64>(Info.st_size);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetFilePosition(SHELL_FILE_HANDLE H, UINT64 Position) {
  if (Position == EfiFilePositionEnd)
    return GetFileSize(H, &FileOf(H)->Position);
  FileOf(H)->Position = Position;
  return EFI_SUCCESS;
}

// The volume's room, as the tool asks it before it keeps a file there: EFI_FILE_SYSTEM_INFO from
// fstatvfs, without a label. Other kinds of information are not served on a Linux file.
EFI_STATUS EFIAPI GetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *Size,
                          VOID *Buffer) {
  LinuxFile *F = reinterpret_cast<LinuxFile *>(This);
  if (Type == nullptr || Size == nullptr || !GuidsEqual(Type, &EfiFileSystemInfoGuid))
    return EFI_UNSUPPORTED;
  constexpr UINTN Needed = sizeof(EFI_FILE_SYSTEM_INFO);
  if (*Size < Needed || Buffer == nullptr) {
    *Size = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  struct statvfs Volume;
  if (fstatvfs(F->Fd.Get(), &Volume) != 0)
    return Failed("examine the volume of", F->Path, errno);
  auto *Info = static_cast<EFI_FILE_SYSTEM_INFO *>(Buffer);
  memset(Info, 0, Needed);
  Info->Size = Needed;
  Info->ReadOnly = (Volume.f_flag & ST_RDONLY) != 0;
  Info->VolumeSize = static_cast<UINT64>(Volume.f_blocks) * Volume.f_frsize;
  Info->FreeSpace = static_cast<UINT64>(Volume.f_bavail) * Volume.f_frsize;
  Info->BlockSize = static_cast<UINT32>(Volume.f_frsize);
  *Size = Needed;
  return EFI_SUCCESS;
}

// Only the size of the record matters to the tool (it cuts a log back after a failed line).
EFI_FILE_INFO *EFIAPI GetFileInfo(SHELL_FILE_HANDLE H) {
  UINT64 Size = 0;
  if (EFI_ERROR(GetFileSize(H, &Size)))
    return nullptr;
  auto *Info =
      static_cast<EFI_FILE_INFO *>(HostedFirmware::Active().PoolAllocate(sizeof(EFI_FILE_INFO)));
  if (Info == nullptr)
    return nullptr;
  memset(Info, 0, sizeof(EFI_FILE_INFO));
  Info->Size = sizeof(EFI_FILE_INFO);
  Info->FileSize = Size;
  return Info;
}

EFI_STATUS EFIAPI SetFileInfo(SHELL_FILE_HANDLE H, const EFI_FILE_INFO *Info) {
  LinuxFile *F = FileOf(H);
  return ftruncate(F->Fd.Get(), static_cast<off_t>(Info->FileSize)) == 0
             ? EFI_SUCCESS
             : Failed("cut", F->Path, errno);
}

} // namespace

void ServeLinuxFiles(EFI_SHELL_PROTOCOL *Shell) {
  Shell->OpenFileByName = OpenFileByName;
  Shell->CreateFile = CreateFile;
  Shell->ReadFile = ReadFile;
  Shell->WriteFile = WriteFile;
  Shell->FlushFile = FlushFile;
  Shell->CloseFile = CloseFile;
  Shell->DeleteFile = DeleteFile;
  Shell->GetFilePosition = GetFilePosition;
  Shell->SetFilePosition = SetFilePosition;
  Shell->GetFileSize = GetFileSize;
  Shell->GetFileInfo = GetFileInfo;
  Shell->SetFileInfo = SetFileInfo;
}

size_t OpenLinuxFiles() {
  return OpenFiles.size();
}

void EndLinuxFileRun() {
  RunFiles.clear();
}
