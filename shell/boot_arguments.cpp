#include "shell/boot_arguments.h"

#include "shell/byte_order.h"
#include "shell/memory.h"
#include "shell/platform_context.h"
#include "shell/shell_files.h"

namespace {

// What the vector's first entry names: the tool itself, as a shell would.
CHAR16 ImageName[] = u"Kestrel.efi";
constexpr UINTN MaxFolderChars = 512;
// A device path is walked no further than this many nodes.
constexpr UINTN MaxPathNodes = 64;
constexpr UINT8 MediaFilePathSubType = 4;

bool PrintableAscii(CHAR16 C) {
  return C == u'\t' || (C >= 0x20 && C <= 0x7E);
}

bool Printable(CHAR16 C) {
  return PrintableAscii(C) || (C >= 0xA0 && (C < 0xD800 || C > 0xDFFF));
}

bool Separator(CHAR16 C) {
  return C == u' ' || C == u'\t';
}

// Whether Word ends in ".efi", as an image's own name does when a loader passes it first.
bool NamesAnImage(const CHAR16 *Word) {
  UINTN Length = WideStringLength(Word);
  const CHAR16 Suffix[] = u".efi";
  if (Length < 4)
    return false;
  for (UINTN I = 0; I < 4; I++) {
    if (LowerAscii(Word[Length - 4 + I]) != Suffix[I])
      return false;
  }
  return true;
}

// The folder of the image's file, from the file path nodes of its device path, with its closing
// '\' ("\EFI\BOOT\"); the root when the path names none. Folder holds MaxFolderChars + 1.
VOID ImageFolder(const EFI_DEVICE_PATH_PROTOCOL *Path, CHAR16 *Folder) {
  UINTN Length = 0;
  const UINT8 *Node = reinterpret_cast<const UINT8 *>(Path);
  for (UINTN Count = 0; Node != nullptr && Count < MaxPathNodes; Count++) {
    const auto *Header = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node);
    UINT16 NodeLength = DevicePathNodeLength(Header);
    if (Header->Type == END_DEVICE_PATH_TYPE || NodeLength < sizeof(EFI_DEVICE_PATH_PROTOCOL))
      break;
    if (Header->Type == MEDIA_DEVICE_PATH && Header->SubType == MediaFilePathSubType) {
      // The node's text may come without its NUL; a '\' joins it to the one before.
      const UINT8 *Text = Node + sizeof(EFI_DEVICE_PATH_PROTOCOL);
      UINTN Chars = (NodeLength - sizeof(EFI_DEVICE_PATH_PROTOCOL)) / sizeof(CHAR16);
      if (Length != 0 && Folder[Length - 1] != u'\\' && Length < MaxFolderChars)
        Folder[Length++] = u'\\';
      for (UINTN I = 0; I < Chars && Length < MaxFolderChars; I++) {
        CHAR16 C = LoadLe16(Text + 2 * I);
        if (C == 0)
          break;
        Folder[Length++] = C;
      }
    }
    Node += NodeLength;
  }
  while (Length > 0 && Folder[Length - 1] != u'\\')
    Length--;
  if (Length == 0)
    Folder[Length++] = u'\\';
  Folder[Length] = 0;
}

// The arguments file beside the image: its name (into Name, room for MaxFolderChars + 16), its
// bytes (into Bytes, room for MaxBootArgumentsBytes + 1) and its line as text. Not there: false.
bool ReadArgumentsFile(const EFI_LOADED_IMAGE_PROTOCOL *Image, CHAR16 *Name, UINT8 *Bytes,
                       CHAR16 *Text, UINTN MaxChars, ArgumentsFileFault *Fault) {
  ImageFolder(Image->FilePath, Name);
  UINTN Length = WideStringLength(Name);
  for (const CHAR16 *C = BootArgumentsFileName; *C != 0 && Length + 1 < MaxFolderChars + 16; C++)
    Name[Length++] = *C;
  Name[Length] = 0;
  EFI_FILE_PROTOCOL *Root = nullptr;
  if (EFI_ERROR(OpenVolumeOfImage(Image, &Root)))
    return false;
  EFI_FILE_PROTOCOL *File = nullptr;
  EFI_STATUS Status = Root->Open(Root, &File, Name, EFI_FILE_MODE_READ, 0);
  Root->Close(Root);
  if (EFI_ERROR(Status) || File == nullptr)
    return false;
  // One byte more than allowed tells a file that is too long from one that just fits.
  UINTN Size = MaxBootArgumentsBytes + 1;
  Status = File->Read(File, &Size, Bytes);
  File->Close(File);
  *Fault = EFI_ERROR(Status) || Size > MaxBootArgumentsBytes + 1
               ? ArgumentsFileFault::Unreadable
               : ArgumentsFileLine(Bytes, Size, Text, MaxChars);
  return true;
}

} // namespace

