// Base types, status codes and GUIDs of the UEFI environment, written from the public UEFI
// definitions. Every firmware structure the tool touches is pinned here or beside its protocol.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The firmware calling convention on x86-64 is the PE/COFF one (ms_abi). On the image target it
// is the default; on the host the hosted firmware is entered through the same convention, so
// the product code cannot tell the two apart.
#define EFIAPI __attribute__((ms_abi))

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;
typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINT64 EFI_LBA;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;

static_assert(sizeof(UINTN) == sizeof(VOID *), "UINTN must be pointer-sized on x86-64");
static_assert(sizeof(CHAR16) == 2, "CHAR16 is one UCS-2 code unit");

// Status codes: an error has the top bit set; warnings are small positive values.
constexpr EFI_STATUS EfiErrorBit = 0x8000000000000000ULL;
constexpr EFI_STATUS EfiError(UINTN Code) { return EfiErrorBit | Code; }
constexpr bool EFI_ERROR(EFI_STATUS Status) { return (Status & EfiErrorBit) != 0; }

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_LOAD_ERROR = EfiError(1);
constexpr EFI_STATUS EFI_INVALID_PARAMETER = EfiError(2);
constexpr EFI_STATUS EFI_UNSUPPORTED = EfiError(3);
constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EfiError(4);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EfiError(5);
constexpr EFI_STATUS EFI_NOT_READY = EfiError(6);
constexpr EFI_STATUS EFI_DEVICE_ERROR = EfiError(7);
constexpr EFI_STATUS EFI_WRITE_PROTECTED = EfiError(8);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EfiError(9);
constexpr EFI_STATUS EFI_VOLUME_CORRUPTED = EfiError(10);
constexpr EFI_STATUS EFI_VOLUME_FULL = EfiError(11);
constexpr EFI_STATUS EFI_NO_MEDIA = EfiError(12);
constexpr EFI_STATUS EFI_MEDIA_CHANGED = EfiError(13);
constexpr EFI_STATUS EFI_NOT_FOUND = EfiError(14);
constexpr EFI_STATUS EFI_ACCESS_DENIED = EfiError(15);
constexpr EFI_STATUS EFI_TIMEOUT = EfiError(18);
constexpr EFI_STATUS EFI_NOT_STARTED = EfiError(19);
constexpr EFI_STATUS EFI_ALREADY_STARTED = EfiError(20);
constexpr EFI_STATUS EFI_ABORTED = EfiError(21);
constexpr EFI_STATUS EFI_SECURITY_VIOLATION = EfiError(26);
constexpr EFI_STATUS EFI_CRC_ERROR = EfiError(27);
constexpr EFI_STATUS EFI_END_OF_FILE = EfiError(31);

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID layout");
static_assert(offsetof(EFI_GUID, Data2) == 4 && offsetof(EFI_GUID, Data3) == 6 &&
                  offsetof(EFI_GUID, Data4) == 8,
              "EFI_GUID field offsets");

// Byte-wise comparison of two GUIDs; the firmware stores them unaligned inside HOBs and
// protocol records, so no wider loads are used.
inline bool GuidsEqual(const EFI_GUID *A, const EFI_GUID *B) {
  const UINT8 *X = reinterpret_cast<const UINT8 *>(A);
  const UINT8 *Y = reinterpret_cast<const UINT8 *>(B);
  for (UINTN I = 0; I < sizeof(EFI_GUID); I++) {
    if (X[I] != Y[I])
      return false;
  }
  return true;
}

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME layout");
static_assert(offsetof(EFI_TIME, Month) == 2 && offsetof(EFI_TIME, Day) == 3 &&
                  offsetof(EFI_TIME, Hour) == 4 && offsetof(EFI_TIME, Minute) == 5 &&
                  offsetof(EFI_TIME, Nanosecond) == 8 && offsetof(EFI_TIME, TimeZone) == 12,
              "EFI_TIME field offsets");

enum EFI_MEMORY_TYPE : UINT32 {
  EfiReservedMemoryType = 0,
  EfiLoaderCode = 1,
  EfiLoaderData = 2,
  EfiBootServicesCode = 3,
  EfiBootServicesData = 4,
};
static_assert(sizeof(EFI_MEMORY_TYPE) == 4, "EFI_MEMORY_TYPE is a 32-bit enumeration");

enum EFI_LOCATE_SEARCH_TYPE : UINT32 {
  AllHandles = 0,
  ByRegisterNotify = 1,
  ByProtocol = 2,
};

enum EFI_INTERFACE_TYPE : UINT32 { EFI_NATIVE_INTERFACE = 0 };

constexpr UINT32 EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL = 0x00000001;
constexpr UINT32 EFI_OPEN_PROTOCOL_GET_PROTOCOL = 0x00000002;
