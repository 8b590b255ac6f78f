#include "hosted/gpp1_medium.h"

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hosted/text.h"

namespace {

// Direct transfers need a buffer aligned to the device's logical block size; a page covers
// every block size up to it.
constexpr size_t PageAlignment = 4096;
// How often a run that waits for the lock asks again.
constexpr long LockPollNanoseconds = 20 * 1000 * 1000;
constexpr int NanosecondsPerMillisecond = 1000 * 1000;

std::string ErrnoText(int Error) {
  return strerror(Error);
}

struct AlignedBuffer {
  explicit AlignedBuffer(size_t Alignment, size_t Length) {
    if (posix_memalign(&Data, Alignment, Length == 0 ? Alignment : Length) != 0)
      Data = nullptr;
  }
  ~AlignedBuffer() { free(Data); }
  AlignedBuffer(const AlignedBuffer &) = delete;
  AlignedBuffer &operator=(const AlignedBuffer &) = delete;
  void *Data = nullptr;
};

} // namespace

Gpp1Medium::Gpp1Medium(MediumKind TypeIn, std::string NameIn, Descriptor Fd, uint32_t BlockIn,
                       uint64_t BytesIn)
    : Type(TypeIn), Name(std::move(NameIn)), ReadFd(std::move(Fd)), Block(BlockIn), Bytes(BytesIn) {
}

std::unique_ptr<Gpp1Medium> Gpp1Medium::OpenImage(const std::string &Path, uint32_t BlockSize,
                                                  MediumError *Error) {
  // The type is checked before the open, which would wait forever on a FIFO without a writer,
  // and again on the opened descriptor, in case the name was replaced in between.
  struct stat Named;
  if (stat(Path.c_str(), &Named) != 0) {
    Error->Message = "cannot open image " + Path + ": " + ErrnoText(errno);
    return nullptr;
  }
  if (!S_ISREG(Named.st_mode)) {
    Error->Message = S_ISBLK(Named.st_mode) ? Path + " is a block device; use --device for it"
                                            : "image " + Path + " is not a regular file";
    return nullptr;
  }
  Descriptor Fd(open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!Fd.Valid()) {
    Error->Message = "cannot open image " + Path + ": " + ErrnoText(errno);
    return nullptr;
  }
  struct stat Info;
  if (fstat(Fd.Get(), &Info) != 0 || !S_ISREG(Info.st_mode) || Info.st_dev != Named.st_dev ||
      Info.st_ino != Named.st_ino) {
    Error->Message = "image " + Path + " changed while it was opened";
    return nullptr;
  }
  uint64_t Size = static_cast<uint64_t>(Info.st_size);
  if (Size == 0 || Size % BlockSize != 0) {
    Error->Message = "image " + Path + " holds " + std::to_string(Size) +
                     " bytes, not a whole number of " + std::to_string(BlockSize) + "-byte blocks";
    return nullptr;
  }
  return std::unique_ptr<Gpp1Medium>(
      new Gpp1Medium(MediumKind::Image, Path, std::move(Fd), BlockSize, Size));
}