bool LoadOptionsAreText(const VOID *Options, UINT32 Size, UINTN *Length) {
  if (Options == nullptr || Size < sizeof(CHAR16) || Size % sizeof(CHAR16) != 0)
    return false;
  const UINT8 *Bytes = static_cast<const UINT8 *>(Options);
  UINTN Chars = Size / sizeof(CHAR16);
  *Length = 0;
  for (; *Length < Chars; ++*Length) {
    CHAR16 C = LoadLe16(Bytes + 2 * *Length);
    if (C == 0)
      break;
    // A boot manager's binary tag (a GUID, say) reads as characters beyond ASCII: the options'
    // text is taken to be ASCII, and a command line with other characters goes in the file.
    if (!PrintableAscii(C))
      return false;
  }
  return *Length != 0;
}

ArgumentsFileFault ArgumentsFileLine(const UINT8 *Bytes, UINTN Size, CHAR16 *Text, UINTN MaxChars) {
  UINTN Chars = 0;
  UINTN At = 0;
  Text[0] = 0;
  const bool Wide = Size >= 2 && Bytes[0] == 0xFF && Bytes[1] == 0xFE;
  if (Wide)
    At = 2;
  else if (Size >= 3 && Bytes[0] == 0xEF && Bytes[1] == 0xBB && Bytes[2] == 0xBF)
    At = 3;
  // The first line is the command line; after its end only line ends and blanks may follow.
  bool LineEnded = false;
  ArgumentsFileFault Fault =
      Size > MaxBootArgumentsBytes ? ArgumentsFileFault::TooLong : ArgumentsFileFault::None;
  const UINTN End = Size > MaxBootArgumentsBytes ? MaxBootArgumentsBytes : Size;
  while (At < End) {
    CHAR16 C = 0;
    if (Wide) {
      if (At + 1 >= End)
        return Fault != ArgumentsFileFault::None ? Fault : ArgumentsFileFault::NotText;
      C = LoadLe16(Bytes + At);
      At += 2;
    } else if (!DecodeUtf8(Bytes, End, &At, &C)) {
      return Fault != ArgumentsFileFault::None ? Fault : ArgumentsFileFault::NotText;
    }
    if (C == 0)
      return Fault != ArgumentsFileFault::None ? Fault : ArgumentsFileFault::HoldsNul;
    if (C == u'\r' || C == u'\n') {
      LineEnded = true;
      continue;
    }
    if (!Printable(C))
      return Fault != ArgumentsFileFault::None ? Fault : ArgumentsFileFault::NotText;
    if (LineEnded) {
      if (!Separator(C) && Fault == ArgumentsFileFault::None)
        Fault = ArgumentsFileFault::MoreThanOneLine;
      continue;
    }
    if (Chars >= MaxChars)
      return ArgumentsFileFault::TooLong;
    Text[Chars++] = C;
    Text[Chars] = 0;
  }
  return Fault;
}

UINTN SplitCommandLine(CHAR16 *Text, CHAR16 **Words, UINTN MaxWords) {
  UINTN Count = 0;
  CHAR16 *Read = Text, *Write = Text;
  while (Count < MaxWords) {
    while (Separator(*Read))
      Read++;
    if (*Read == 0)
      break;
    Words[Count++] = Write;
    bool Quoted = false;
    while (*Read != 0 && (Quoted || !Separator(*Read))) {
      if (*Read == u'^' && Read[1] != 0) {
        *Write++ = Read[1];
        Read += 2;
      } else if (*Read == u'"') {
        Quoted = !Quoted;
        Read++;
      } else {
        *Write++ = *Read++;
      }
    }
    // The separator is passed before the word's end is written over what was read already.
    if (*Read != 0)
      Read++;
    *Write++ = 0;
  }
  return Count;
}

