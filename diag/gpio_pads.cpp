// GPIO pad configuration and the debug UART's pad table.
#include "diag/gpio_pads.h"

#include "diag/debug_message.h"
#include "diag/sideband.h"

// The debug UART's signals, all in the community of port 0xC5: receive data keeps software
// ownership, the others are handed to the host's GPIO driver. None is routed to an interrupt.
const UartPadRow UartPadTable[UartPadCount] = {
    {0x04000500, 0x00027000, SidebandPortGpioCommunity5, 0x570, 1, 0, "DebugUartRxd"},
    {0x04000400, 0x00003100, SidebandPortGpioCommunity5, 0x578, 0, 0, "DebugUartTxd"},
    {0x04000400, 0x00003100, SidebandPortGpioCommunity5, 0x580, 0, 0, "DebugUartRts"},
    {0x04000400, 0x00003000, SidebandPortGpioCommunity5, 0x588, 0, 0, "DebugUartCts"},
};

namespace {

constexpr UINT32 PadOwnershipPerRegister = 8;
constexpr UINT32 PadOwnershipBitsPerPad = 4;
constexpr UINT32 PadOwnerMask = 0x3;
constexpr UINT32 PadsPerBitRegister = 32;

// Bits 17-20 of a configured PadDw0 value select the interrupt routing.
constexpr UINT32 PadRoutingShift = 17;
constexpr UINT32 PadRoutingMask = 0xF;
constexpr UINT32 PadRouteSmi = 2;
constexpr UINT32 PadRouteSciGpe = 4;
constexpr UINT32 PadRouteDirectIrq = 8;

// Direct IRQ: 16 slots; each slot's 4-bit field in the selection register takes the pad's group.
constexpr UINT32 DirectIrqSlots = 16;
constexpr UINT32 DirectIrqSlotBits = 4;

// Pads of each community that cannot be routed to a direct IRQ, by series.
constexpr UINT32 Community5LastPadSeries3 = 61;
constexpr UINT32 Community5LastPadOther = 73;
constexpr UINT32 Community4MaskedPadsSeries3 = 60; // the mask covers pads 0 to this one
constexpr UINT64 Community4ExcludedSeries3 = 0x10100001FFFFFFFFull;
constexpr UINT32 Community4MaskedPadsOther = 52;
constexpr UINT64 Community4ExcludedOther = 0x00101000001FFFFFull;

UINT8 PadPort(UINT32 PadId) {
  return static_cast<UINT8>(PadId >> 16);
}
UINT16 PadOffset(UINT32 PadId) {
  return static_cast<UINT16>(PadId);
}

// The pad number, or -1 when the identifier points below the first pad's registers.
INT32 PadNumber(UINT32 PadId) {
  INT32 Offset = PadOffset(PadId);
  if (Offset < PadConfigBase)
    return -1;
  return (Offset - PadConfigBase) / PadConfigStride;
}

UINT16 BitRegister(UINT16 Base, UINT32 Pad) {
  return static_cast<UINT16>(Base + 4 * (Pad / PadsPerBitRegister));
}

// Routes a pad through one register pair (route, then enable), reporting each step.
VOID RoutePad(UINT8 Port, UINT32 Pad, UINT16 RouteBase, UINT16 EnableBase) {
  UINT32 Bit = 1u << (Pad % PadsPerBitRegister);
  UINT16 Route = BitRegister(RouteBase, Pad);
  UINT16 Enable = BitRegister(EnableBase, Pad);
  UINT32 Value = SidebandRead32(Port, Route);
  EmitDebugMessage(DebugLevelInfo, "Original value of 0x%X: 0x%08X\n", Route, Value);
  SidebandWrite32(Port, Route, Value | Bit);
  Value = SidebandRead32(Port, Enable);
  EmitDebugMessage(DebugLevelInfo, "Original value of 0x%X: 0x%08X\n", Enable, Value);
  SidebandWrite32(Port, Enable, Value | Bit);
  Value = SidebandRead32(Port, Enable);
  EmitDebugMessage(DebugLevelInfo, "New value of 0x%X: 0x%08X\n", Enable, Value);
}

bool DirectIrqRefused(UINT8 Port, UINT32 Pad, UINT8 Series) {
  bool Series3 = Series == ChipSeries3;
  if (Port == SidebandPortGpioCommunity5)
    return Pad > (Series3 ? Community5LastPadSeries3 : Community5LastPadOther);
  UINT32 Last = Series3 ? Community4MaskedPadsSeries3 : Community4MaskedPadsOther;
  UINT64 Excluded = Series3 ? Community4ExcludedSeries3 : Community4ExcludedOther;
  return Pad <= Last && ((Excluded >> Pad) & 1) != 0;
}

} // namespace