std::unique_ptr<Gpp1Medium>
Gpp1Medium::OpenDevice(const std::string &Path, const std::string &SysfsRoot, MediumError *Error) {
  // Checked before opening with O_DIRECT, which some file systems refuse for regular files.
  struct stat Info;
  if (stat(Path.c_str(), &Info) != 0) {
    Error->Missing = errno == ENOENT || errno == ENOTDIR;
    Error->Message = "cannot open device " + Path + ": " + ErrnoText(errno);
    return nullptr;
  }
  if (!S_ISBLK(Info.st_mode)) {
    Error->Message = Path + " is not a block device; use --image for a file";
    return nullptr;
  }
  Descriptor Fd(open(Path.c_str(), O_RDONLY | O_DIRECT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!Fd.Valid()) {
    Error->Message = "cannot open device " + Path + ": " + ErrnoText(errno);
    return nullptr;
  }
  struct stat Opened;
  // The node could have been replaced between stat and open; what counts from here on is the
  // device number of the opened descriptor.
  if (fstat(Fd.Get(), &Opened) != 0 || !S_ISBLK(Opened.st_mode) || Opened.st_rdev != Info.st_rdev) {
    Error->Message = "device " + Path + " changed while it was opened";
    return nullptr;
  }
  int LogicalBlock = 0;
  uint64_t Size = 0;
  if (ioctl(Fd.Get(), BLKSSZGET, &LogicalBlock) != 0 || ioctl(Fd.Get(), BLKGETSIZE64, &Size) != 0) {
    Error->Message = "cannot read the geometry of " + Path + ": " + ErrnoText(errno);
    return nullptr;
  }
  if (LogicalBlock <= 0 || Size < static_cast<uint64_t>(LogicalBlock)) {
    Error->Message = "device " + Path + " holds no whole block";
    return nullptr;
  }
  auto Medium = std::unique_ptr<Gpp1Medium>(new Gpp1Medium(
      MediumKind::Device, Path, std::move(Fd), static_cast<uint32_t>(LogicalBlock), Size));
  Medium->ReadOnly = KernelHoldsReadOnly(Medium->ReadFd.Get(), Opened.st_rdev, SysfsRoot);
  Medium->Kernel = IdentifyBlockDevice(Opened.st_rdev, SysfsRoot);
  return Medium;
}

bool Gpp1Medium::ReadAt(int Fd, uint64_t Offset, void *Buffer, size_t Length) {
  auto *Out = static_cast<uint8_t *>(Buffer);
  size_t Done = 0;
  while (Done < Length) {
    ssize_t N = pread(Fd, Out + Done, Length - Done, static_cast<off_t>(Offset + Done));
    if (N < 0 && errno == EINTR)
      continue;
    if (N < 0) {
      Warn("read of " + Name + " failed: " + ErrnoText(errno));
      return false;
    }
    if (N == 0) {
      Warn("read of " + Name + " ended early");
      return false;
    }
    Done += static_cast<size_t>(N);
  }
  return true;
}

bool Gpp1Medium::WriteAt(int Fd, uint64_t Offset, const void *Buffer, size_t Length) {
  const auto *In = static_cast<const uint8_t *>(Buffer);
  size_t Done = 0;
  while (Done < Length) {
    ssize_t N = pwrite(Fd, In + Done, Length - Done, static_cast<off_t>(Offset + Done));
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0) {
      Warn("write to " + Name + " failed: " + (N < 0 ? ErrnoText(errno) : "nothing written"));
      return false;
    }
    Done += static_cast<size_t>(N);
  }
  return true;
}

bool Gpp1Medium::Read(uint64_t Offset, void *Buffer, size_t Length) {
  if (Offset > Bytes || Length > Bytes - Offset)
    return false;
  // Direct transfers move whole logical blocks from and to an aligned buffer (an image's go
  // through one as well).
  if (Type == MediumKind::Device && (Offset % Block != 0 || Length % Block != 0))
    return false;
  AlignedBuffer Aligned(std::max<size_t>(PageAlignment, Block), Length);
  if (Aligned.Data == nullptr || !ReadAt(ReadFd.Get(), Offset, Aligned.Data, Length))
    return false;
  memcpy(Buffer, Aligned.Data, Length);
  if (Offset == 0 && Length >= Block) {
    const auto *In = static_cast<const uint8_t *>(Buffer);
    Block0Read.assign(In, In + Block);
  }
  return true;
}

bool Gpp1Medium::SameFileAs(const struct stat &Named) const {
  struct stat Own;
  if (fstat(ReadFd.Get(), &Own) != 0)
    return false;
  if (S_ISBLK(Own.st_mode))
    return S_ISBLK(Named.st_mode) && Named.st_rdev == Own.st_rdev;
  return Named.st_dev == Own.st_dev && Named.st_ino == Own.st_ino;
}

