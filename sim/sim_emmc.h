// The platform's eMMC driver as the tool meets it: one Block I/O interface per partition, each
// kept inside a 136-byte private per-partition record of an array that belongs to the card. The
// driver stores, 96 bytes past each interface, a pointer to the card's array, so the partition
// number is (interface - 48 - array) / 136.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/sim_block.h"
#include "sim/sim_firmware.h"

struct SimEmmcPartitionRecord {
  uint64_t Signature;
  void *CardArray; // start of the card's record array
  uint64_t PartitionIndex;
  uint8_t Reserved[24];
  EFI_BLOCK_IO_PROTOCOL BlockIo;
  uint8_t Private[40];
};
static_assert(sizeof(SimEmmcPartitionRecord) == 136, "eMMC per-partition record");
static_assert(offsetof(SimEmmcPartitionRecord, CardArray) == 8, "array pointer slot");
static_assert(offsetof(SimEmmcPartitionRecord, BlockIo) == 48, "interface inside the record");

constexpr unsigned SimEmmcPartitionCount = 8; // user area, 2 boot, RPMB, GPP1-GPP4
constexpr uint8_t SimEmmcGpp1 = 4;

class SimEmmcCard {
public:
  explicit SimEmmcCard(SimFirmware &Sim, uint8_t PciDevice = 28, uint8_t PciFunction = 0);
  ~SimEmmcCard();

  // Publishes one partition as a Block I/O handle (handles come in publication order). A null
  // backend gives a small zero-filled medium of its own. WithPath false leaves the handle
  // without a device path.
  SimBlockDevice *Publish(uint8_t Partition, SimBlockBackend *Backend = nullptr,
                          uint32_t BlockSize = 512, bool WithPath = true);
  // All eight partitions, GPP1 on the given backend.
  SimBlockDevice *PublishAll(SimBlockBackend *Gpp1, uint32_t BlockSize = 512);

  EFI_HANDLE HandleOf(uint8_t Partition) const { return Handles[Partition]; }
  SimBlockDevice *Device(uint8_t Partition) const { return Devices[Partition].get(); }

private:
  struct CardStorage {
    SimEmmcPartitionRecord Records[SimEmmcPartitionCount];
    SimEmmcPartitionRecord Tail; // what the last interface's pointer slot falls into
  };
  SimFirmware &Sim;
  uint8_t PciDevice;
  uint8_t PciFunction;
  std::unique_ptr<CardStorage> Storage;
  std::unique_ptr<SimBlockDevice> Devices[SimEmmcPartitionCount];
  std::unique_ptr<SimMemoryBackend> OwnBackends[SimEmmcPartitionCount];
  std::vector<std::unique_ptr<SimDevicePath>> Paths;
  EFI_HANDLE Handles[SimEmmcPartitionCount] = {};
};

// A plain block device on some other controller (its own handle and path).
class SimPlainDisk {
public:
  SimPlainDisk(SimFirmware &Sim, SimDevicePath Path, size_t Bytes = 4096,
               uint32_t BlockSize = 512);
  SimMemoryBackend Backend;
  SimBlockDevice Device;
  SimDevicePath Path;
  EFI_HANDLE Handle;
};
