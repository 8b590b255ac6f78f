// The volume an image was loaded from: EFI_LOADED_IMAGE_PROTOCOL on the image handle names the
// device, whose EFI_SIMPLE_FILE_SYSTEM_PROTOCOL opens the root folder of its file system.
#pragma once

#include "uefi/uefi_base.h"
#include "uefi/uefi_device_path.h"
#include "uefi/uefi_file.h"
#include "uefi/uefi_system_table.h"

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME)(
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME OpenVolume;
};
static_assert(sizeof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL) == 16, "simple file system layout");
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8, "OpenVolume slot");

typedef EFI_STATUS(EFIAPI *EFI_IMAGE_UNLOAD)(EFI_HANDLE ImageHandle);

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle; // the device the image was loaded from
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_IMAGE_UNLOAD Unload;
};
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96, "loaded image layout");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, SystemTable) == 16, "SystemTable offset");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24, "DeviceHandle offset");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptionsSize) == 48, "load options offset");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageSize) == 72, "ImageSize offset");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, Unload) == 88, "Unload offset");

constexpr EFI_GUID EfiSimpleFileSystemProtocolGuid = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
constexpr EFI_GUID EfiLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
