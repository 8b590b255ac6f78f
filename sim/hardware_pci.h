// PCI functions of the simulated hardware: 4 KiB of configuration space each, with plain
// register semantics, found by their configuration address (bus << 20 | device << 15 |
// function << 12 | register), the form both access paths reach them by.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

struct SimPciFunction {
  static constexpr uint32_t ConfigSpaceSize = 4096;
  uint8_t Config[ConfigSpaceSize] = {};
  // Size bytes at Offset; outside the space reads give 0 and writes are lost.
  uint64_t Get(uint32_t Offset, unsigned Size) const;
  void Set(uint32_t Offset, unsigned Size, uint64_t Value);
  uint16_t Get16(uint32_t Offset) const { return static_cast<uint16_t>(Get(Offset, 2)); }
  uint32_t Get32(uint32_t Offset) const { return static_cast<uint32_t>(Get(Offset, 4)); }
  void Set16(uint32_t Offset, uint16_t Value) { Set(Offset, 2, Value); }
  void Set32(uint32_t Offset, uint32_t Value) { Set(Offset, 4, Value); }
};

class SimPciBus {
public:
  SimPciFunction &Add(uint8_t Bus, uint8_t Device, uint8_t Function, uint16_t VendorId,
                      uint16_t DeviceId);
  SimPciFunction *Find(uint8_t Bus, uint8_t Device, uint8_t Function) const;
  // Width bits at a configuration address; all ones where no function answers.
  uint64_t Read(uint32_t CfgAddress, uint8_t Width) const;
  // The function written, or null when none answers (the write is then lost).
  SimPciFunction *Write(uint32_t CfgAddress, uint8_t Width, uint64_t Value);

private:
  SimPciFunction *At(uint32_t CfgAddress, uint8_t Width) const;
  std::map<uint32_t, std::unique_ptr<SimPciFunction>> Functions; // by configuration address >> 12
};