bool JoinCommandLine(const CHAR16 *const *Words, UINTN Count, CHAR16 *Line, UINTN MaxChars) {
  UINTN At = 0;
  const auto Put = [&](CHAR16 C) {
    if (At < MaxChars)
      Line[At] = C;
    At++;
  };
  for (UINTN W = 0; W < Count; W++) {
    const CHAR16 *Word = Words[W];
    bool Quote = *Word == 0;
    for (const CHAR16 *C = Word; *C != 0; C++)
      Quote = Quote || Separator(*C) || *C == u'"' || *C == u'^';
    if (W != 0)
      Put(u' ');
    if (Quote)
      Put(u'"');
    for (const CHAR16 *C = Word; *C != 0; C++) {
      if (*C == u'"' || *C == u'^')
        Put(u'^');
      Put(*C);
    }
    if (Quote)
      Put(u'"');
  }
  if (At > MaxChars)
    return false;
  Line[At] = 0;
  return true;
}

BootArgumentSource ReadBootArguments(EFI_HANDLE ImageHandle, BootArguments *Arguments) {
  EFI_LOADED_IMAGE_PROTOCOL *Image = nullptr;
  if (EFI_ERROR(PlatformContext.BootServices->HandleProtocol(
          ImageHandle, &EfiLoadedImageProtocolGuid, reinterpret_cast<VOID **>(&Image))) ||
      Image == nullptr)
    return BootArgumentSource::None;
  // One pool buffer: the vector (a word takes at least two characters, its own and a separator),
  // the text, and the file's bytes.
  constexpr UINTN MaxChars = MaxBootArgumentsBytes;
  constexpr UINTN MaxWords = MaxChars / 2 + 1;
  constexpr UINTN VectorBytes = (MaxWords + 2) * sizeof(CHAR16 *);
  constexpr UINTN TextBytes = (MaxChars + 1) * sizeof(CHAR16);
  constexpr UINTN NameBytes = (MaxFolderChars + 16) * sizeof(CHAR16);
  auto Pool = PoolPtr<UINT8>::AllocateZeroed(VectorBytes + TextBytes + NameBytes +
                                             MaxBootArgumentsBytes + 1);
  if (!Pool)
    return BootArgumentSource::None;
  auto **Argv = reinterpret_cast<CHAR16 **>(Pool.Get());
  auto *Text = reinterpret_cast<CHAR16 *>(Pool.Get() + VectorBytes);
  auto *Name = reinterpret_cast<CHAR16 *>(Pool.Get() + VectorBytes + TextBytes);
  UINT8 *Bytes = Pool.Get() + VectorBytes + TextBytes + NameBytes;
  ArgumentsFileFault Fault = ArgumentsFileFault::None;
  BootArgumentSource Source = BootArgumentSource::None;
  UINTN Length = 0;
  if (LoadOptionsAreText(Image->LoadOptions, Image->LoadOptionsSize, &Length) &&
      Length <= MaxChars) {
    const UINT8 *Options = static_cast<const UINT8 *>(Image->LoadOptions);
    for (UINTN I = 0; I < Length; I++)
      Text[I] = LoadLe16(Options + 2 * I);
    Text[Length] = 0;
    Source = BootArgumentSource::LoadOptions;
  } else if (ReadArgumentsFile(Image, Name, Bytes, Text, MaxChars, &Fault)) {
    Source = Fault == ArgumentsFileFault::None ? BootArgumentSource::ArgumentsFile
                                               : BootArgumentSource::Refused;
  } else {
    return BootArgumentSource::None;
  }
  UINTN Count = SplitCommandLine(Text, Argv + 1, MaxWords);
  // Some loaders pass the image's own name first, as a shell would in Argv[0].
  UINTN Skip = Source == BootArgumentSource::LoadOptions && Count != 0 && NamesAnImage(Argv[1]);
  for (UINTN I = 1; I + Skip <= Count; I++)
    Argv[I] = Argv[I + Skip];
  Argv[0] = ImageName;
  Argv[Count - Skip + 1] = nullptr;
  Arguments->Argc = Count - Skip + 1;
  Arguments->Argv = Argv;
  Arguments->Fault = Fault;
  Arguments->File = Source == BootArgumentSource::LoadOptions ? nullptr : Name;
  Arguments->Pool = static_cast<PoolPtr<UINT8> &&>(Pool);
  return Source;
}
