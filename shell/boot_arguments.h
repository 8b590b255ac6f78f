// The command line of an image started without a shell, by the firmware's boot manager: a boot
// entry's optional data, which the boot manager hands over as the image's load options, or else
// the arguments file beside the image on its own volume.
#pragma once

#include "shell/memory.h"

// The name of the arguments file, in the folder of the image (for a stick's default boot image,
// \EFI\BOOT\kestrel.args).
constexpr const CHAR16 *BootArgumentsFileName = u"kestrel.args";
// Bounds: the file's bytes, and the words of one command line.
constexpr UINTN MaxBootArgumentsBytes = 4096;
constexpr UINTN MaxBootWords = 64;

// An argument vector as a shell would hand it over: Argv[0] names the image, Argv[Argc] is null;
// the words and the vector live in one pool buffer, released with the arguments.
struct BootArguments {
  UINTN Argc = 0;
  CHAR16 **Argv = nullptr;
  PoolPtr<UINT8> Pool;
};

// Where the command line came from.
enum class BootArgumentSource { None, LoadOptions, ArgumentsFile };

// The load options when they are UCS-2 text (printable ASCII, up to a NUL or their end; a boot
// manager's binary tag is none), else the arguments file (UTF-8, or UCS-2 after a byte-order
// mark; its first line, which may hold any printable character); None when there is neither, or
// the vector cannot be had.
BootArgumentSource ReadBootArguments(EFI_HANDLE ImageHandle, BootArguments *Arguments);

// Splits Text in place into at most MaxWords words as the shell splits a command line: spaces
// and tabs separate words, double quotes group (and are dropped), '^' takes the next character as
// it is. Returns the number of words, each NUL-terminated in Text.
UINTN SplitCommandLine(CHAR16 *Text, CHAR16 **Words, UINTN MaxWords);
// Whether the load options (Size bytes) are UCS-2 text; *Length is then their characters before
// any NUL.
bool LoadOptionsAreText(const VOID *Options, UINT32 Size, UINTN *Length);
// The arguments file's bytes (Size of them) as UCS-2 text up to its first line end, into Text
// (room for MaxChars characters and a NUL); false for text that is neither UTF-8 nor UCS-2.
bool ArgumentsFileText(const UINT8 *Bytes, UINTN Size, CHAR16 *Text, UINTN MaxChars);
