// The eMMC card of a test board: the hosted driver's card, each partition a device that can be
// made to fail (sim_block.h).
#pragma once

#include "hosted/emmc_card.h"
#include "sim/sim_block.h"

class SimEmmcCard : public EmmcCardDriver {
public:
  using EmmcCardDriver::EmmcCardDriver;
  SimBlockDevice *Publish(uint8_t Partition, BlockBackend *Backend = nullptr,
                          uint32_t BlockSize = 512, bool WithPath = true) {
    return static_cast<SimBlockDevice *>(
        EmmcCardDriver::Publish(Partition, Backend, BlockSize, WithPath));
  }
  SimBlockDevice *PublishAll(BlockBackend *Gpp1, uint32_t BlockSize = 512) {
    return static_cast<SimBlockDevice *>(EmmcCardDriver::PublishAll(Gpp1, BlockSize));
  }

protected:
  std::unique_ptr<HostedBlockDevice> MakeDevice(BlockBackend *Backend, uint32_t BlockSize,
                                                EFI_BLOCK_IO_PROTOCOL *Interface) override {
    return std::make_unique<SimBlockDevice>(Backend, BlockSize, Interface);
  }
};
