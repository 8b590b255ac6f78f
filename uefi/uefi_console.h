// EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL: the firmware console the tool prints through; and
// EFI_SIMPLE_TEXT_INPUT_PROTOCOL, whose key strokes end the wait after a run started without a
// shell and carry the values a station types at a job's prompts.
#pragma once

#include "uefi/uefi_base.h"

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_TEXT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This,
                                            const CHAR16 *String);

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  VOID *Reset;
  EFI_TEXT_STRING OutputString;
  VOID *TestString;
  VOID *QueryMode;
  VOID *SetMode;
  VOID *SetAttribute;
  VOID *ClearScreen;
  VOID *SetCursorPosition;
  VOID *EnableCursor;
  VOID *Mode;
};
static_assert(sizeof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL) == 80, "text output protocol layout");
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8, "OutputString slot");

struct EFI_INPUT_KEY {
  UINT16 ScanCode;
  CHAR16 UnicodeChar;
};
// The key codes a line typed at a prompt is made of: Esc arrives as a scan code with no character
// (or, from some terminals, as the character itself), the rest as characters.
constexpr UINT16 SCAN_ESC = 0x17;
constexpr CHAR16 CHAR_BACKSPACE = 0x08;
constexpr CHAR16 CHAR_LINEFEED = 0x0A;
constexpr CHAR16 CHAR_CARRIAGE_RETURN = 0x0D;
static_assert(sizeof(EFI_INPUT_KEY) == 4, "EFI_INPUT_KEY layout");

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_INPUT_READ_KEY)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This,
                                               EFI_INPUT_KEY *Key);

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL {
  VOID *Reset;
  EFI_INPUT_READ_KEY ReadKeyStroke;
  VOID *WaitForKey;
};
static_assert(sizeof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL) == 24, "text input protocol layout");
static_assert(offsetof(EFI_SIMPLE_TEXT_INPUT_PROTOCOL, ReadKeyStroke) == 8, "ReadKeyStroke slot");
