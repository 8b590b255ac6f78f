#include "sim/hardware_uart.h"

#include "shell/byte_order.h"
#include "sim/hardware_log.h"

namespace {

// 16550 register offsets (4 bytes apart) and bits.
constexpr uint64_t RegisterSpan = 0x20;
constexpr uint64_t RegData = 0x00, RegIer = 0x04, RegFcr = 0x08, RegLcr = 0x0C, RegMcr = 0x10,
                   RegLsr = 0x14, RegScr = 0x1C;
constexpr uint8_t LcrDivisorLatch = 0x80;
constexpr uint8_t IirNoInterrupt = 0x01;
constexpr uint8_t IirFifosOn = 0xC0;

} // namespace

uint32_t SimUart::PrivateGet32(uint32_t Offset) const {
  return Offset + 4 <= WindowSize ? LoadLe32(Private + Offset) : 0;
}

void SimUart::PrivateSet32(uint32_t Offset, uint32_t Value) {
  if (Offset + 4 <= WindowSize)
    StoreLe32(Private + Offset, Value);
}

uint64_t SimUart::Read(uint64_t Offset, uint8_t Width) {
  if (Offset >= RegisterSpan)
    return Offset + Width / 8 <= WindowSize ? LoadLe(Private + Offset, Width / 8)
                                            : SimAllOnes(Width);
  bool Latch = (Lcr & LcrDivisorLatch) != 0;
  switch (Offset) {
  case RegData:
    return Latch ? Dll : 0; // nothing is ever received
  case RegIer:
    return Latch ? Dlm : Ier;
  case RegFcr:
    return IirNoInterrupt | ((Fcr & 1) ? IirFifosOn : 0);
  case RegLcr:
    return Lcr;
  case RegMcr:
    return Mcr;
  case RegLsr: {
    LineStatusReads++;
    if (LineStatusScript.empty())
      return LineStatus;
    uint8_t Value = LineStatusScript.front();
    LineStatusScript.pop_front();
    return Value;
  }
  case RegScr:
    return Scr;
  default:
    return 0;
  }
}

void SimUart::Write(uint64_t Offset, uint8_t Width, uint64_t Value) {
  if (Offset >= RegisterSpan) {
    if (Offset + Width / 8 <= WindowSize)
      StoreLe(Private + Offset, Width / 8, Value);
    return;
  }
  auto Byte = static_cast<uint8_t>(Value);
  bool Latch = (Lcr & LcrDivisorLatch) != 0;
  switch (Offset) {
  case RegData:
    if (Latch)
      Dll = Byte;
    else
      Transmitted.push_back(static_cast<char>(Byte));
    break;
  case RegIer:
    (Latch ? Dlm : Ier) = Byte;
    break;
  case RegFcr:
    Fcr = Byte;
    FcrWrites.push_back(Byte);
    break;
  case RegLcr:
    Lcr = Byte;
    break;
  case RegMcr:
    Mcr = Byte;
    break;
  case RegScr:
    Scr = Byte;
    break;
  default:
    break; // line and modem status are read-only
  }
}
