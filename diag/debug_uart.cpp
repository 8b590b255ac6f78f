// The debug UART as a device: the serial-controller lookup, its registers and bounded polling.
#include "diag/debug_uart.h"

#include "diag/hardware_access.h"
#include "diag/platform_constants.h"

static_assert(SerialIoControllers[DebugUartController].Device == DebugUartPciDevice &&
                  SerialIoControllers[DebugUartController].Function == DebugUartPciFunction,
              "the debug UART is the serial-I/O controller the board is recognised by");

namespace {

constexpr UINT32 SerialIoWindowSelectorStride = 8;
constexpr UINT8 SerialIoConfigSelector = 1;
constexpr UINT32 VendorIdMask = 0xFFFF;

} // namespace

UINT64 GetSerialIoBase(INT32 Index, UINT8 Selector) {
  if (Index < 0 || Index >= SerialIoControllerCount)
    return SerialIoAbsent;
  const SerialIoController &Controller = SerialIoControllers[Index];
  UINT64 Config = EcamAddress(0, Controller.Device, Controller.Function);
  if ((MmioRead32(Config + PciVendorIdRegister) & VendorIdMask) != PlatformVendorId)
    return SerialIoAbsent;
  // A controller whose own window the firmware placed above 4 GiB is out of reach.
  UINT32 Window0 = MmioRead32(Config + PciBar0Register);
  if (EcamWindowAbove4GiB(Config, PciBar0Register, Window0))
    return SerialIoAbsent;
  if (Selector == SerialIoConfigSelector)
    return Config;
  UINT32 Window =
      Selector == 0
          ? Window0
          : MmioRead32(Config + PciBar0Register + SerialIoWindowSelectorStride * Selector);
  return Window & PciPageMask;
}

UINT8 ReadUartRegister(UINT32 Base, UINT32 Register) {
  return MmioRead8(static_cast<UINT64>(Base) + Register);
}

VOID WriteUartRegister(UINT32 Base, UINT32 Register, UINT8 Value) {
  MmioWrite8(static_cast<UINT64>(Base) + Register, Value);
}

BOOLEAN WaitDebugUartStatus(UINT32 Base, UINT8 Bits) {
  for (UINT32 Poll = 0; Poll < DebugUartPollLimit; Poll++) {
    if ((ReadUartRegister(Base, UartLineStatus) & Bits) == Bits)
      return 1;
  }
  return 0;
}
