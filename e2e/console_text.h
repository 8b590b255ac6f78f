// Console lines of the end-to-end images (the simulated board, the placeholder application and
// the launcher), laid out by the tool's own format engine.
#pragma once

#include "shell/format.h"

constexpr UINTN MessageChars = 240;

// Format into Line (MessageChars characters); returns the characters written.
template <typename... T>
UINTN FormatLine(CHAR16 *Line, UcsFormat<T...> Format, const T &...Values) {
  return FormatWithFlags(Line, MessageChars, FormatWideOutput, Format, Values...);
}

// One line on the console: Format ends with "\n", which the engine writes as CR LF.
template <typename... T>
void Say(EFI_SYSTEM_TABLE *SystemTable, UcsFormat<T...> Format, const T &...Values) {
  CHAR16 Line[MessageChars];
  FormatLine(Line, Format, Values...);
  SystemTable->ConOut->OutputString(SystemTable->ConOut, Line);
}
