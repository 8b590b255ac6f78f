// Device path nodes: the generic header, the PCI node and the end node.
#pragma once

#include "uefi/uefi_base.h"

struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2]; // little-endian, header included; unaligned in the path
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "device path node header");

constexpr UINT8 HARDWARE_DEVICE_PATH = 0x01;
constexpr UINT8 HW_PCI_DP = 0x01;
constexpr UINT8 ACPI_DEVICE_PATH = 0x02;
constexpr UINT8 ACPI_DP = 0x01;
constexpr UINT8 MESSAGING_DEVICE_PATH = 0x03;
constexpr UINT8 MSG_EMMC_DP = 0x1D;
constexpr UINT8 MEDIA_DEVICE_PATH = 0x04;
constexpr UINT8 BBS_DEVICE_PATH = 0x05;
constexpr UINT8 END_DEVICE_PATH_TYPE = 0x7F;
constexpr UINT8 END_ENTIRE_DEVICE_PATH_SUBTYPE = 0xFF;
constexpr UINT8 END_INSTANCE_DEVICE_PATH_SUBTYPE = 0x01;

struct PCI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Function;
  UINT8 Device;
};
static_assert(sizeof(PCI_DEVICE_PATH) == 6, "PCI device path node");
static_assert(offsetof(PCI_DEVICE_PATH, Function) == 4 && offsetof(PCI_DEVICE_PATH, Device) == 5,
              "PCI node: Function then Device");

struct ACPI_HID_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 HID;
  UINT32 UID;
};
static_assert(sizeof(ACPI_HID_DEVICE_PATH) == 12, "ACPI device path node");

struct EMMC_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 SlotNumber;
};
static_assert(sizeof(EMMC_DEVICE_PATH) == 5, "eMMC device path node");

inline UINT16 DevicePathNodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return static_cast<UINT16>(Node->Length[0] | (Node->Length[1] << 8));
}

constexpr EFI_GUID EfiDevicePathProtocolGuid = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
