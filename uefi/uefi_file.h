// EFI_FILE_PROTOCOL and EFI_FILE_INFO.
#pragma once

#include "uefi/uefi_base.h"

struct EFI_FILE_PROTOCOL;

// Open modes of EFI_FILE_PROTOCOL.Open and of the shell's OpenFileByName: read, read and write,
// or read, write and create when absent.
constexpr UINT64 EFI_FILE_MODE_READ = 0x0000000000000001ULL;
constexpr UINT64 EFI_FILE_MODE_WRITE = 0x0000000000000002ULL;
constexpr UINT64 EFI_FILE_MODE_CREATE = 0x8000000000000000ULL;
// SetPosition to this value moves to the end of the file.
constexpr UINT64 EfiFilePositionEnd = 0xFFFFFFFFFFFFFFFFULL;

typedef EFI_STATUS(EFIAPI *EFI_FILE_OPEN)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle,
                                          const CHAR16 *FileName, UINT64 OpenMode,
                                          UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_DELETE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_READ)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_WRITE)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize,
                                           VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_INFO)(EFI_FILE_PROTOCOL *This,
                                              const EFI_GUID *InformationType, UINTN *BufferSize,
                                              VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_INFO)(EFI_FILE_PROTOCOL *This,
                                              const EFI_GUID *InformationType, UINTN BufferSize,
                                              VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_FLUSH)(EFI_FILE_PROTOCOL *This);

struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  EFI_FILE_DELETE Delete;
  EFI_FILE_READ Read;
  EFI_FILE_WRITE Write;
  EFI_FILE_GET_POSITION GetPosition;
  EFI_FILE_SET_POSITION SetPosition;
  EFI_FILE_GET_INFO GetInfo;
  EFI_FILE_SET_INFO SetInfo;
  EFI_FILE_FLUSH Flush;
  // Revision 2 asynchronous members, unused here.
  VOID *OpenEx;
  VOID *ReadEx;
  VOID *WriteEx;
  VOID *FlushEx;
};
static_assert(sizeof(EFI_FILE_PROTOCOL) == 120, "EFI_FILE_PROTOCOL layout");
static_assert(offsetof(EFI_FILE_PROTOCOL, Open) == 8, "Open slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, Close) == 16, "Close slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, Delete) == 24, "Delete slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, Write) == 40, "Write slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, SetPosition) == 56, "SetPosition slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, Read) == 32, "Read slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, GetInfo) == 64, "GetInfo slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, SetInfo) == 72, "SetInfo slot");
static_assert(offsetof(EFI_FILE_PROTOCOL, Flush) == 80, "Flush slot");

struct EFI_FILE_INFO {
  UINT64 Size; // of the whole record, file name included
  UINT64 FileSize;
  UINT64 PhysicalSize;
  EFI_TIME CreateTime;
  EFI_TIME LastAccessTime;
  EFI_TIME ModificationTime;
  UINT64 Attribute;
  CHAR16 FileName[1];
};
static_assert(offsetof(EFI_FILE_INFO, FileSize) == 8, "FileSize offset");
static_assert(offsetof(EFI_FILE_INFO, CreateTime) == 24, "CreateTime offset");
static_assert(offsetof(EFI_FILE_INFO, Attribute) == 72, "Attribute offset");
static_assert(offsetof(EFI_FILE_INFO, FileName) == 80, "FileName offset");

constexpr EFI_GUID EfiFileInfoGuid = {
    0x09576E92, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// What a volume reports of itself through any file handle on it (GetInfo with
// EfiFileSystemInfoGuid): its size, the bytes still free, and the unit it allocates in.
struct EFI_FILE_SYSTEM_INFO {
  UINT64 Size; // of the whole record, label included
  BOOLEAN ReadOnly;
  UINT64 VolumeSize;
  UINT64 FreeSpace;
  UINT32 BlockSize;
  CHAR16 VolumeLabel[1];
};
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, ReadOnly) == 8, "ReadOnly offset");
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, VolumeSize) == 16, "VolumeSize offset");
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, FreeSpace) == 24, "FreeSpace offset");
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, BlockSize) == 32, "BlockSize offset");
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel) == 36, "VolumeLabel offset");

constexpr EFI_GUID EfiFileSystemInfoGuid = {
    0x09576E93, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
