#include "sim/hardware_model.h"

#include <cstdio>
#include <ostream>
#include <sstream>

#include "diag/hardware_access.h"

namespace {

SimHardware *ActiveHardware = nullptr;

constexpr uint16_t CmosIndexPort = 0x70;
constexpr uint16_t CmosDataPort = 0x71;
constexpr uint16_t ConfigAddressPort = 0xCF8;
constexpr uint16_t ConfigDataPort = 0xCFC;
constexpr uint32_t ConfigEnable = 0x80000000u;

constexpr uint64_t EcamBase = 0xE0000000u;
constexpr uint64_t EcamSize = 0x10000000u; // 256 buses
constexpr uint64_t FixedSidebandBase = 0xD0000000u;
constexpr uint64_t SidebandWindowSize = 0x01000000u; // 256 ports of 64 KiB
constexpr size_t SidebandPortSize = 0x10000;
constexpr size_t ConfigSpaceSize = 4096;

// The sideband bridge (bus 0, device 13, function 0) and its message registers.
constexpr uint32_t BridgeKey = (0u << 8) | (13u << 3) | 0u;
constexpr uint32_t BridgeBar = 0x10;
constexpr uint32_t BridgeCommand = 0x04;
constexpr uint32_t BridgeTarget = 0xD0;
constexpr uint32_t BridgeData = 0xD4;
constexpr uint32_t BridgeOpcode = 0xD8;
constexpr uint16_t BridgeStart = 0x0001;
constexpr uint16_t BridgeReadOpcode = 0x06;
constexpr uint16_t BridgeWriteOpcode = 0x07;

// 16550 register offsets (4 bytes apart) and bits.
constexpr uint64_t UartWindowSize = 0x1000;
constexpr uint64_t UartRegisterSpan = 0x20;
constexpr uint64_t UartData = 0x00, UartIer = 0x04, UartFcr = 0x08, UartLcr = 0x0C, UartMcr = 0x10,
                   UartLsr = 0x14, UartScr = 0x1C;
constexpr uint8_t LcrDivisorLatch = 0x80;
constexpr uint8_t IirNoInterrupt = 0x01;
constexpr uint8_t IirFifosOn = 0xC0;

uint64_t AllOnes(uint8_t Width) {
  return Width >= 64 ? ~0ull : (1ull << Width) - 1;
}

uint64_t LoadLe(const uint8_t *Bytes, uint8_t Width) {
  uint64_t Value = 0;
  for (int I = Width / 8 - 1; I >= 0; I--)
    Value = (Value << 8) | Bytes[I];
  return Value;
}

void StoreLe(uint8_t *Bytes, uint8_t Width, uint64_t Value) {
  for (int I = 0; I < Width / 8; I++)
    Bytes[I] = static_cast<uint8_t>(Value >> (8 * I));
}

uint32_t FunctionKey(uint32_t Bus, uint32_t Device, uint32_t Function) {
  return (Bus << 8) | (Device << 3) | Function;
}

const char *KindName(SimAccessKind Kind) {
  switch (Kind) {
  case SimAccessKind::PortIn:
    return "in";
  case SimAccessKind::PortOut:
    return "out";
  case SimAccessKind::MemRead:
    return "read";
  case SimAccessKind::MemWrite:
    return "write";
  case SimAccessKind::InterruptFlagRead:
    return "if?";
  case SimAccessKind::InterruptsOff:
    return "cli";
  case SimAccessKind::InterruptsOn:
    return "sti";
  }
  return "?";
}

} // namespace

std::ostream &operator<<(std::ostream &Out, const SimAccess &Access) {
  char Text[96];
  switch (Access.Kind) {
  case SimAccessKind::InterruptsOff:
  case SimAccessKind::InterruptsOn:
    std::snprintf(Text, sizeof Text, "%s", KindName(Access.Kind));
    break;
  case SimAccessKind::InterruptFlagRead:
    std::snprintf(Text, sizeof Text, "if? -> %llu", static_cast<unsigned long long>(Access.Value));
    break;
  default:
    std::snprintf(Text, sizeof Text, "%s%u 0x%llx = 0x%llx", KindName(Access.Kind), Access.Width,
                  static_cast<unsigned long long>(Access.Address),
                  static_cast<unsigned long long>(Access.Value));
  }
  return Out << Text;
}

std::string DescribeAccesses(const std::vector<SimAccess> &Accesses) {
  std::ostringstream Out;
  for (const SimAccess &Access : Accesses)
    Out << Access << '\n';
  return Out.str();
}

