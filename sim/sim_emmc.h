// The platform's eMMC driver as the tool meets it: one Block I/O interface per partition, each
// kept inside the per-partition record of the board description (sim_board.h).
#pragma once

#include <cstdint>
#include <memory>

#include "sim/sim_block.h"
#include "sim/sim_board.h"
#include "sim/sim_firmware.h"

class SimEmmcCard {
public:
  explicit SimEmmcCard(SimFirmware &Sim);

  // Publishes one partition as a Block I/O handle (handles come in publication order). A null
  // backend gives a small zero-filled medium of its own. WithPath false leaves the handle
  // without a device path.
  SimBlockDevice *Publish(uint8_t Partition, SimBlockBackend *Backend = nullptr,
                          uint32_t BlockSize = 512, bool WithPath = true);
  // All eight partitions, GPP1 on the given backend.
  SimBlockDevice *PublishAll(SimBlockBackend *Gpp1, uint32_t BlockSize = 512);

  EFI_HANDLE HandleOf(uint8_t Partition) const { return Handles[Partition]; }

private:
  SimFirmware &Sim;
  std::unique_ptr<board::EmmcCard> Storage;
  std::unique_ptr<SimBlockDevice> Devices[board::EmmcPartitionCount];
  std::unique_ptr<SimMemoryBackend> OwnBackends[board::EmmcPartitionCount];
  EFI_HANDLE Handles[board::EmmcPartitionCount] = {};
};

// A plain block device on some other controller (its own handle and path).
class SimPlainDisk {
public:
  SimPlainDisk(SimFirmware &Sim, SimDevicePath Path); // 4 KiB in blocks of 512 bytes
  SimMemoryBackend Backend;
  SimBlockDevice Device;
  SimDevicePath Path;
};
