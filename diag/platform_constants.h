// The PCI identities of the board that the diagnostics channel relies on, in one place. The
// defaults are placeholders for builds without a board definition; a board build passes its real
// values on the compiler command line, e.g. -DKESTREL_PLATFORM_VENDOR_ID=0x1234.
#pragma once

#include "uefi/uefi.h"

// Vendor ID of the platform's own PCI functions (serial-I/O controllers, host bridge). A function
// whose vendor ID reads anything else counts as absent. Must not be 0x0000 or 0xFFFF: those are
// what an empty bus, or a configuration window that is not decoded, reads back, and the
// diagnostics channel would then take every missing device for a present one.
#ifndef KESTREL_PLATFORM_VENDOR_ID
#define KESTREL_PLATFORM_VENDOR_ID 0x7E57
#endif

// Device IDs of the host bridge (bus 0, device 0, function 0) of the supported chip series.
#ifndef KESTREL_HOST_BRIDGE_ID_SERIES0
#define KESTREL_HOST_BRIDGE_ID_SERIES0 0x7E00
#endif
#ifndef KESTREL_HOST_BRIDGE_ID_SERIES1
#define KESTREL_HOST_BRIDGE_ID_SERIES1 0x7E01
#endif
#ifndef KESTREL_HOST_BRIDGE_ID_SERIES3
#define KESTREL_HOST_BRIDGE_ID_SERIES3 0x7E03
#endif

// Configuration offset of the 16-bit power-control register of the serial-I/O controllers, the
// debug UART among them; 0 leaves their power state alone (for a board without such a register).
#ifndef KESTREL_DEBUG_UART_POWER_CONTROL_OFFSET
#define KESTREL_DEBUG_UART_POWER_CONTROL_OFFSET 0x84
#endif

constexpr UINT16 PlatformVendorId = KESTREL_PLATFORM_VENDOR_ID;
// The debug UART's place on bus 0, where the board is recognised by the vendor ID.
constexpr UINT8 DebugUartPciDevice = 24;
constexpr UINT8 DebugUartPciFunction = 2;
constexpr UINT16 HostBridgeIdSeries0 = KESTREL_HOST_BRIDGE_ID_SERIES0;
constexpr UINT16 HostBridgeIdSeries1 = KESTREL_HOST_BRIDGE_ID_SERIES1;
constexpr UINT16 HostBridgeIdSeries3 = KESTREL_HOST_BRIDGE_ID_SERIES3;
constexpr UINT16 SerialIoPowerControlOffset = KESTREL_DEBUG_UART_POWER_CONTROL_OFFSET;

static_assert(KESTREL_PLATFORM_VENDOR_ID > 0x0000 && KESTREL_PLATFORM_VENDOR_ID < 0xFFFF,
              "an empty bus reads vendor ID 0xFFFF and an undecoded window 0x0000");
static_assert(HostBridgeIdSeries0 != HostBridgeIdSeries1 &&
                  HostBridgeIdSeries0 != HostBridgeIdSeries3 &&
                  HostBridgeIdSeries1 != HostBridgeIdSeries3,
              "each chip series needs its own host-bridge device ID");
static_assert(SerialIoPowerControlOffset < 0x100 && SerialIoPowerControlOffset % 2 == 0,
              "the power-control register is a 16-bit register reached through the port pair");