uint16_t SimPciFunction::Get16(uint32_t Offset) const {
  return Offset + 2 <= ConfigSpaceSize ? static_cast<uint16_t>(LoadLe(Config + Offset, 16)) : 0;
}
uint32_t SimPciFunction::Get32(uint32_t Offset) const {
  return Offset + 4 <= ConfigSpaceSize ? static_cast<uint32_t>(LoadLe(Config + Offset, 32)) : 0;
}
void SimPciFunction::Set16(uint32_t Offset, uint16_t Value) {
  if (Offset + 2 <= ConfigSpaceSize)
    StoreLe(Config + Offset, 16, Value);
}
void SimPciFunction::Set32(uint32_t Offset, uint32_t Value) {
  if (Offset + 4 <= ConfigSpaceSize)
    StoreLe(Config + Offset, 32, Value);
}

uint32_t SimUart::PrivateGet32(uint32_t Offset) const {
  return Offset + 4 <= UartWindowSize ? static_cast<uint32_t>(LoadLe(Private + Offset, 32)) : 0;
}
void SimUart::PrivateSet32(uint32_t Offset, uint32_t Value) {
  if (Offset + 4 <= UartWindowSize)
    StoreLe(Private + Offset, 32, Value);
}

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

void SimHardware::Reset() {
  Functions.clear();
  CmosPresent = false;
  CmosIndex = 0;
  for (uint8_t &Byte : CmosBytes)
    Byte = 0;
  SidebandPorts.clear();
  SidebandMessages = 0;
  Uarts.clear();
  Registers.clear();
  InterruptsEnabled = true;
  ConfigAddressLatch = 0;
  Log.clear();
  UnloggedAccesses = 0;
}

SimPciFunction &SimHardware::AddPciFunction(uint8_t Bus, uint8_t Device, uint8_t Function,
                                            uint16_t VendorId, uint16_t DeviceId) {
  auto &Slot = Functions[FunctionKey(Bus, Device, Function)];
  Slot = std::make_unique<SimPciFunction>();
  Slot->Set16(0x00, VendorId);
  Slot->Set16(0x02, DeviceId);
  return *Slot;
}

SimPciFunction *SimHardware::FindPciFunction(uint8_t Bus, uint8_t Device, uint8_t Function) {
  auto It = Functions.find(FunctionKey(Bus, Device, Function));
  return It == Functions.end() ? nullptr : It->second.get();
}

void SimHardware::SetCmos(uint8_t Index, std::initializer_list<uint8_t> Bytes) {
  CmosPresent = true;
  for (uint8_t Byte : Bytes)
    CmosBytes[Index++ & CmosIndexMask] = Byte;
}

void SimHardware::AddSidebandPort(uint8_t Port) {
  auto &Space = SidebandPorts[Port];
  if (Space.empty())
    Space.assign(SidebandPortSize, 0);
}

uint32_t SimHardware::Sideband(uint8_t Port, uint16_t Offset) const {
  auto It = SidebandPorts.find(Port);
  if (It == SidebandPorts.end() || Offset + 4u > SidebandPortSize)
    return 0xFFFFFFFFu;
  return static_cast<uint32_t>(LoadLe(It->second.data() + Offset, 32));
}

void SimHardware::SetSideband(uint8_t Port, uint16_t Offset, uint32_t Value) {
  AddSidebandPort(Port);
  if (Offset + 4u <= SidebandPortSize)
    StoreLe(SidebandPorts[Port].data() + Offset, 32, Value);
}

SimUart &SimHardware::AddUart(uint64_t Base) {
  Uarts.push_back(std::make_unique<SimUart>());
  Uarts.back()->Base = Base;
  return *Uarts.back();
}

void SimHardware::AddRegisters(uint64_t Base, uint64_t Size) {
  Registers[Base].assign(Size, 0);
}

uint32_t SimHardware::Peek32(uint64_t Address) const {
  auto *Self = const_cast<SimHardware *>(this);
  const uint8_t *Bytes = Self->FindRegisters(Address, 32);
  return Bytes ? static_cast<uint32_t>(LoadLe(Bytes, 32)) : 0xFFFFFFFFu;
}

void SimHardware::Poke32(uint64_t Address, uint32_t Value) {
  if (uint8_t *Bytes = FindRegisters(Address, 32))
    StoreLe(Bytes, 32, Value);
}

std::vector<SimAccess> SimHardware::LogSince(size_t From) const {
  if (From >= Log.size())
    return {};
  return std::vector<SimAccess>(Log.begin() + static_cast<std::ptrdiff_t>(From), Log.end());
}

