#include "sim/hardware_model.h"

namespace {

SimHardware *ActiveHardware = nullptr;

constexpr uint16_t CmosIndexPort = 0x70;
constexpr uint16_t CmosDataPort = 0x71;
constexpr uint16_t ConfigAddressPort = 0xCF8;
constexpr uint16_t ConfigDataPort = 0xCFC;
constexpr uint32_t ConfigEnable = 0x80000000u;

constexpr uint64_t EcamBase = 0xE0000000u;
constexpr uint64_t EcamSize = 0x10000000u; // 256 buses

// Whether a port access lands in the data port's dword while the address port is enabled.
bool ConfigDataAccess(uint16_t Port, uint8_t Width, uint32_t Latch) {
  return Port >= ConfigDataPort && Port + Width / 8 <= ConfigDataPort + 4 && (Latch & ConfigEnable);
}

// Port layout back to the window layout: bus, device and function move up 4 bits.
uint32_t LatchedConfigAddress(uint32_t Latch, uint16_t Port) {
  return ((Latch & 0x00FFFF00u) << 4) | (Latch & 0xFCu) | (Port - ConfigDataPort);
}

} // namespace

SimHardware::SimHardware() : Previous(ActiveHardware) {
  ActiveHardware = this;
}

SimHardware::~SimHardware() {
  if (ActiveHardware == this)
    ActiveHardware = Previous;
}

SimHardware &SimHardware::Active() {
  if (ActiveHardware == nullptr) {
    // Nobody set hardware up: an empty bus that lives as long as the process.
    static SimHardware EmptyBus;
    EmptyBus.Logging = false;
    ActiveHardware = &EmptyBus;
  }
  return *ActiveHardware;
}

void SimHardware::SetCmos(uint8_t Index, std::initializer_list<uint8_t> Bytes) {
  CmosPresent = true;
  for (uint8_t Byte : Bytes)
    CmosBytes[Index++ & CmosIndexMask] = Byte;
}

SimUart &SimHardware::AddUart(uint64_t Base) {
  Uarts.push_back(std::make_unique<SimUart>());
  Uarts.back()->Base = Base;
  return *Uarts.back();
}

void SimHardware::AddRegisters(uint64_t Base, uint64_t Size) {
  Registers[Base].assign(Size, 0);
}

void SimHardware::Poke32(uint64_t Address, uint32_t Value) {
  if (uint8_t *Bytes = FindRegisters(Address, 32))
    SimStoreLe(Bytes, 4, Value);
}

void SimHardware::Record(SimAccessKind Kind, uint8_t Width, uint64_t Address, uint64_t Value) {
  if (Logging)
    Log.push_back({Kind, Width, Address, Value});
}

// --- Ports -------------------------------------------------------------------------------------

uint64_t SimHardware::PortRead(uint8_t Width, uint16_t Port) {
  uint64_t Value = SimAllOnes(Width);
  if (Port == CmosDataPort && Width == 8 && CmosPresent)
    Value = CmosBytes[CmosIndex];
  else if (Port == ConfigAddressPort && Width == 32)
    Value = ConfigAddressLatch;
  else if (ConfigDataAccess(Port, Width, ConfigAddressLatch))
    Value = Pci.Read(LatchedConfigAddress(ConfigAddressLatch, Port), Width);
  Record(SimAccessKind::PortIn, Width, Port, Value);
  return Value;
}

void SimHardware::PortWrite(uint8_t Width, uint16_t Port, uint64_t Value) {
  Value &= SimAllOnes(Width);
  Record(SimAccessKind::PortOut, Width, Port, Value);
  if (Port == CmosIndexPort && Width == 8) {
    // Bit 7 of the index port masks NMI on the real chip; the index is the low 7 bits.
    CmosIndex = static_cast<uint8_t>(Value & CmosIndexMask);
  } else if (Port == CmosDataPort && Width == 8) {
    if (CmosPresent)
      CmosBytes[CmosIndex] = static_cast<uint8_t>(Value);
  } else if (Port == ConfigAddressPort && Width == 32) {
    ConfigAddressLatch = static_cast<uint32_t>(Value);
  } else if (ConfigDataAccess(Port, Width, ConfigAddressLatch)) {
    ConfigWrite(LatchedConfigAddress(ConfigAddressLatch, Port), Width, Value);
  }
}

