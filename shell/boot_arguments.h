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

// What keeps an arguments file from being the one command line it must hold.
enum class ArgumentsFileFault {
  None,
  Unreadable,      // it is there, but cannot be read
  TooLong,         // more than MaxBootArgumentsBytes
  HoldsNul,        // a NUL character
  NotText,         // neither UTF-8 nor UCS-2 text of printable characters
  MoreThanOneLine, // words after its first line end
};

// An argument vector as a shell would hand it over: Argv[0] names the image, Argv[Argc] is null;
// the words and the vector live in one pool buffer, released with the arguments. An arguments
// file that cannot be taken gives its Fault, its name, and (Argc above 1) the words of its first
// line when that line can be read, so that the refusal can be logged where they say.
struct BootArguments {
  UINTN Argc = 0;
  CHAR16 **Argv = nullptr;
  ArgumentsFileFault Fault = ArgumentsFileFault::None;
  const CHAR16 *File = nullptr;
  PoolPtr<UINT8> Pool;
};

// Where the command line came from; Refused: an arguments file that is there but cannot be taken.
enum class BootArgumentSource { None, LoadOptions, ArgumentsFile, Refused };

// The load options when they are UCS-2 text (printable ASCII, up to a NUL or their end; a boot
// manager's binary tag is none), else the arguments file (UTF-8, or UCS-2 after a byte-order
// mark: one line of words, which may hold any printable character); None when there is neither,
// or the vector cannot be had.
BootArgumentSource ReadBootArguments(EFI_HANDLE ImageHandle, BootArguments *Arguments);

// Splits Text in place into at most MaxWords words as the shell splits a command line: spaces
// and tabs separate words, double quotes group (and are dropped), '^' takes the next character as
// it is. Returns the number of words, each NUL-terminated in Text.
UINTN SplitCommandLine(CHAR16 *Text, CHAR16 **Words, UINTN MaxWords);
// The one command line that splits back into Words (Count of them), as the arguments file
// carries it: a word that is empty or holds a space, a tab, a '"' or a '^' in double quotes, '"'
// and '^' taken as they are after a '^'. Into Line (room for MaxChars and a NUL); false when it
// does not fit.
bool JoinCommandLine(const CHAR16 *const *Words, UINTN Count, CHAR16 *Line, UINTN MaxChars);
// Whether the load options (Size bytes) are UCS-2 text; *Length is then their characters before
// any NUL.
bool LoadOptionsAreText(const VOID *Options, UINT32 Size, UINTN *Length);
// The arguments file's bytes (Size of them) as the one line of words it must hold, into Text
// (room for MaxChars characters and a NUL): its first line, and a fault when the file is more, or
// other, than that line. Text holds the first line whenever that line itself is text.
ArgumentsFileFault ArgumentsFileLine(const UINT8 *Bytes, UINTN Size, CHAR16 *Text, UINTN MaxChars);
