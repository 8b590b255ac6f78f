// Simulated hardware for the host: the I/O ports, physical address space and interrupt flag that
// the diagnostics channel's platform operations reach, with a log of every access.
//
// What is modelled: CMOS behind ports 0x70/0x71; PCI configuration space, reachable through the
// 0xCF8/0xCFC port pair and through the window at 0xE0000000; the sideband register spaces,
// reachable through the fixed window at 0xD0000000, through the sideband bridge's own window
// (while its base and memory decoding are set) and through the bridge's message registers;
// 16550-style UARTs; plain register blocks; the interrupt flag. Anything not added reads as all
// ones and drops writes, as on a real bus.
//
// One model is active at a time. Constructing a SimHardware makes it the active one (an empty
// bus); destroying it reactivates the previous one. Without any, the platform operations reach a
// built-in empty bus, so code that never set hardware up (application tests, the Linux front end)
// finds nothing and stays silent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

enum class SimAccessKind : uint8_t {
  PortIn,
  PortOut,
  MemRead,
  MemWrite,
  InterruptFlagRead, // Value: 1 when interrupts were enabled
  InterruptsOff,
  InterruptsOn,
};

// One access as the product made it. Width in bits (0 for the interrupt operations).
struct SimAccess {
  SimAccessKind Kind;
  uint8_t Width;
  uint64_t Address;
  uint64_t Value;

  bool operator==(const SimAccess &) const = default;

  // Builders for expected sequences.
  static SimAccess In(uint8_t Width, uint64_t Port, uint64_t Value) {
    return {SimAccessKind::PortIn, Width, Port, Value};
  }
  static SimAccess Out(uint8_t Width, uint64_t Port, uint64_t Value) {
    return {SimAccessKind::PortOut, Width, Port, Value};
  }
  static SimAccess Read(uint8_t Width, uint64_t Address, uint64_t Value) {
    return {SimAccessKind::MemRead, Width, Address, Value};
  }
  static SimAccess Write(uint8_t Width, uint64_t Address, uint64_t Value) {
    return {SimAccessKind::MemWrite, Width, Address, Value};
  }
  static SimAccess FlagRead(bool Enabled) {
    return {SimAccessKind::InterruptFlagRead, 0, 0, Enabled ? 1u : 0u};
  }
  static SimAccess Cli() { return {SimAccessKind::InterruptsOff, 0, 0, 0}; }
  static SimAccess Sti() { return {SimAccessKind::InterruptsOn, 0, 0, 0}; }

  bool IsWrite() const { return Kind == SimAccessKind::PortOut || Kind == SimAccessKind::MemWrite; }
};

std::ostream &operator<<(std::ostream &Out, const SimAccess &Access);
// One access per line, for readable test failures.
std::string DescribeAccesses(const std::vector<SimAccess> &Accesses);

// A PCI function: 4 KiB of configuration space with plain register semantics.
struct SimPciFunction {
  uint8_t Config[4096] = {};
  uint16_t Get16(uint32_t Offset) const;
  uint32_t Get32(uint32_t Offset) const;
  void Set16(uint32_t Offset, uint16_t Value);
  void Set32(uint32_t Offset, uint32_t Value);
};

// A 16550-compatible UART with byte registers 4 bytes apart, in a 4 KiB window whose other
// offsets (the controller's private registers) hold plain 32-bit values.
struct SimUart {
  uint64_t Base = 0;
  uint8_t Lcr = 0, Dll = 0, Dlm = 0, Ier = 0, Fcr = 0, Mcr = 0, Scr = 0;
  // Values the line-status register gives, one per read, before it settles on LineStatus.
  std::deque<uint8_t> LineStatusScript;
  uint8_t LineStatus = 0x60; // transmit holding register and transmitter empty
  size_t LineStatusReads = 0;
  std::string Transmitted;        // bytes written to the transmit holding register
  std::vector<uint8_t> FcrWrites; // every FIFO-control value, in order
  uint8_t Private[4096] = {};     // offsets 0x20 and up

