// The chip's sideband register spaces in the simulated hardware: 64 KiB per port, reached through
// the fixed window at 0xD0000000, through the sideband bridge's own window (while its base and
// memory decoding are set), and through the bridge's message registers.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

struct SimPciFunction;

class SimSideband {
public:
  // The sideband bridge: bus 0, device 13, function 0, and its message opcode register.
  static constexpr uint8_t BridgeDevice = 13;
  static constexpr uint32_t BridgeOpcode = 0xD8;

  // A port added here answers with zeros until written.
  void AddPort(uint8_t Port);
  uint32_t Get(uint8_t Port, uint16_t Offset) const; // all ones for an absent port
  void Set(uint8_t Port, uint16_t Offset, uint32_t Value);

  // Whether Address lies in a window onto the sideband spaces (Bridge: the bridge function, or
  // null), and which port and offset it names.
  bool Decode(uint64_t Address, const SimPciFunction *Bridge, uint8_t *Port,
              uint16_t *Offset) const;
  uint64_t Read(uint8_t Port, uint16_t Offset, uint8_t Width) const;
  void Write(uint8_t Port, uint16_t Offset, uint8_t Width, uint64_t Value);

  // A write of the opcode register with the start bit carries out the message at once; the
  // busy (start) bit then reads clear again. True when a message ran.
  bool RunBridgeMessage(SimPciFunction &Bridge);

private:
  uint8_t *At(uint8_t Port, uint16_t Offset, uint8_t Width) const;
  std::map<uint8_t, std::vector<uint8_t>> Ports; // 64 KiB each
};
