#include "host/host_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/sim_firmware.h"

namespace {

size_t OpenCount = 0;

// One open file; the protocol comes first, so a handle is its protocol.
struct LinuxFile {
  EFI_FILE_PROTOCOL Protocol;
  int Fd;
  std::string Path;
  std::string Temporary; // a new file's data until it is closed; empty otherwise
  uint64_t Position;
};

LinuxFile *FileOf(SHELL_FILE_HANDLE F) {
  return reinterpret_cast<LinuxFile *>(F);
}

void Warn(const std::string &Text) {
  fprintf(stderr, "kestrel: %s\n", Text.c_str());
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

// The shell hands names over in UCS-2; Linux names are UTF-8.
std::string PathOf(const CHAR16 *Name) {
  std::string Out;
  for (; *Name != 0; Name++) {
    char16_t C = *Name;
    if (C < 0x80) {
      Out.push_back(static_cast<char>(C));
    } else if (C < 0x800) {
      Out.push_back(static_cast<char>(0xC0 | (C >> 6)));
      Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    } else {
      Out.push_back(static_cast<char>(0xE0 | (C >> 12)));
      Out.push_back(static_cast<char>(0x80 | ((C >> 6) & 0x3F)));
      Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    }
  }
  return Out;
}

std::string FolderOf(const std::string &Path) {
  size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? "." : Slash == 0 ? "/" : Path.substr(0, Slash);
}

bool SyncFolder(const std::string &Path) {
  int Fd = open(FolderOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0)
    return false;
  // Some file systems (FUSE ones among them) cannot sync a folder; the rename stands regardless.
  bool Ok = fsync(Fd) == 0 || errno == EINVAL || errno == ENOSYS;
  int Error = errno;
  close(Fd);
  errno = Error;
  return Ok;
}

EFI_STATUS EFIAPI Unsupported() {
  return EFI_UNSUPPORTED;
}

SHELL_FILE_HANDLE NewHandle(int Fd, const std::string &Path, const std::string &Temporary) {
  auto *F = new LinuxFile{};
  F->Fd = Fd;
  F->Path = Path;
  F->Temporary = Temporary;
  void **Slots = reinterpret_cast<void **>(&F->Protocol.Open);
  for (size_t I = 0; I < (sizeof(EFI_FILE_PROTOCOL) - sizeof(UINT64)) / sizeof(void *); I++)
    Slots[I] = reinterpret_cast<void *>(&Unsupported);
  F->Protocol.Revision = 0x00010000;
  OpenCount++;
  return &F->Protocol;
}

EFI_STATUS Release(LinuxFile *F, EFI_STATUS Status) {
  delete F;
  OpenCount--;
  return Status;
}

EFI_STATUS EFIAPI OpenFileByName(const CHAR16 *Name, SHELL_FILE_HANDLE *File, UINT64 Mode) {
  std::string Path = PathOf(Name);
  int Flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if ((Mode & EFI_FILE_MODE_WRITE) != 0)
    Flags |= O_RDWR | ((Mode & EFI_FILE_MODE_CREATE) != 0 ? O_CREAT : 0);
  int Fd = open(Path.c_str(), Flags, 0666);
  if (Fd < 0)
    return errno == ENOENT && (Mode & EFI_FILE_MODE_WRITE) == 0 ? EFI_NOT_FOUND
                                                                : Failed("open", Path, errno);
  struct stat Info;
  if (fstat(Fd, &Info) != 0 || !S_ISREG(Info.st_mode)) {
    close(Fd);
    Warn("cannot use " + Path + ": not a regular file");
    return EFI_ACCESS_DENIED;
  }
  *File = NewHandle(Fd, Path, "");
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CreateFile(const CHAR16 *Name, UINT64, SHELL_FILE_HANDLE *File) {
  std::string Path = PathOf(Name);
  struct stat Existing;
  if (lstat(Path.c_str(), &Existing) == 0)
    return Failed("create", Path, EEXIST);
  // Hidden and random: a temporary left by a killed run never blocks the next one.
  size_t Slash = Path.rfind('/');
  std::string Temporary = FolderOf(Path) + "/." +
                          (Slash == std::string::npos ? Path : Path.substr(Slash + 1)) + ".XXXXXX";
  int Fd = mkostemp(Temporary.data(), O_CLOEXEC);
  if (Fd < 0)
    return Failed("create", Path, errno);
  // mkostemp creates the file for its owner only; the file gets the usual mode.
  mode_t Mask = umask(0);
  umask(Mask);
  fchmod(Fd, 0666 & ~Mask);
  *File = NewHandle(Fd, Path, Temporary);
  return EFI_SUCCESS;
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
  int Reserved = open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  if (Reserved < 0)
    return false;
  close(Reserved);
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
    N = pread(F->Fd, Buffer, *Size, static_cast<off_t>(F->Position));
  while (N < 0 && errno == EINTR);
  if (N < 0) {
    *Size = 0;
    return Failed("read", F->Path, errno);
  }
  *Size = static_cast<UINTN>(N);
  F->Position += static_cast<uint64_t>(N);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE H, UINTN *Size, VOID *Buffer) {
  LinuxFile *F = FileOf(H);
  size_t Done = 0;
  while (Done < *Size) {
    ssize_t N = pwrite(F->Fd, static_cast<uint8_t *>(Buffer) + Done, *Size - Done,
                       static_cast<off_t>(F->Position + Done));
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0) {
      int Error = N < 0 ? errno : ENOSPC;
      *Size = Done;
      F->Position += Done;
      return Failed("write", F->Path, Error);
    }
    Done += static_cast<size_t>(N);
  }
  F->Position += Done;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FlushFile(SHELL_FILE_HANDLE H) {
  LinuxFile *F = FileOf(H);
  return fsync(F->Fd) == 0 ? EFI_SUCCESS : Failed("sync", F->Path, errno);
}

EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE H) {
  LinuxFile *F = FileOf(H);
  if (F->Temporary.empty())
    return Release(F, close(F->Fd) == 0 ? EFI_SUCCESS : Failed("close", F->Path, errno));
  // A new file: synced whole under its temporary name, then put in place.
  bool Ok = fsync(F->Fd) == 0;
  int Error = errno;
  if (close(F->Fd) != 0 && Ok) {
    Ok = false;
    Error = errno;
  }
  bool Placed = Ok && PlaceNewFile(F->Temporary, F->Path);
  if (Ok && !Placed)
    Error = errno;
  if (Placed && !SyncFolder(F->Path)) {
    Error = errno;
    unlink(F->Path.c_str());
    Placed = false;
  }
  if (!Placed) {
    unlink(F->Temporary.c_str());
    return Release(F, Failed("write", F->Path, Error));
  }
  return Release(F, EFI_SUCCESS);
}

EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE H) {
  LinuxFile *F = FileOf(H);
  close(F->Fd);
  // A new file is only its temporary until it is closed.
  const std::string &Name = F->Temporary.empty() ? F->Path : F->Temporary;
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
  if (fstat(FileOf(H)->Fd, &Info) != 0)
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

// Only the size of the record matters to the tool (it cuts a log back after a failed line).
EFI_FILE_INFO *EFIAPI GetFileInfo(SHELL_FILE_HANDLE H) {
  UINT64 Size = 0;
  if (EFI_ERROR(GetFileSize(H, &Size)))
    return nullptr;
  auto *Info =
      static_cast<EFI_FILE_INFO *>(SimFirmware::Active().PoolAllocate(sizeof(EFI_FILE_INFO)));
  if (Info == nullptr)
    return nullptr;
  memset(Info, 0, sizeof(EFI_FILE_INFO));
  Info->Size = sizeof(EFI_FILE_INFO);
  Info->FileSize = Size;
  return Info;
}

EFI_STATUS EFIAPI SetFileInfo(SHELL_FILE_HANDLE H, const EFI_FILE_INFO *Info) {
  LinuxFile *F = FileOf(H);
  return ftruncate(F->Fd, static_cast<off_t>(Info->FileSize)) == 0 ? EFI_SUCCESS
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
  return OpenCount;
}
