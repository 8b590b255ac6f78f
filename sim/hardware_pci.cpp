#include "sim/hardware_pci.h"

#include "sim/hardware_log.h"

namespace {

constexpr uint32_t FunctionShift = 12;
constexpr uint32_t RegisterMask = 0xFFF;

uint32_t FunctionKey(uint32_t Bus, uint32_t Device, uint32_t Function) {
  return (Bus << 8) | (Device << 3) | Function;
}

bool Fits(uint32_t Offset, uint32_t Size) {
  return Offset + Size <= SimPciFunction::ConfigSpaceSize;
}

} // namespace

uint64_t SimPciFunction::Get(uint32_t Offset, unsigned Size) const {
  return Fits(Offset, Size) ? SimLoadLe(Config + Offset, Size) : 0;
}
void SimPciFunction::Set(uint32_t Offset, unsigned Size, uint64_t Value) {
  if (Fits(Offset, Size))
    SimStoreLe(Config + Offset, Size, Value);
}

SimPciFunction &SimPciBus::Add(uint8_t Bus, uint8_t Device, uint8_t Function, uint16_t VendorId,
                               uint16_t DeviceId) {
  auto &Slot = Functions[FunctionKey(Bus, Device, Function)];
  Slot = std::make_unique<SimPciFunction>();
  Slot->Set16(0x00, VendorId);
  Slot->Set16(0x02, DeviceId);
  return *Slot;
}

SimPciFunction *SimPciBus::Find(uint8_t Bus, uint8_t Device, uint8_t Function) const {
  auto It = Functions.find(FunctionKey(Bus, Device, Function));
  return It == Functions.end() ? nullptr : It->second.get();
}

SimPciFunction *SimPciBus::At(uint32_t CfgAddress, uint8_t Width) const {
  auto It = Functions.find(CfgAddress >> FunctionShift);
  if (It == Functions.end() || !Fits(CfgAddress & RegisterMask, Width / 8))
    return nullptr;
  return It->second.get();
}

uint64_t SimPciBus::Read(uint32_t CfgAddress, uint8_t Width) const {
  const SimPciFunction *Function = At(CfgAddress, Width);
  return Function ? Function->Get(CfgAddress & RegisterMask, Width / 8) : SimAllOnes(Width);
}

SimPciFunction *SimPciBus::Write(uint32_t CfgAddress, uint8_t Width, uint64_t Value) {
  SimPciFunction *Function = At(CfgAddress, Width);
  if (Function != nullptr)
    Function->Set(CfgAddress & RegisterMask, Width / 8, Value);
  return Function;
}
