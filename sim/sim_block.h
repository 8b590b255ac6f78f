// Block devices with the faults a real device can show: failed transfers or flushes, dropped or
// partial writes, bit flips. Each transfer is counted and every written block kept, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hosted/block_device.h"

struct SimBlockFaults {
  EFI_STATUS ReadStatus = EFI_SUCCESS;  // an error fails every ReadBlocks
  EFI_STATUS WriteStatus = EFI_SUCCESS; // an error fails every WriteBlocks
  EFI_STATUS FlushStatus = EFI_SUCCESS; // an error fails every FlushBlocks
  bool DropWrites = false;              // report success, keep the old blocks
  size_t PartialWriteBytes = 0;         // non-zero: only this many bytes reach the medium
  int FlipBitOnRead = -1;               // >= 0: this bit of the transfer reads inverted
};

class SimBlockDevice : public HostedBlockDevice {
public:
  using HostedBlockDevice::HostedBlockDevice;
  // An injected fault first, then the driver's checks, then the medium.
  EFI_STATUS Read(UINT32 MediaId, EFI_LBA Lba, UINTN Size, VOID *Buffer) override;
  EFI_STATUS Write(UINT32 MediaId, EFI_LBA Lba, UINTN Size, const VOID *Buffer) override;
  EFI_STATUS Flush() override;

  SimBlockFaults Faults;
  size_t ReadCalls = 0;
  size_t WriteCalls = 0;
  size_t FlushCalls = 0;
  std::vector<uint64_t> WrittenLbas;
};