UINT32 GetPadOwnership(UINT32 PadId) {
  INT32 Pad = PadNumber(PadId);
  if (Pad < 0)
    return PadOwnerNone;
  UINT32 Index = static_cast<UINT32>(Pad);
  UINT16 Register = static_cast<UINT16>(PadOwnershipBase + 4 * (Index / PadOwnershipPerRegister));
  UINT32 Value = SidebandRead32(PadPort(PadId), Register);
  return (Value >> (PadOwnershipBitsPerPad * (Index % PadOwnershipPerRegister))) & PadOwnerMask;
}

VOID ConfigurePad(const PadConfig &Config) {
  UINT8 Port = PadPort(Config.PadId);
  UINT16 Offset = PadOffset(Config.PadId);
  UINT32 Owner = GetPadOwnership(Config.PadId);
  if (Owner != PadOwnerHost) {
    EmitDebugMessage(DebugLevelInfo, "GPIO pad is not owned by host! skip it. Ownership: %02X\n",
                     Owner);
    return;
  }
  UINT32 Pad = static_cast<UINT32>(PadNumber(Config.PadId));
  UINT32 Bit = 1u << (Pad % PadsPerBitRegister);

  SidebandWrite32(Port, Offset, (SidebandRead32(Port, Offset) & PadDw0KeepMask) | Config.PadDw0);
  UINT16 Dw1 = static_cast<UINT16>(Offset + 4);
  SidebandWrite32(Port, Dw1, (SidebandRead32(Port, Dw1) & PadDw1KeepMask) | Config.PadDw1);

  UINT16 Ownership = BitRegister(PadSoftwareOwnershipBase, Pad);
  UINT32 Owned = SidebandRead32(Port, Ownership);
  SidebandWrite32(Port, Ownership, Config.SoftwareOwned == 1 ? (Owned | Bit) : (Owned & ~Bit));

  UINT32 Routing = (Config.PadDw0 >> PadRoutingShift) & PadRoutingMask;
  if (Routing == PadRouteSciGpe || Routing == PadRouteSmi) {
    // SCI/GPE and SMI routing exists only on Tarn-P, and only for pads the host's GPIO driver
    // does not own.
    if (DetectChipSeries() != ChipSeries3 || Config.SoftwareOwned != 0)
      return;
    if (Routing == PadRouteSciGpe) {
      EmitDebugMessage(DebugLevelInfo, "Tarn-P configure GPIO to SCI/GPE. \n");
      RoutePad(Port, Pad, PadGpeRoutingBase, PadGpeEnableBase);
    } else {
      EmitDebugMessage(DebugLevelInfo, "Tarn-P configure GPIO to SMI. \n");
      RoutePad(Port, Pad, PadSmiRoutingBase, PadSmiEnableBase);
    }
  } else if (Routing == PadRouteDirectIrq) {
    EmitDebugMessage(DebugLevelInfo, "Tarn-P configure GPIO to direct IRQ. \n");
    if (Config.DirectIrq == 1)
      ConfigureDirectIrq(Port, static_cast<UINT16>(Pad));
  }
}

VOID ConfigureUartPads() {
  for (const UartPadRow &Row : UartPadTable) {
    PadConfig Config = {(static_cast<UINT32>(Row.Port) << 16) | Row.Offset, Row.PadDw0, Row.PadDw1,
                        Row.SoftwareOwned, Row.DirectIrq};
    ConfigurePad(Config);
  }
}

VOID ConfigureDirectIrq(UINT8 Port, UINT16 Pad) {
  if (Port != SidebandPortGpioCommunity4 && Port != SidebandPortGpioCommunity5)
    return;
  if (DirectIrqRefused(Port, Pad, DetectChipSeries())) {
    EmitDebugMessage(DebugLevelError, "\tThere is configuration error on direct IRQ! index: %d\n",
                     Pad);
    return;
  }
  UINT32 Slot = Pad % DirectIrqSlots;
  UINT64 Group = Pad / DirectIrqSlots;
  UINT64 Select = static_cast<UINT64>(SidebandRead32(Port, PadDirectIrqSelectHigh)) << 32;
  Select |= SidebandRead32(Port, PadDirectIrqSelectLow);
  Select |= Group << (DirectIrqSlotBits * Slot);
  SidebandWrite32(Port, PadDirectIrqSelectLow, static_cast<UINT32>(Select));
  SidebandWrite32(Port, PadDirectIrqSelectHigh, static_cast<UINT32>(Select >> 32));
  SidebandWrite32(Port, PadDirectIrqEnable,
                  SidebandRead32(Port, PadDirectIrqEnable) | (1u << Slot));
}
