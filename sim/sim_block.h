// Simulated block devices: an EFI_BLOCK_IO_PROTOCOL whose blocks live in memory or in a file,
// with faults a real device can show (failed transfers or flushes, dropped or partial writes, bit
// flips). Like a firmware block driver, a transfer into a buffer that misses the media's IoAlign
// is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "uefi/uefi.h"

// Where the blocks live. Offsets and lengths are in bytes.
class SimBlockBackend {
public:
  virtual ~SimBlockBackend() = default;
  virtual bool Read(uint64_t Offset, void *Buffer, size_t Length) = 0;
  virtual bool Write(uint64_t Offset, const void *Buffer, size_t Length) = 0;
  virtual uint64_t Size() const = 0;
};

class SimMemoryBackend : public SimBlockBackend {
public:
  explicit SimMemoryBackend(size_t Size) : Bytes(Size) {}
  bool Read(uint64_t Offset, void *Buffer, size_t Length) override;
  bool Write(uint64_t Offset, const void *Buffer, size_t Length) override;
  uint64_t Size() const override { return Bytes.size(); }
  std::vector<uint8_t> Bytes;
};

struct SimBlockFaults {
  EFI_STATUS ReadStatus = EFI_SUCCESS;  // an error fails every ReadBlocks
  EFI_STATUS WriteStatus = EFI_SUCCESS; // an error fails every WriteBlocks
  EFI_STATUS FlushStatus = EFI_SUCCESS; // an error fails every FlushBlocks
  bool DropWrites = false;              // report success, keep the old blocks
  size_t PartialWriteBytes = 0;         // non-zero: only this many bytes reach the medium
  int FlipBitOnRead = -1;               // >= 0: this bit of the transfer reads inverted
};

class SimBlockDevice {
public:
  // The interface is placed by the caller (an eMMC partition record keeps it at a fixed spot
  // inside its private data); null lets the device own a standalone one.
  SimBlockDevice(SimBlockBackend *Backend, uint32_t BlockSize,
                 EFI_BLOCK_IO_PROTOCOL *Interface = nullptr);
  ~SimBlockDevice();
  SimBlockDevice(const SimBlockDevice &) = delete;
  SimBlockDevice &operator=(const SimBlockDevice &) = delete;

  EFI_BLOCK_IO_PROTOCOL *Interface;
  EFI_BLOCK_IO_MEDIA Media{};
  SimBlockBackend *Backend;
  SimBlockFaults Faults;
  size_t ReadCalls = 0;
  size_t WriteCalls = 0;
  size_t FlushCalls = 0;
  std::vector<uint64_t> WrittenLbas;

private:
  EFI_BLOCK_IO_PROTOCOL OwnInterface{};
};
