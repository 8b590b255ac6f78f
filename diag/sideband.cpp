// Sideband register access and chip-series detection.
#include "diag/sideband.h"

#include "diag/debug_message.h"
#include "diag/hardware_access.h"
#include "diag/platform_constants.h"

namespace {

// The sideband bridge: bus 0, device 13, function 0.
constexpr UINT32 BridgeDevice = 13;
constexpr UINT32 BridgeFunction = 0;
constexpr UINT32 BridgeNoWindow = PciPageMask; // an all-ones base register
// Only the top 8 bits of the bridge's base select its 16 MiB window.
constexpr UINT32 BridgeWindowMask = 0xFF000000;

// Message registers in the bridge's configuration space.
constexpr UINT32 BridgeMessageTarget = 0xD0;
constexpr UINT32 BridgeMessageData = 0xD4;
constexpr UINT32 BridgeMessageCommand = 0xD8;
constexpr UINT32 BridgeMessageAttributes = 0xDA;
constexpr UINT32 BridgeMessageExtended = 0xDC;
constexpr UINT16 BridgeCommandRead = 0x0601;
constexpr UINT16 BridgeCommandWrite = 0x0701;
constexpr UINT16 BridgeAttributes = 0xF000;
constexpr UINT32 BridgeTargetPortShift = 24;

constexpr UINT16 SidebandRegisterAlign = 4;
constexpr UINT32 SidebandPortShift = 16;

bool Aligned(UINT16 Offset) {
  return Offset % SidebandRegisterAlign == 0;
}

UINT64 BridgeConfig() {
  return EcamAddress(0, BridgeDevice, BridgeFunction);
}

// The register's address in the bridge's window, or 0 when the window cannot be used.
UINT64 BridgeWindowAddress(UINT8 Port, UINT16 Offset) {
  UINT32 Base = MmioRead32(BridgeConfig() + PciBar0Register);
  UINT16 Command = MmioRead16(BridgeConfig() + PciCommandRegister);
  UINT32 Page = Base & PciPageMask;
  if (Page == 0 || Page == BridgeNoWindow || (Command & PciCommandMemorySpace) == 0 ||
      !Aligned(Offset))
    return 0;
  return (Base & BridgeWindowMask) | (static_cast<UINT32>(Port) << SidebandPortShift) | Offset;
}

UINT32 BridgeTarget(UINT8 Port, UINT16 Offset) {
  return (static_cast<UINT32>(Port) << BridgeTargetPortShift) | Offset;
}

UINT64 FixedWindowAddress(UINT8 Port, UINT16 Offset) {
  return FixedSidebandWindow | (static_cast<UINT64>(Port) << SidebandPortShift) | Offset;
}

} // namespace

UINT32 SidebandRead32(UINT8 Port, UINT16 Offset) {
  if (UINT64 Address = BridgeWindowAddress(Port, Offset))
    return MmioRead32(Address);
  // Window hidden or not set up: ask the bridge by message. The bridge answers at once; the
  // result is taken without waiting for a completion flag.
  UINT64 Config = BridgeConfig();
  MmioWrite32(Config + BridgeMessageExtended, 0);
  MmioWrite32(Config + BridgeMessageData, 0);
  MmioWrite32(Config + BridgeMessageTarget, BridgeTarget(Port, Offset));
  MmioWrite16(Config + BridgeMessageAttributes, BridgeAttributes);
  MmioWrite16(Config + BridgeMessageCommand, BridgeCommandRead);
  return MmioRead32(Config + BridgeMessageData);
}

VOID SidebandWrite32(UINT8 Port, UINT16 Offset, UINT32 Value) {
  if (UINT64 Address = BridgeWindowAddress(Port, Offset)) {
    MmioWrite32(Address, Value);
    return;
  }
  UINT64 Config = BridgeConfig();
  MmioWrite32(Config + BridgeMessageTarget, BridgeTarget(Port, Offset));
  MmioWrite16(Config + BridgeMessageAttributes, BridgeAttributes);
  MmioWrite32(Config + BridgeMessageExtended, 0);
  MmioWrite32(Config + BridgeMessageData, Value);
  MmioWrite16(Config + BridgeMessageCommand, BridgeCommandWrite);
}

EFI_STATUS PchPcrRead(UINT8 Port, UINT16 Offset, UINT32 *Value) {
  if (!Aligned(Offset)) {
    EmitDebugMessage(DebugLevelError, "PchPcrRead error. Invalid Offset: %x Size: %x", Offset,
                     static_cast<UINT32>(sizeof(UINT32)));
    return EFI_INVALID_PARAMETER;
  }
  if (Value == nullptr)
    return EFI_INVALID_PARAMETER;
  *Value = MmioRead32(FixedWindowAddress(Port, Offset));
  return EFI_SUCCESS;
}

EFI_STATUS PchPcrWrite(UINT8 Port, UINT16 Offset, UINT32 Value) {
  if (!Aligned(Offset)) {
    EmitDebugMessage(DebugLevelError, "PchPcrWrite error. Invalid Offset: %x Size: %x", Offset,
                     static_cast<UINT32>(sizeof(UINT32)));
    return EFI_INVALID_PARAMETER;
  }
  MmioWrite32(FixedWindowAddress(Port, Offset), Value);
  return EFI_SUCCESS;
}

VOID PcrReadModifyWrite(UINT8 Port, UINT16 Offset, UINT32 AndMask, UINT32 OrValue) {
  UINT32 Value;
  if (EFI_ERROR(PchPcrRead(Port, Offset, &Value)))
    return;
  PchPcrWrite(Port, Offset, (Value & AndMask) | OrValue);
}

UINT8 DetectChipSeries() {
  UINT8 Series = ReadChipSeries();
  if (Series != ChipSeriesUnsupported)
    return Series;
  EmitDebugMessage(DebugLevelError, "Unsupported Tarn Series.\n");
  return ChipSeriesUnknown;
}