// --- Physical address space ----------------------------------------------------------------------

// A configuration write that reaches the sideband bridge's opcode register runs its message.
void SimHardware::ConfigWrite(uint32_t CfgAddress, uint8_t Width, uint64_t Value) {
  SimPciFunction *Function = Pci.Write(CfgAddress, Width, Value);
  uint32_t Offset = CfgAddress & 0xFFF;
  if (Function != nullptr && Function == Pci.Find(0, SimSideband::BridgeDevice, 0) &&
      Offset <= SimSideband::BridgeOpcode && Offset + Width / 8 > SimSideband::BridgeOpcode &&
      Sideband.RunBridgeMessage(*Function))
    SidebandMessages++;
}

bool SimHardware::SidebandDecode(uint64_t Address, uint8_t *Port, uint16_t *Offset) {
  return Sideband.Decode(Address, Pci.Find(0, SimSideband::BridgeDevice, 0), Port, Offset);
}

SimUart *SimHardware::FindUart(uint64_t Address) {
  for (auto &Uart : Uarts)
    if (Uart->Contains(Address))
      return Uart.get();
  return nullptr;
}

uint8_t *SimHardware::FindRegisters(uint64_t Address, uint8_t Width) {
  auto It = Registers.upper_bound(Address);
  if (It == Registers.begin())
    return nullptr;
  --It;
  uint64_t Offset = Address - It->first;
  if (Offset + Width / 8 > It->second.size())
    return nullptr;
  return It->second.data() + Offset;
}

uint64_t SimHardware::PhysRead(uint8_t Width, uint64_t Address) {
  uint64_t Value = SimAllOnes(Width);
  uint8_t Port;
  uint16_t Offset;
  if (Address >= EcamBase && Address < EcamBase + EcamSize)
    Value = Pci.Read(static_cast<uint32_t>(Address - EcamBase), Width);
  else if (SidebandDecode(Address, &Port, &Offset))
    Value = Sideband.Read(Port, Offset, Width);
  else if (SimUart *Uart = FindUart(Address))
    Value = Uart->Read(Address - Uart->Base, Width);
  else if (const uint8_t *Bytes = FindRegisters(Address, Width))
    Value = SimLoadLe(Bytes, Width / 8);
  Record(SimAccessKind::MemRead, Width, Address, Value);
  return Value;
}

void SimHardware::PhysWrite(uint8_t Width, uint64_t Address, uint64_t Value) {
  Value &= SimAllOnes(Width);
  Record(SimAccessKind::MemWrite, Width, Address, Value);
  uint8_t Port;
  uint16_t Offset;
  if (Address >= EcamBase && Address < EcamBase + EcamSize)
    ConfigWrite(static_cast<uint32_t>(Address - EcamBase), Width, Value);
  else if (SidebandDecode(Address, &Port, &Offset))
    Sideband.Write(Port, Offset, Width, Value);
  else if (SimUart *Uart = FindUart(Address))
    Uart->Write(Address - Uart->Base, Width, Value);
  else if (uint8_t *Bytes = FindRegisters(Address, Width))
    SimStoreLe(Bytes, Width / 8, Value);
}

bool SimHardware::ReadInterruptFlag() {
  Record(SimAccessKind::InterruptFlagRead, 0, 0, InterruptsEnabled ? 1 : 0);
  return InterruptsEnabled;
}

void SimHardware::SetInterrupts(bool Enabled) {
  Record(Enabled ? SimAccessKind::InterruptsOn : SimAccessKind::InterruptsOff, 0, 0, 0);
  InterruptsEnabled = Enabled;
}
