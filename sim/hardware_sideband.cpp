#include "sim/hardware_sideband.h"

#include "sim/hardware_log.h"
#include "sim/hardware_pci.h"

namespace {

constexpr uint64_t FixedSidebandBase = 0xD0000000u;
constexpr uint64_t SidebandWindowSize = 0x01000000u; // 256 ports of 64 KiB
constexpr size_t SidebandPortSize = 0x10000;

// The bridge's window register and message registers.
constexpr uint32_t BridgeBar = 0x10;
constexpr uint32_t BridgeCommand = 0x04;
constexpr uint16_t BridgeMemorySpace = 0x2;
constexpr uint32_t BridgeTarget = 0xD0;
constexpr uint32_t BridgeData = 0xD4;
constexpr uint16_t BridgeStart = 0x0001;
constexpr uint16_t BridgeReadOpcode = 0x06;
constexpr uint16_t BridgeWriteOpcode = 0x07;

} // namespace

void SimSideband::AddPort(uint8_t Port) {
  auto &Space = Ports[Port];
  if (Space.empty())
    Space.assign(SidebandPortSize, 0);
}

uint8_t *SimSideband::At(uint8_t Port, uint16_t Offset, uint8_t Width) const {
  auto It = Ports.find(Port);
  if (It == Ports.end() || Offset + Width / 8u > SidebandPortSize)
    return nullptr;
  return const_cast<uint8_t *>(It->second.data()) + Offset;
}

uint32_t SimSideband::Get(uint8_t Port, uint16_t Offset) const {
  return static_cast<uint32_t>(Read(Port, Offset, 32));
}

void SimSideband::Set(uint8_t Port, uint16_t Offset, uint32_t Value) {
  AddPort(Port);
  Write(Port, Offset, 32, Value);
}

uint64_t SimSideband::Read(uint8_t Port, uint16_t Offset, uint8_t Width) const {
  const uint8_t *Bytes = At(Port, Offset, Width);
  return Bytes ? SimLoadLe(Bytes, Width / 8) : SimAllOnes(Width);
}

void SimSideband::Write(uint8_t Port, uint16_t Offset, uint8_t Width, uint64_t Value) {
  if (uint8_t *Bytes = At(Port, Offset, Width))
    SimStoreLe(Bytes, Width / 8, Value);
}

bool SimSideband::Decode(uint64_t Address, const SimPciFunction *Bridge, uint8_t *Port,
                         uint16_t *Offset) const {
  bool Decoded = Address >= FixedSidebandBase && Address < FixedSidebandBase + SidebandWindowSize;
  if (!Decoded && Bridge != nullptr) {
    // The bridge's own window: only the top 8 bits of its base select it.
    uint32_t Base = Bridge->Get32(BridgeBar);
    bool MemoryOn = (Bridge->Get16(BridgeCommand) & BridgeMemorySpace) != 0;
    uint32_t Page = Base & 0xFFFFF000u;
    uint64_t Window = Base & 0xFF000000u;
    Decoded = MemoryOn && Page != 0 && Page != 0xFFFFF000u && Address >= Window &&
              Address < Window + SidebandWindowSize;
  }
  if (Decoded) {
    *Port = static_cast<uint8_t>(Address >> 16);
    *Offset = static_cast<uint16_t>(Address);
  }
  return Decoded;
}

bool SimSideband::RunBridgeMessage(SimPciFunction &Bridge) {
  uint16_t Command = Bridge.Get16(BridgeOpcode);
  if ((Command & BridgeStart) == 0)
    return false;
  uint32_t Target = Bridge.Get32(BridgeTarget);
  auto Port = static_cast<uint8_t>(Target >> 24);
  auto Offset = static_cast<uint16_t>(Target & 0xFFFF);
  uint16_t Opcode = Command >> 8;
  if (Opcode == BridgeReadOpcode)
    Bridge.Set32(BridgeData, Get(Port, Offset));
  else if (Opcode == BridgeWriteOpcode && Ports.count(Port) != 0)
    Set(Port, Offset, Bridge.Get32(BridgeData));
  Bridge.Set16(BridgeOpcode, static_cast<uint16_t>(Command & ~BridgeStart));
  return true;
}
