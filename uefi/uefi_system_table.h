// EFI_SYSTEM_TABLE, EFI_BOOT_SERVICES (every slot, in the order the firmware lays them out) and
// the configuration table. Slots the tool never calls keep a plain pointer type so that the
// offsets of the ones it does call stay right.
#pragma once

#include "uefi/uefi_base.h"

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL;
struct EFI_DEVICE_PATH_PROTOCOL;

struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24, "EFI_TABLE_HEADER layout");

constexpr UINT64 EFI_SYSTEM_TABLE_SIGNATURE = 0x5453595320494249ULL;  // "IBI SYST"
constexpr UINT64 EFI_BOOT_SERVICES_SIGNATURE = 0x56524553544f4f42ULL; // "BOOTSERV"

typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_POOL)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FREE_POOL)(VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_HANDLE_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_HANDLE)(EFI_LOCATE_SEARCH_TYPE SearchType,
                                              const EFI_GUID *Protocol, VOID *SearchKey,
                                              UINTN *BufferSize, EFI_HANDLE *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE *Handle,
                                                           const EFI_GUID *Protocol,
                                                           EFI_INTERFACE_TYPE InterfaceType,
                                                           VOID *Interface);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_CONFIGURATION_TABLE)(const EFI_GUID *Guid, VOID *Table);
typedef EFI_STATUS(EFIAPI *EFI_OPEN_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                              VOID **Interface, EFI_HANDLE AgentHandle,
                                              EFI_HANDLE ControllerHandle, UINT32 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_CLOSE_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                               EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_HANDLE_BUFFER)(EFI_LOCATE_SEARCH_TYPE SearchType,
                                                     const EFI_GUID *Protocol, VOID *SearchKey,
                                                     UINTN *NoHandles, EFI_HANDLE **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_PROTOCOL)(const EFI_GUID *Protocol, VOID *Registration,
                                                VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_CALCULATE_CRC32)(const VOID *Data, UINTN DataSize, UINT32 *Crc32);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_PAGES)(UINT32 Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                               EFI_PHYSICAL_ADDRESS *Memory);
typedef EFI_STATUS(EFIAPI *EFI_FREE_PAGES)(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
typedef EFI_STATUS(EFIAPI *EFI_STALL)(UINTN Microseconds);

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  // Task priority
  VOID *RaiseTPL;
  VOID *RestoreTPL;
  // Memory
  EFI_ALLOCATE_PAGES AllocatePages;
  EFI_FREE_PAGES FreePages;
  VOID *GetMemoryMap;
  EFI_ALLOCATE_POOL AllocatePool;
  EFI_FREE_POOL FreePool;
  // Events and timers
  VOID *CreateEvent;
  VOID *SetTimer;
  VOID *WaitForEvent;
  VOID *SignalEvent;
  VOID *CloseEvent;
  VOID *CheckEvent;
  // Protocol handlers
  EFI_INSTALL_PROTOCOL_INTERFACE InstallProtocolInterface;
  VOID *ReinstallProtocolInterface;
  VOID *UninstallProtocolInterface;
  EFI_HANDLE_PROTOCOL HandleProtocol;
  VOID *Reserved;
  VOID *RegisterProtocolNotify;
  EFI_LOCATE_HANDLE LocateHandle;
  VOID *LocateDevicePath;
  EFI_INSTALL_CONFIGURATION_TABLE InstallConfigurationTable;
  // Images
  VOID *LoadImage;
  VOID *StartImage;
  VOID *Exit;
  VOID *UnloadImage;
  VOID *ExitBootServices;
  // Miscellaneous
  VOID *GetNextMonotonicCount;
  EFI_STALL Stall;
  VOID *SetWatchdogTimer;
  // Driver support
  VOID *ConnectController;
  VOID *DisconnectController;
  // Open and close protocol
  EFI_OPEN_PROTOCOL OpenProtocol;
  EFI_CLOSE_PROTOCOL CloseProtocol;
  VOID *OpenProtocolInformation;
  // Library
  VOID *ProtocolsPerHandle;
  EFI_LOCATE_HANDLE_BUFFER LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL LocateProtocol;
  VOID *InstallMultipleProtocolInterfaces;
  VOID *UninstallMultipleProtocolInterfaces;
  // CRC
  EFI_CALCULATE_CRC32 CalculateCrc32;
  // Memory utilities
  VOID *CopyMem;
  VOID *SetMem;
  VOID *CreateEventEx;
};
static_assert(sizeof(EFI_BOOT_SERVICES) == 376, "EFI_BOOT_SERVICES has 44 slots after its header");
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePages) == 40, "AllocatePages slot");
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64, "AllocatePool slot");
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72, "FreePool slot");
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128, "Install slot");
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 152, "HandleProtocol slot");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandle) == 176, "LocateHandle slot");
static_assert(offsetof(EFI_BOOT_SERVICES, InstallConfigurationTable) == 192, "Config slot");
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 248, "Stall slot");
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == 280, "OpenProtocol slot");
static_assert(offsetof(EFI_BOOT_SERVICES, CloseProtocol) == 288, "CloseProtocol slot");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer) == 312, "LocateHandleBuffer slot");
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320, "LocateProtocol slot");
static_assert(offsetof(EFI_BOOT_SERVICES, CalculateCrc32) == 344, "CalculateCrc32 slot");

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  VOID *VendorTable;
};
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24, "EFI_CONFIGURATION_TABLE layout");
static_assert(offsetof(EFI_CONFIGURATION_TABLE, VendorTable) == 16, "VendorTable offset");

