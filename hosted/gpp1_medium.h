// GPP1 on Linux: block 0 of an image file or of a block device (the eMMC's first general
// purpose partition appears as /dev/mmcblkNgp0), behind the hosted eMMC card's Block I/O.
//
// The medium is opened read-only; it is opened for writing only when the tool actually writes,
// so a read or the help never holds a writable descriptor. Every write is the whole of block 0,
// synced to the medium before the call returns, so the tool's read-back sees what is stored. On a
// block device every transfer goes around the page cache (O_DIRECT), so the read-back comes from
// the device and not from memory, and a write is made with O_DSYNC, which the kernel sends with
// FUA: the eMMC driver turns that into a reliable write on cards that offer it, so that block 0
// holds the old or the new contents, never a mixture, after a power loss.
//
// A run holds a BSD lock (flock) on the opened medium for the whole operation, the convention
// udev and the partitioning tools honour for block devices: exclusive for a write or a clear
// (write, flush, read-back), shared for a read. Two runs on one GPP1 then follow each other
// instead of one verifying what the other wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "hosted/block_device_identity.h"
#include "hosted/descriptor.h"
#include "hosted/block_device.h"

enum class MediumKind { Image, Device };

struct MediumError {
  std::string Message;  // one line, without the program name or the newline
  bool Missing = false; // the path names nothing at all
};

// Interrupted: a signal arrived while the run waited.
enum class LockResult { Locked, Busy, Failed, Interrupted };

class Gpp1Medium : public BlockBackend {
public:
  // An image file: a regular file whose size is a non-zero multiple of BlockSize.
  static std::unique_ptr<Gpp1Medium> OpenImage(const std::string &Path, uint32_t BlockSize,
                                               MediumError *Error);
  // A block device: block size and size from the kernel, write protection from its read-only
  // state, and what the kernel says it is (Identity()), from sysfs under SysfsRoot. Nothing of
  // the device is read.
  static std::unique_ptr<Gpp1Medium> OpenDevice(const std::string &Path,
                                                const std::string &SysfsRoot, MediumError *Error);
  Gpp1Medium(const Gpp1Medium &) = delete;
  Gpp1Medium &operator=(const Gpp1Medium &) = delete;

  bool Read(uint64_t Offset, void *Buffer, size_t Length) override;
  // Only the whole of block 0 is accepted; anything else is refused without touching the medium.
  bool Write(uint64_t Offset, const void *Buffer, size_t Length) override;
  uint64_t Size() const override { return Bytes; }

  // Takes the lock, waiting at most WaitMilliseconds for another holder to let go; held until
  // the medium is destroyed. Failed (with errno) when the system refuses the lock itself;
  // Interrupted when Stop says so while the run waits.
  LockResult Lock(bool Exclusive, int WaitMilliseconds, const std::function<bool()> &Stop = {});

  // Called once, before the medium is first opened for writing; when it answers false nothing
  // is written and the write fails.
  void SetBeforeWrite(std::function<bool()> Hook) { BeforeWrite = std::move(Hook); }

  uint32_t BlockSize() const { return Block; }
  MediumKind Kind() const { return Type; }
  const std::string &Path() const { return Name; }
  // The kernel's read-only state of a block device; always false for an image.
  bool KernelReadOnly() const { return ReadOnly; }
  // Whether Named (a stat of some path) is this medium: the same file, or the same device.
  bool SameFileAs(const struct stat &Named) const;
  // What the kernel says a block device is; unknown for an image.
  const BlockDeviceIdentity &Identity() const { return Kernel; }

  // What happened during the run: the front end reports the writes; the rest is for tests.
  bool OpenedForWriting() const { return WriteFd.Valid(); }
  size_t WritesAttempted() const { return WriteCalls; }
  // Block 0 as the last successful read of it returned it; empty before any.
  const std::vector<uint8_t> &LastBlock0() const { return Block0Read; }

private:
  Gpp1Medium(MediumKind Type, std::string Name, Descriptor Fd, uint32_t Block, uint64_t Bytes);
  bool OpenForWriting();
  bool ReadAt(int Fd, uint64_t Offset, void *Buffer, size_t Length);
  bool WriteAt(int Fd, uint64_t Offset, const void *Buffer, size_t Length);

  MediumKind Type;
  std::string Name;
  Descriptor ReadFd;
  Descriptor WriteFd;
  uint32_t Block;
  uint64_t Bytes;
  bool ReadOnly = false;
  BlockDeviceIdentity Kernel;
  std::function<bool()> BeforeWrite;
  size_t WriteCalls = 0;
  std::vector<uint8_t> Block0Read;
};

// Every mmcblkNgp0 in Directory, lowest N first: the candidates of the default search, each of
// which must still pass the kernel's word once opened.
std::vector<std::string> FindGpp1Candidates(const std::string &Directory = "/dev");
