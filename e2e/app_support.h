// What SimBoard.efi, Fixture.efi and Launcher.efi share: console lines by the tool's own format
// engine, UCS-2 words, the image's own volume and a small file on it, handle walks and tables.
#pragma once

#include "shell/format.h"
#include "uefi/uefi.h"

constexpr UINTN MessageChars = 240;

// A line of text (for the console or a result file) formatted piece by piece.
struct TextLine {
  CHAR16 Text[MessageChars];
  UINTN Length = 0;
  template <typename... T> TextLine &Add(UcsFormat<T...> Format, const T &...Values) {
    Length +=
        FormatWithFlags(Text + Length, MessageChars - Length, FormatWideOutput, Format, Values...);
    return *this;
  }
};

// One line on the console: Format ends with "\n", which the engine writes as CR LF.
template <typename... T>
void Say(EFI_SYSTEM_TABLE *SystemTable, UcsFormat<T...> Format, const T &...Values) {
  SystemTable->ConOut->OutputString(SystemTable->ConOut, TextLine().Add(Format, Values...).Text);
}

namespace e2e {

// True when Text starts with Prefix; *Rest is then what follows it.
inline bool StartsWith(const CHAR16 *Text, const CHAR16 *Prefix, const CHAR16 **Rest) {
  for (; *Prefix != u'\0'; Prefix++, Text++) {
    if (*Text != *Prefix)
      return false;
  }
  *Rest = Text;
  return true;
}

inline bool SameText(const CHAR16 *Text, const CHAR16 *Word) {
  const CHAR16 *Rest = nullptr;
  return StartsWith(Text, Word, &Rest) && *Rest == u'\0';
}

// The device (a file system) an image was loaded from, and its root folder.
inline EFI_STATUS OpenImageVolume(EFI_BOOT_SERVICES *BS, EFI_HANDLE Image, EFI_HANDLE *Device,
                                  EFI_FILE_PROTOCOL **Root) {
  VOID *Interface = nullptr;
  EFI_STATUS Status = BS->HandleProtocol(Image, &EfiLoadedImageProtocolGuid, &Interface);
  if (EFI_ERROR(Status))
    return Status;
  *Device = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface)->DeviceHandle;
  Status = BS->HandleProtocol(*Device, &EfiSimpleFileSystemProtocolGuid, &Interface);
  if (EFI_ERROR(Status))
    return Status;
  auto *Volume = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *>(Interface);
  return Volume->OpenVolume(Volume, Root);
}

// Reads the file Name into Buffer (room for Max + 1 bytes): one byte more than allowed tells an
// oversized file (EFI_BAD_BUFFER_SIZE) from one that just fits.
inline EFI_STATUS ReadWholeFile(EFI_FILE_PROTOCOL *Root, const CHAR16 *Name, VOID *Buffer,
                                UINTN Max, UINTN *Size) {
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = Root->Open(Root, &File, Name, EFI_FILE_MODE_READ, 0);
  if (EFI_ERROR(Status))
    return Status;
  *Size = Max + 1;
  Status = File->Read(File, Size, Buffer);
  File->Close(File);
  return !EFI_ERROR(Status) && *Size > Max ? EFI_BAD_BUFFER_SIZE : Status;
}

// Calls Visit(Handle, Interface) for every handle carrying Protocol, in the firmware's order,
// until it returns true.
template <typename Visitor>
void ForEachHandle(EFI_BOOT_SERVICES *BS, const EFI_GUID &Protocol, Visitor Visit) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(BS->LocateHandleBuffer(ByProtocol, &Protocol, nullptr, &Count, &Handles)))
    return;
  for (UINTN I = 0; I < Count; I++) {
    VOID *Interface = nullptr;
    if (!EFI_ERROR(BS->HandleProtocol(Handles[I], &Protocol, &Interface)) &&
        Visit(Handles[I], Interface))
      break;
  }
  BS->FreePool(Handles);
}

inline VOID *ConfigurationTable(const EFI_SYSTEM_TABLE *ST, const EFI_GUID &Guid) {
  for (UINTN I = 0; I < ST->NumberOfTableEntries; I++) {
    if (GuidsEqual(&ST->ConfigurationTable[I].VendorGuid, &Guid))
      return ST->ConfigurationTable[I].VendorTable;
  }
  return nullptr;
}

} // namespace e2e