std::vector<SimAccess> SimHardware::Writes() const {
  std::vector<SimAccess> Out;
  for (const SimAccess &Access : Log)
    if (Access.IsWrite())
      Out.push_back(Access);
  return Out;
}

std::vector<SimAccess> SimHardware::MemWritesIn(uint64_t Low, uint64_t High) const {
  std::vector<SimAccess> Out;
  for (const SimAccess &Access : Log)
    if (Access.Kind == SimAccessKind::MemWrite && Access.Address >= Low && Access.Address < High)
      Out.push_back(Access);
  return Out;
}

void SimHardware::Record(SimAccessKind Kind, uint8_t Width, uint64_t Address, uint64_t Value) {
  if (!Logging)
    return;
  if (Log.size() < LogLimit)
    Log.push_back({Kind, Width, Address, Value});
  else
    UnloggedAccesses++;
}

// --- Ports -------------------------------------------------------------------------------------

uint64_t SimHardware::PortRead(uint8_t Width, uint16_t Port) {
  uint64_t Value = AllOnes(Width);
  if (Port == CmosDataPort && Width == 8 && CmosPresent) {
    Value = CmosBytes[CmosIndex];
  } else if (Port == ConfigAddressPort && Width == 32) {
    Value = ConfigAddressLatch;
  } else if (Port >= ConfigDataPort && Port + Width / 8 <= ConfigDataPort + 4 &&
             (ConfigAddressLatch & ConfigEnable)) {
    // Port layout back to the window layout: bus, device and function move up 4 bits.
    uint32_t Cfg = ((ConfigAddressLatch & 0x00FFFF00u) << 4) | (ConfigAddressLatch & 0xFCu);
    Value = ConfigRead(Cfg + (Port - ConfigDataPort), Width);
  }
  Record(SimAccessKind::PortIn, Width, Port, Value);
  return Value;
}

void SimHardware::PortWrite(uint8_t Width, uint16_t Port, uint64_t Value) {
  Value &= AllOnes(Width);
  Record(SimAccessKind::PortOut, Width, Port, Value);
  if (Port == CmosIndexPort && Width == 8) {
    // Bit 7 of the index port masks NMI on the real chip; the index is the low 7 bits.
    CmosIndex = static_cast<uint8_t>(Value & CmosIndexMask);
  } else if (Port == CmosDataPort && Width == 8) {
    if (CmosPresent)
      CmosBytes[CmosIndex] = static_cast<uint8_t>(Value);
  } else if (Port == ConfigAddressPort && Width == 32) {
    ConfigAddressLatch = static_cast<uint32_t>(Value);
  } else if (Port >= ConfigDataPort && Port + Width / 8 <= ConfigDataPort + 4 &&
             (ConfigAddressLatch & ConfigEnable)) {
    uint32_t Cfg = ((ConfigAddressLatch & 0x00FFFF00u) << 4) | (ConfigAddressLatch & 0xFCu);
    ConfigWrite(Cfg + (Port - ConfigDataPort), Width, Value);
  }
}

// --- Configuration space -------------------------------------------------------------------------

uint64_t SimHardware::ConfigRead(uint32_t Cfg, uint8_t Width) {
  SimPciFunction *Function = nullptr;
  auto It = Functions.find(Cfg >> 12);
  if (It != Functions.end())
    Function = It->second.get();
  uint32_t Offset = Cfg & 0xFFF;
  if (Function == nullptr || Offset + Width / 8 > ConfigSpaceSize)
    return AllOnes(Width);
  return LoadLe(Function->Config + Offset, Width);
}

void SimHardware::ConfigWrite(uint32_t Cfg, uint8_t Width, uint64_t Value) {
  auto It = Functions.find(Cfg >> 12);
  uint32_t Offset = Cfg & 0xFFF;
  if (It == Functions.end() || Offset + Width / 8 > ConfigSpaceSize)
    return;
  StoreLe(It->second->Config + Offset, Width, Value);
  if (It->first == BridgeKey && Offset <= BridgeOpcode && Offset + Width / 8 > BridgeOpcode)
    RunBridgeMessage(*It->second);
}

