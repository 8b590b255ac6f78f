#include "diag/platform_identity.h"

#include "diag/hardware_access.h"
#include "diag/platform_constants.h"

namespace {

constexpr UINT32 HostBridgeDevice = 0;
constexpr UINT32 HostBridgeFunction = 0;

} // namespace

UINT8 ReadChipSeries() {
  UINT64 Config = EcamAddress(0, HostBridgeDevice, HostBridgeFunction);
  UINT16 VendorId = MmioRead16(Config + PciVendorIdRegister);
  UINT16 DeviceId = MmioRead16(Config + PciDeviceIdRegister);
  if (VendorId != PlatformVendorId)
    return ChipSeriesUnknown;
  if (DeviceId == HostBridgeIdSeries0)
    return ChipSeries0;
  if (DeviceId == HostBridgeIdSeries1)
    return ChipSeries1;
  if (DeviceId == HostBridgeIdSeries3)
    return ChipSeries3;
  return ChipSeriesUnsupported;
}

BOOLEAN IsSupportedTarnBoard() {
  UINT64 Uart = EcamAddress(0, DebugUartPciDevice, DebugUartPciFunction);
  if (MmioRead16(Uart + PciVendorIdRegister) != PlatformVendorId)
    return 0;
  UINT8 Series = ReadChipSeries();
  return Series != ChipSeriesUnknown && Series != ChipSeriesUnsupported;
}
