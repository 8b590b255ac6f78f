// The platform's eMMC driver as the tool meets it: one Block I/O interface per partition, each
// kept inside the per-partition record of the board description (hosted/board.h). And a plain
// disk on some other controller, as every board also has.
#pragma once

#include <cstdint>
#include <memory>

#include "hosted/block_device.h"
#include "hosted/board.h"
#include "hosted/firmware.h"

class EmmcCardDriver {
public:
  explicit EmmcCardDriver(HostedFirmware &Firmware);
  virtual ~EmmcCardDriver();

  // Publishes one partition as a Block I/O handle (handles come in publication order). A null
  // backend gives a small zero-filled medium of its own. WithPath false leaves the handle
  // without a device path.
  HostedBlockDevice *Publish(uint8_t Partition, BlockBackend *Backend = nullptr,
                             uint32_t BlockSize = 512, bool WithPath = true);
  // All eight partitions, GPP1 on the given backend.
  HostedBlockDevice *PublishAll(BlockBackend *Gpp1, uint32_t BlockSize = 512);

  EFI_HANDLE HandleOf(uint8_t Partition) const { return Handles[Partition]; }

protected:
  // The device behind one partition's interface.
  virtual std::unique_ptr<HostedBlockDevice> MakeDevice(BlockBackend *Backend, uint32_t BlockSize,
                                                        EFI_BLOCK_IO_PROTOCOL *Interface);

private:
  HostedFirmware &Firmware;
  std::unique_ptr<board::EmmcCard> Storage;
  std::unique_ptr<HostedBlockDevice> Devices[board::EmmcPartitionCount];
  std::unique_ptr<MemoryBackend> OwnBackends[board::EmmcPartitionCount];
  EFI_HANDLE Handles[board::EmmcPartitionCount] = {};
};

// A plain block device on some other controller (its own handle and path).
class PlainDisk {
public:
  PlainDisk(HostedFirmware &Firmware, DevicePathBuilder Path); // 4 KiB in blocks of 512 bytes
  MemoryBackend Backend;
  HostedBlockDevice Device;
  DevicePathBuilder Path;
};