// A write of the opcode register with the start bit carries out the message at once; the
// busy (start) bit then reads clear again.
void SimHardware::RunBridgeMessage(SimPciFunction &Bridge) {
  uint16_t Command = Bridge.Get16(BridgeOpcode);
  if ((Command & BridgeStart) == 0)
    return;
  uint32_t Target = Bridge.Get32(BridgeTarget);
  auto Port = static_cast<uint8_t>(Target >> 24);
  auto Offset = static_cast<uint16_t>(Target & 0xFFFF);
  uint16_t Opcode = Command >> 8;
  if (Opcode == BridgeReadOpcode) {
    Bridge.Set32(BridgeData, Sideband(Port, Offset));
  } else if (Opcode == BridgeWriteOpcode) {
    if (SidebandPorts.count(Port))
      SetSideband(Port, Offset, Bridge.Get32(BridgeData));
  }
  SidebandMessages++;
  Bridge.Set16(BridgeOpcode, static_cast<uint16_t>(Command & ~BridgeStart));
}

// --- Physical address space ----------------------------------------------------------------------

bool SimHardware::SidebandDecode(uint64_t Address, uint8_t *Port, uint16_t *Offset) const {
  bool Decoded = Address >= FixedSidebandBase && Address < FixedSidebandBase + SidebandWindowSize;
  if (!Decoded) {
    // The bridge's own window: only the top 8 bits of its base select it.
    auto It = Functions.find(BridgeKey);
    if (It != Functions.end()) {
      uint32_t Base = It->second->Get32(BridgeBar);
      bool MemoryOn = (It->second->Get16(BridgeCommand) & 0x2) != 0;
      uint32_t Page = Base & 0xFFFFF000u;
      uint64_t Window = Base & 0xFF000000u;
      Decoded = MemoryOn && Page != 0 && Page != 0xFFFFF000u && Address >= Window &&
                Address < Window + SidebandWindowSize;
    }
  }
  if (Decoded) {
    *Port = static_cast<uint8_t>(Address >> 16);
    *Offset = static_cast<uint16_t>(Address);
  }
  return Decoded;
}

