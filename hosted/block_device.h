// Block devices of the hosted firmware: an EFI_BLOCK_IO_PROTOCOL whose blocks live in memory, in
// a file or on a block device. Like a firmware block driver, it checks a transfer before it
// touches the medium: a buffer that misses the media's IoAlign, a stale MediaId or a range past
// the last block is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "uefi/uefi.h"

// Where the blocks live. Offsets and lengths are in bytes.
class BlockBackend {
public:
  virtual ~BlockBackend() = default;
  virtual bool Read(uint64_t Offset, void *Buffer, size_t Length) = 0;
  virtual bool Write(uint64_t Offset, const void *Buffer, size_t Length) = 0;
  virtual uint64_t Size() const = 0;
};

class MemoryBackend : public BlockBackend {
public:
  explicit MemoryBackend(size_t Size) : Bytes(Size) {}
  bool Read(uint64_t Offset, void *Buffer, size_t Length) override;
  bool Write(uint64_t Offset, const void *Buffer, size_t Length) override;
  uint64_t Size() const override { return Bytes.size(); }
  std::vector<uint8_t> Bytes;
};

class HostedBlockDevice {
public:
  // The interface is placed by the caller (an eMMC partition record keeps it at a fixed spot
  // inside its private data); null lets the device own a standalone one.
  HostedBlockDevice(BlockBackend *Backend, uint32_t BlockSize,
                    EFI_BLOCK_IO_PROTOCOL *Interface = nullptr);
  virtual ~HostedBlockDevice();
  HostedBlockDevice(const HostedBlockDevice &) = delete;
  HostedBlockDevice &operator=(const HostedBlockDevice &) = delete;

  // The protocol's ReadBlocks, WriteBlocks and FlushBlocks.
  virtual EFI_STATUS Read(UINT32 MediaId, EFI_LBA Lba, UINTN Size, VOID *Buffer);
  virtual EFI_STATUS Write(UINT32 MediaId, EFI_LBA Lba, UINTN Size, const VOID *Buffer);
  virtual EFI_STATUS Flush() { return EFI_SUCCESS; }

  EFI_BLOCK_IO_PROTOCOL *Interface;
  EFI_BLOCK_IO_MEDIA Media{};
  BlockBackend *Backend;

protected:
  // What the driver answers a transfer before the medium is touched (EFI_SUCCESS: go on), and
  // the transfer's byte offset on the medium.
  EFI_STATUS Check(UINT32 MediaId, EFI_LBA Lba, UINTN Size, const VOID *Buffer, bool Writing) const;
  uint64_t OffsetOf(EFI_LBA Lba) const { return Lba * Media.BlockSize; }

private:
  EFI_BLOCK_IO_PROTOCOL OwnInterface{};
};
