// Simulated hardware for the host: the I/O ports, physical address space and interrupt flag that
// the platform operations reach (sim/hardware_platform.cpp), with a log of every access. This is
// the bus: CMOS behind ports 0x70/0x71, PCI configuration space through the 0xCF8/0xCFC port pair
// and the window at 0xE0000000, the devices of hardware_pci, hardware_sideband and hardware_uart,
// plain register blocks and the interrupt flag. Anything not added reads as all ones and drops
// writes, as on a real bus.
//
// One model is active at a time. Constructing a SimHardware makes it the active one (an empty
// bus); destroying it reactivates the previous one. Without any, the platform operations reach a
// built-in empty bus, so code that never set hardware up (application tests, the Linux front end)
// finds nothing and stays silent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "sim/hardware_log.h"
#include "sim/hardware_pci.h"
#include "sim/hardware_sideband.h"
#include "sim/hardware_uart.h"

class SimHardware {
public:
  SimHardware();
  ~SimHardware();
  SimHardware(const SimHardware &) = delete;
  SimHardware &operator=(const SimHardware &) = delete;

  // The model the platform operations reach now.
  static SimHardware &Active();

  // --- Devices ----------------------------------------------------------------------------
  SimPciBus Pci;
  SimSideband Sideband;
  size_t SidebandMessages = 0; // operations carried out through the bridge's message registers
  SimUart &AddUart(uint64_t Base);

  // CMOS bytes (ports 0x70/0x71); setting any makes the CMOS present.
  void SetCmos(uint8_t Index, std::initializer_list<uint8_t> Bytes);
  uint8_t Cmos(uint8_t Index) const { return CmosBytes[Index & CmosIndexMask]; }

  // A block of plain little-endian registers (the trace-hub channel, a level-select window), and
  // a store into one that is not an access of the product's.
  void AddRegisters(uint64_t Base, uint64_t Size);
  void Poke32(uint64_t Address, uint32_t Value);

  bool InterruptsEnabled = true;
  uint32_t ConfigAddressLatch = 0; // port 0xCF8

  // --- Access log -------------------------------------------------------------------------
  std::vector<SimAccess> Log;
  void ClearLog() { Log.clear(); }
  // The built-in empty bus keeps no log: nobody reads it, and a front end may run for long.
  bool Logging = true;

  // --- Entry points of the platform operations --------------------------------------------
  uint64_t PortRead(uint8_t Width, uint16_t Port);
  void PortWrite(uint8_t Width, uint16_t Port, uint64_t Value);
  uint64_t PhysRead(uint8_t Width, uint64_t Address);
  void PhysWrite(uint8_t Width, uint64_t Address, uint64_t Value);
  bool ReadInterruptFlag();
  void SetInterrupts(bool Enabled);

private:
  static constexpr uint8_t CmosIndexMask = 0x7F;

  void Record(SimAccessKind Kind, uint8_t Width, uint64_t Address, uint64_t Value);
  void ConfigWrite(uint32_t CfgAddress, uint8_t Width, uint64_t Value);
  bool SidebandDecode(uint64_t Address, uint8_t *Port, uint16_t *Offset);
  SimUart *FindUart(uint64_t Address);
  uint8_t *FindRegisters(uint64_t Address, uint8_t Width);

  SimHardware *Previous = nullptr;
  bool CmosPresent = false;
  uint8_t CmosIndex = 0;
  uint8_t CmosBytes[128] = {};
  std::vector<std::unique_ptr<SimUart>> Uarts;
  std::map<uint64_t, std::vector<uint8_t>> Registers; // by base address
};