SimUart *SimHardware::FindUart(uint64_t Address) {
  for (auto &Uart : Uarts)
    if (Address >= Uart->Base && Address < Uart->Base + UartWindowSize)
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

uint64_t SimHardware::UartRead(SimUart &Uart, uint64_t Offset, uint8_t Width) {
  if (Offset >= UartRegisterSpan)
    return Offset + Width / 8 <= UartWindowSize ? LoadLe(Uart.Private + Offset, Width)
                                                : AllOnes(Width);
  bool Latch = (Uart.Lcr & LcrDivisorLatch) != 0;
  switch (Offset) {
  case UartData:
    return Latch ? Uart.Dll : 0; // nothing is ever received
  case UartIer:
    return Latch ? Uart.Dlm : Uart.Ier;
  case UartFcr:
    return IirNoInterrupt | ((Uart.Fcr & 1) ? IirFifosOn : 0);
  case UartLcr:
    return Uart.Lcr;
  case UartMcr:
    return Uart.Mcr;
  case UartLsr: {
    Uart.LineStatusReads++;
    if (Uart.LineStatusScript.empty())
      return Uart.LineStatus;
    uint8_t Value = Uart.LineStatusScript.front();
    Uart.LineStatusScript.pop_front();
    return Value;
  }
  case UartScr:
    return Uart.Scr;
  default:
    return 0;
  }
}

void SimHardware::UartWrite(SimUart &Uart, uint64_t Offset, uint8_t Width, uint64_t Value) {
  if (Offset >= UartRegisterSpan) {
    if (Offset + Width / 8 <= UartWindowSize)
      StoreLe(Uart.Private + Offset, Width, Value);
    return;
  }
  auto Byte = static_cast<uint8_t>(Value);
  bool Latch = (Uart.Lcr & LcrDivisorLatch) != 0;
  switch (Offset) {
  case UartData:
    if (Latch)
      Uart.Dll = Byte;
    else
      Uart.Transmitted.push_back(static_cast<char>(Byte));
    break;
  case UartIer:
    (Latch ? Uart.Dlm : Uart.Ier) = Byte;
    break;
  case UartFcr:
    Uart.Fcr = Byte;
    Uart.FcrWrites.push_back(Byte);
    break;
  case UartLcr:
    Uart.Lcr = Byte;
    break;
  case UartMcr:
    Uart.Mcr = Byte;
    break;
  case UartScr:
    Uart.Scr = Byte;
    break;
  default:
    break; // line and modem status are read-only
  }
}

uint64_t SimHardware::PhysRead(uint8_t Width, uint64_t Address) {
  uint64_t Value = AllOnes(Width);
  uint8_t Port;
  uint16_t Offset;
  if (Address >= EcamBase && Address < EcamBase + EcamSize) {
    Value = ConfigRead(static_cast<uint32_t>(Address - EcamBase), Width);
  } else if (SidebandDecode(Address, &Port, &Offset)) {
    auto It = SidebandPorts.find(Port);
    if (It != SidebandPorts.end() && Offset + Width / 8 <= SidebandPortSize)
      Value = LoadLe(It->second.data() + Offset, Width);
  } else if (SimUart *Uart = FindUart(Address)) {
    Value = UartRead(*Uart, Address - Uart->Base, Width);
  } else if (uint8_t *Bytes = FindRegisters(Address, Width)) {
    Value = LoadLe(Bytes, Width);
  }
  Record(SimAccessKind::MemRead, Width, Address, Value);
  return Value;
}

void SimHardware::PhysWrite(uint8_t Width, uint64_t Address, uint64_t Value) {
  Value &= AllOnes(Width);
  Record(SimAccessKind::MemWrite, Width, Address, Value);
  uint8_t Port;
  uint16_t Offset;
  if (Address >= EcamBase && Address < EcamBase + EcamSize) {
    ConfigWrite(static_cast<uint32_t>(Address - EcamBase), Width, Value);
  } else if (SidebandDecode(Address, &Port, &Offset)) {
    auto It = SidebandPorts.find(Port);
    if (It != SidebandPorts.end() && Offset + Width / 8 <= SidebandPortSize)
      StoreLe(It->second.data() + Offset, Width, Value);
  } else if (SimUart *Uart = FindUart(Address)) {
    UartWrite(*Uart, Address - Uart->Base, Width, Value);
  } else if (uint8_t *Bytes = FindRegisters(Address, Width)) {
    StoreLe(Bytes, Width, Value);
  }
}

bool SimHardware::ReadInterruptFlag() {
  Record(SimAccessKind::InterruptFlagRead, 0, 0, InterruptsEnabled ? 1 : 0);
  return InterruptsEnabled;
}

void SimHardware::SetInterrupts(bool Enabled) {
  Record(Enabled ? SimAccessKind::InterruptsOn : SimAccessKind::InterruptsOff, 0, 0, 0);
  InterruptsEnabled = Enabled;
}

// --- The platform operations, defined for the host ---------------------------------------------

UINT8 PortIn8(UINT16 Port) {
  return static_cast<UINT8>(SimHardware::Active().PortRead(8, Port));
}
UINT16 PortIn16(UINT16 Port) {
  return static_cast<UINT16>(SimHardware::Active().PortRead(16, Port));
}
UINT32 PortIn32(UINT16 Port) {
  return static_cast<UINT32>(SimHardware::Active().PortRead(32, Port));
}
VOID PortOut8(UINT16 Port, UINT8 Value) {
  SimHardware::Active().PortWrite(8, Port, Value);
}
VOID PortOut16(UINT16 Port, UINT16 Value) {
  SimHardware::Active().PortWrite(16, Port, Value);
}
VOID PortOut32(UINT16 Port, UINT32 Value) {
  SimHardware::Active().PortWrite(32, Port, Value);
}

UINT8 PhysRead8(UINT64 Address) {
  return static_cast<UINT8>(SimHardware::Active().PhysRead(8, Address));
}
UINT16 PhysRead16(UINT64 Address) {
  return static_cast<UINT16>(SimHardware::Active().PhysRead(16, Address));
}
UINT32 PhysRead32(UINT64 Address) {
  return static_cast<UINT32>(SimHardware::Active().PhysRead(32, Address));
}
UINT64 PhysRead64(UINT64 Address) {
  return SimHardware::Active().PhysRead(64, Address);
}
VOID PhysWrite8(UINT64 Address, UINT8 Value) {
  SimHardware::Active().PhysWrite(8, Address, Value);
}
VOID PhysWrite16(UINT64 Address, UINT16 Value) {
  SimHardware::Active().PhysWrite(16, Address, Value);
}
VOID PhysWrite32(UINT64 Address, UINT32 Value) {
  SimHardware::Active().PhysWrite(32, Address, Value);
}
VOID PhysWrite64(UINT64 Address, UINT64 Value) {
  SimHardware::Active().PhysWrite(64, Address, Value);
}

BOOLEAN InterruptFlag() {
  return SimHardware::Active().ReadInterruptFlag() ? 1 : 0;
}
VOID InterruptsOff() {
  SimHardware::Active().SetInterrupts(false);
}
VOID InterruptsOn() {
  SimHardware::Active().SetInterrupts(true);
}
