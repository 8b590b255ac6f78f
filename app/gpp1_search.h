// Where GPP1 is: the Block I/O interface on the eMMC controller's PCI device whose eMMC driver
// record gives partition 4, found afresh among every interface the firmware publishes.
#pragma once

#include "uefi/uefi.h"

// The eMMC controller sits at PCI device 28; GPP1 is partition 4 in the eMMC numbering
// (0 user area, 1-2 boot, 3 RPMB, 4-7 GPP1-GPP4).
constexpr UINT8 EmmcPciDevice = 28;
constexpr UINT64 Gpp1PartitionNumber = 4;

// The platform's eMMC driver keeps each partition's Block I/O interface inside a 136-byte
// private record of an array that belongs to the card; 96 bytes past the interface it stores a
// pointer to that array. The interface sits 48 bytes into its record.
constexpr UINTN EmmcCardPointerOffset = 96;
constexpr UINT64 EmmcInterfaceOffsetInRecord = 48;
constexpr UINT64 EmmcPartitionRecordSize = 136;

// Bound on a walk over a device path, far beyond anything a real platform publishes.
constexpr UINTN MaxDevicePathNodes = 0x400;

// GPP1's interface, or null after an "ERROR: " line (none found, or the search failed).
// Debug: the search's --debug lines.
EFI_BLOCK_IO_PROTOCOL *GetBlockIo(bool Debug = false);

// The partition number the eMMC driver's private record gives an interface.
UINT64 EmmcPartitionNumber(const EFI_BLOCK_IO_PROTOCOL *BlockIo);
// The Device field of the first PCI node of Path; false when the path has none.
bool DevicePathPciDevice(const EFI_DEVICE_PATH_PROTOCOL *Path, UINT8 *Device);

// A cross-check that the card's hardware partitions pass and a partition-table entry inside the
// user area does not: the path ends soundly, and no media or BIOS boot node follows its first PCI
// node.
bool DevicePathHasNoMediaNode(const EFI_DEVICE_PATH_PROTOCOL *Path);
