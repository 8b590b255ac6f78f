#include "sim/hardware_uart.h"

#include "sim/hardware_log.h"

namespace {

// 16550 register offsets (4 bytes apart) and bits.
constexpr uint64_t RegisterSpan = 0x20;
constexpr uint64_t RegData = 0x00, RegIer = 0x04, RegFcr = 0x08, RegLcr = 0x0C, RegMcr = 0x10,
                   RegLsr = 0x14;
constexpr uint8_t LcrDivisorLatch = 0x80;

} // namespace

uint32_t SimUart::PrivateGet32(uint32_t Offset) const {
  return Offset + 4 <= WindowSize ? SimLoadLe(Private + Offset, 4) : 0;
}

uint8_t *SimUart::Plain(uint64_t Offset) {
  bool Latch = (Lcr & LcrDivisorLatch) != 0;
  switch (Offset) {
  case RegIer:
    return Latch ? &Dlm : &Ier;
  case RegLcr:
    return &Lcr;
  case RegMcr:
    return &Mcr;
  default:
    return nullptr;
  }
}

uint64_t SimUart::Read(uint64_t Offset, uint8_t Width) {
  if (Offset >= RegisterSpan)
    return Offset + Width / 8 <= WindowSize ? SimLoadLe(Private + Offset, Width / 8)
                                            : SimAllOnes(Width);
  if (uint8_t *Register = Plain(Offset))
    return *Register;
  if (Offset == RegData)
    return (Lcr & LcrDivisorLatch) ? Dll : 0; // nothing is ever received
  if (Offset != RegLsr)
    return 0; // interrupt identification, modem status and scratch are not modelled
  LineStatusReads++;
  if (LineStatusScript.empty())
    return LineStatus;
  uint8_t Value = LineStatusScript.front();
  LineStatusScript.pop_front();
  return Value;
}

void SimUart::Write(uint64_t Offset, uint8_t Width, uint64_t Value) {
  if (Offset >= RegisterSpan) {
    if (Offset + Width / 8 <= WindowSize)
      SimStoreLe(Private + Offset, Width / 8, Value);
    return;
  }
  auto Byte = static_cast<uint8_t>(Value);
  if (uint8_t *Register = Plain(Offset)) {
    *Register = Byte;
  } else if (Offset == RegData) {
    if (Lcr & LcrDivisorLatch)
      Dll = Byte;
    else
      Transmitted.push_back(static_cast<char>(Byte));
  } else if (Offset == RegFcr) {
    FcrWrites.push_back(Byte);
  } // line and modem status are read-only
}