  uint32_t PrivateGet32(uint32_t Offset) const;
  void PrivateSet32(uint32_t Offset, uint32_t Value);
};

class SimHardware {
public:
  SimHardware();
  ~SimHardware();
  SimHardware(const SimHardware &) = delete;
  SimHardware &operator=(const SimHardware &) = delete;

  // The model the platform operations reach now.
  static SimHardware &Active();

  // Back to an empty bus with interrupts enabled and an empty log.
  void Reset();

  // --- Devices ----------------------------------------------------------------------------
  SimPciFunction &AddPciFunction(uint8_t Bus, uint8_t Device, uint8_t Function, uint16_t VendorId,
                                 uint16_t DeviceId);
  SimPciFunction *FindPciFunction(uint8_t Bus, uint8_t Device, uint8_t Function);

  // CMOS bytes (ports 0x70/0x71); setting any makes the CMOS present.
  void SetCmos(uint8_t Index, std::initializer_list<uint8_t> Bytes);
  uint8_t Cmos(uint8_t Index) const { return CmosBytes[Index & CmosIndexMask]; }

  // Sideband register spaces: a port added here answers with zeros until written.
  void AddSidebandPort(uint8_t Port);
  uint32_t Sideband(uint8_t Port, uint16_t Offset) const; // all ones for an absent port
  void SetSideband(uint8_t Port, uint16_t Offset, uint32_t Value);
  size_t SidebandMessages = 0; // operations carried out through the bridge's message registers

  SimUart &AddUart(uint64_t Base);

  // A block of plain little-endian registers (the trace-hub channel, a level-select window).
  void AddRegisters(uint64_t Base, uint64_t Size);
  uint32_t Peek32(uint64_t Address) const;
  void Poke32(uint64_t Address, uint32_t Value);

  bool InterruptsEnabled = true;
  uint32_t ConfigAddressLatch = 0; // port 0xCF8

  // --- Access log -------------------------------------------------------------------------
  std::vector<SimAccess> Log;
  size_t Mark() const { return Log.size(); }
  std::vector<SimAccess> LogSince(size_t Mark) const;
  std::vector<SimAccess> Writes() const; // port and memory writes only
  // Memory writes whose address lies in [Low, High).
  std::vector<SimAccess> MemWritesIn(uint64_t Low, uint64_t High) const;
  void ClearLog() { Log.clear(); }
  // Past this many entries the log stops growing (a long-running front end), counting instead.
  static constexpr size_t LogLimit = size_t{1} << 20;
  size_t UnloggedAccesses = 0;
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
  uint64_t ConfigRead(uint32_t CfgAddress, uint8_t Width);
  void ConfigWrite(uint32_t CfgAddress, uint8_t Width, uint64_t Value);
  void RunBridgeMessage(SimPciFunction &Bridge);
  bool SidebandDecode(uint64_t Address, uint8_t *Port, uint16_t *Offset) const;
  SimUart *FindUart(uint64_t Address);
  uint8_t *FindRegisters(uint64_t Address, uint8_t Width);
  uint64_t UartRead(SimUart &Uart, uint64_t Offset, uint8_t Width);
  void UartWrite(SimUart &Uart, uint64_t Offset, uint8_t Width, uint64_t Value);

  SimHardware *Previous = nullptr;
  std::map<uint32_t, std::unique_ptr<SimPciFunction>> Functions; // by bus/device/function
  bool CmosPresent = false;
  uint8_t CmosIndex = 0;
  uint8_t CmosBytes[128] = {};
  std::map<uint8_t, std::vector<uint8_t>> SidebandPorts; // 64 KiB each
  std::vector<std::unique_ptr<SimUart>> Uarts;
  std::map<uint64_t, std::vector<uint8_t>> Registers; // by base address
};
