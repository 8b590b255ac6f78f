// PCI configuration access through the port pair and the memory-mapped window, and the
// width-exact register accessors, built on the platform operations.
#include "diag/hardware_access.h"

#include "platform/hardware.h"

namespace {

constexpr UINT16 CmosIndexPort = 0x70;
constexpr UINT16 CmosDataPort = 0x71;
constexpr UINT16 PciConfigAddressPort = 0xCF8;
constexpr UINT16 PciConfigDataPort = 0xCFC;
constexpr UINT32 PciConfigEnable = 0x80000000;
// Bus, device and function move down 4 bits from the window layout to the port layout; the
// register keeps its dword-aligned low byte.
constexpr UINT32 PciPortFunctionMask = 0x00FFFF00;
constexpr UINT32 PciPortRegisterMask = 0xFC;
// Bit 1 picks the upper word of the dword at the data port.
constexpr UINT32 PciWordLaneMask = 0x2;

UINT32 PortPairAddress(UINT32 Address) {
  return PciConfigEnable | ((Address >> 4) & PciPortFunctionMask) | (Address & PciPortRegisterMask);
}

UINT16 WordDataPort(UINT32 Address) {
  return static_cast<UINT16>(PciConfigDataPort + (Address & PciWordLaneMask));
}

// The bracket every port-pair access runs inside: interrupts off, the address port's previous
// contents saved, this access's address selected.
struct PortPairAccess {
  BOOLEAN WereEnabled;
  UINT32 SavedAddress;
};

PortPairAccess BeginPortPairAccess(UINT32 Address) {
  PortPairAccess Access;
  Access.WereEnabled = SuspendInterrupts();
  Access.SavedAddress = PortIn32(PciConfigAddressPort);
  PortOut32(PciConfigAddressPort, PortPairAddress(Address));
  return Access;
}

VOID EndPortPairAccess(const PortPairAccess &Access) {
  PortOut32(PciConfigAddressPort, Access.SavedAddress);
  RestoreInterrupts(Access.WereEnabled);
}

} // namespace

UINT64 EcamAddress(UINT32 Bus, UINT32 Device, UINT32 Function) {
  return EcamWindowBase + PciCfgAddress(Bus, Device, Function, 0);
}

bool EcamWindowAbove4GiB(UINT64 Config, UINT32 Register, UINT32 Low) {
  if ((Low & PciBarIoSpace) != 0 || (Low & PciBarTypeMask) != PciBarType64)
    return false;
  return WindowAbove4GiB(Low, MmioRead32(Config + Register + 4));
}

UINT16 PciCfgRead16(UINT32 Address) {
  PortPairAccess Access = BeginPortPairAccess(Address);
  UINT16 Value = PortIn16(WordDataPort(Address));
  EndPortPairAccess(Access);
  return Value;
}

UINT32 PciCfgRead32(UINT32 Address) {
  PortPairAccess Access = BeginPortPairAccess(Address);
  UINT32 Value = PortIn32(PciConfigDataPort);
  EndPortPairAccess(Access);
  return Value;
}

UINT32 PciCfgWrite32(UINT32 Address, UINT32 Value) {
  PortPairAccess Access = BeginPortPairAccess(Address);
  PortOut32(PciConfigDataPort, Value);
  EndPortPairAccess(Access);
  return Value;
}

UINT16 PciCfgOr16(UINT32 Address, UINT16 Bits) {
  PortPairAccess Access = BeginPortPairAccess(Address);
  UINT16 Port = WordDataPort(Address);
  UINT16 Value = static_cast<UINT16>(PortIn16(Port) | Bits);
  PortOut16(Port, Value);
  EndPortPairAccess(Access);
  return Value;
}

UINT16 PciCfgClear16(UINT32 Address) {
  PortPairAccess Access = BeginPortPairAccess(Address);
  UINT16 Port = WordDataPort(Address);
  UINT16 Value = static_cast<UINT16>(PortIn16(Port) & ~PciPowerStateMask);
  PortOut16(Port, Value);
  EndPortPairAccess(Access);
  return Value;
}

UINT8 MmioRead8(UINT64 Address) {
  return PhysRead8(Address);
}

UINT16 MmioRead16(UINT64 Address) {
  return PhysRead16(Address);
}

UINT32 MmioRead32(UINT64 Address) {
  return PhysRead32(Address);
}

VOID MmioWrite8(UINT64 Address, UINT8 Value) {
  PhysWrite8(Address, Value);
}

UINT16 MmioWrite16(UINT64 Address, UINT16 Value) {
  PhysWrite16(Address, Value);
  return Value;
}

UINT32 MmioWrite32(UINT64 Address, UINT32 Value) {
  PhysWrite32(Address, Value);
  return Value;
}

VOID MmioWrite64(UINT64 Address, UINT64 Value) {
  PhysWrite64(Address, Value);
}

VOID MmioOr32(UINT64 Address, UINT32 Bits) {
  PhysWrite32(Address, PhysRead32(Address) | Bits);
}

UINT8 CmosRead8(UINT8 Index) {
  PortOut8(CmosIndexPort, Index);
  return PortIn8(CmosDataPort);
}

VOID CmosWrite8(UINT8 Index, UINT8 Value) {
  PortOut8(CmosIndexPort, Index);
  PortOut8(CmosDataPort, Value);
}

BOOLEAN SuspendInterrupts() {
  BOOLEAN WereEnabled = InterruptFlag();
  InterruptsOff();
  return WereEnabled;
}

VOID RestoreInterrupts(BOOLEAN WereEnabled) {
  if (WereEnabled)
    InterruptsOn();
  else
    InterruptsOff();
}