// The runtime services: the tool calls only ResetSystem (a run started by the boot manager may end
// by resetting or powering off the board); the variable services are typed for the test
// harness's images, the other slots keep their places.
enum EFI_RESET_TYPE : UINT32 { EfiResetCold = 0, EfiResetWarm = 1, EfiResetShutdown = 2 };
typedef EFI_STATUS(EFIAPI *EFI_GET_VARIABLE)(const CHAR16 *Name, const EFI_GUID *Vendor,
                                             UINT32 *Attributes, UINTN *Size, VOID *Data);
typedef EFI_STATUS(EFIAPI *EFI_SET_VARIABLE)(const CHAR16 *Name, const EFI_GUID *Vendor,
                                             UINT32 Attributes, UINTN Size, const VOID *Data);
typedef VOID(EFIAPI *EFI_RESET_SYSTEM)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus,
                                       UINTN DataSize, VOID *ResetData);

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  VOID *GetTime;
  VOID *SetTime;
  VOID *GetWakeupTime;
  VOID *SetWakeupTime;
  VOID *SetVirtualAddressMap;
  VOID *ConvertPointer;
  EFI_GET_VARIABLE GetVariable;
  VOID *GetNextVariableName;
  EFI_SET_VARIABLE SetVariable;
  VOID *GetNextHighMonotonicCount;
  EFI_RESET_SYSTEM ResetSystem;
  VOID *UpdateCapsule;
  VOID *QueryCapsuleCapabilities;
  VOID *QueryVariableInfo;
};
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 136, "EFI_RUNTIME_SERVICES has 14 slots");
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72, "GetVariable slot");
static_assert(offsetof(EFI_RUNTIME_SERVICES, SetVariable) == 88, "SetVariable slot");
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 104, "ResetSystem slot");

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120, "EFI_SYSTEM_TABLE layout");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConIn) == 48, "ConIn offset");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64, "ConOut offset");
static_assert(offsetof(EFI_SYSTEM_TABLE, StdErr) == 80, "StdErr offset");
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88, "RuntimeServices offset");
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96, "BootServices offset");
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == 104, "entry count offset");
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112, "table offset");

// The PI hand-off block list, published in the configuration table.
constexpr EFI_GUID EfiHobListGuid = {
    0x7739F24C, 0x93D7, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