LockResult Gpp1Medium::Lock(bool Exclusive, int WaitMilliseconds,
                            const std::function<bool()> &Stop) {
  long Waited = 0;
  long Limit = static_cast<long>(WaitMilliseconds) * NanosecondsPerMillisecond;
  for (;;) {
    if (flock(ReadFd.Get(), (Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
      return LockResult::Locked;
    if (errno != EWOULDBLOCK && errno != EINTR)
      return LockResult::Failed;
    if (Stop && Stop())
      return LockResult::Interrupted;
    if (Waited >= Limit)
      return LockResult::Busy;
    // Polled rather than blocked in flock(): the wait stays bounded without a timer, and a
    // signal ends it like any other moment before the write.
    struct timespec Pause = {0, LockPollNanoseconds};
    nanosleep(&Pause, nullptr);
    Waited += LockPollNanoseconds;
  }
}

bool Gpp1Medium::OpenForWriting() {
  if (WriteFd.Valid())
    return true;
  // A hook that refuses stays in place: no later write of the run begins either.
  if (BeforeWrite) {
    if (!BeforeWrite()) {
      Warn("the write to " + Name + " was not begun: the run was interrupted");
      return false;
    }
    BeforeWrite = nullptr;
  }
  int Flags = O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // O_EXCL on a block device fails while the kernel holds it (mounted, or claimed by a driver),
  // and the record is not written behind a file system's back.
  if (Type == MediumKind::Device)
    Flags |= O_DIRECT | O_EXCL | O_DSYNC;
  Descriptor Fd(open(Name.c_str(), Flags));
  if (!Fd.Valid()) {
    Warn("cannot open " + Name + " for writing: " + ErrnoText(errno));
    return false;
  }
  struct stat Reading, Writing;
  bool Same = fstat(ReadFd.Get(), &Reading) == 0 && fstat(Fd.Get(), &Writing) == 0 &&
              Reading.st_dev == Writing.st_dev && Reading.st_ino == Writing.st_ino &&
              Reading.st_rdev == Writing.st_rdev;
  if (!Same) {
    Warn(Name + " is no longer what was opened for reading; nothing written");
    return false;
  }
  WriteFd = std::move(Fd);
  return true;
}

bool Gpp1Medium::Write(uint64_t Offset, const void *Buffer, size_t Length) {
  WriteCalls++;
  // The record lives in block 0 and nothing else of the partition is the tool's to change.
  if (Offset != 0 || Length != Block) {
    Warn("refused a write of " + std::to_string(Length) + " bytes at offset " +
         std::to_string(Offset) + " of " + Name + "; only block 0 is written");
    return false;
  }
  if (!OpenForWriting())
    return false;
  AlignedBuffer Aligned(std::max<size_t>(PageAlignment, Block), Length);
  if (Aligned.Data == nullptr)
    return false;
  memcpy(Aligned.Data, Buffer, Length);
  bool Ok = WriteAt(WriteFd.Get(), 0, Aligned.Data, Length);
  // On the medium before the tool's read-back, not in a cache: fsync on a block device also
  // flushes the device's own write cache.
  if (Ok && fsync(WriteFd.Get()) != 0) {
    Warn("sync of " + Name + " failed: " + ErrnoText(errno));
    Ok = false;
  }
  return Ok;
}

std::vector<std::string> FindGpp1Candidates(const std::string &Directory) {
  std::vector<std::string> Found;
  DIR *Dir = opendir(Directory.c_str());
  if (Dir == nullptr)
    return Found;
  std::map<long, std::string> ByNumber;
  while (struct dirent *Entry = readdir(Dir)) {
    long N = Gpp1NameNumber(Entry->d_name);
    if (N >= 0)
      ByNumber.emplace(N, Directory + "/" + Entry->d_name);
  }
  closedir(Dir);
  for (const auto &[Number, Path] : ByNumber)
    Found.push_back(Path);
  return Found;
}
