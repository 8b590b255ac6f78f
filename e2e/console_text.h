// Console lines of the end-to-end images (the simulated board, the placeholder application and
// the launcher), laid out by the tool's own format engine.
#pragma once

#include "shell/format.h"

constexpr UINTN MessageChars = 240;

// Format after the Length characters that Line (MessageChars characters) already holds; returns
// the new length.
template <typename... T>
UINTN AppendLine(CHAR16 *Line, UINTN Length, UcsFormat<T...> Format, const T &...Values) {
  return Length +
         FormatWithFlags(Line + Length, MessageChars - Length, FormatWideOutput, Format, Values...);
}

template <typename... T>
UINTN FormatLine(CHAR16 *Line, UcsFormat<T...> Format, const T &...Values) {
  return AppendLine(Line, 0, Format, Values...);
}

// One line on the console: Format ends with "\n", which the engine writes as CR LF.
template <typename... T>
void Say(EFI_SYSTEM_TABLE *SystemTable, UcsFormat<T...> Format, const T &...Values) {
  CHAR16 Line[MessageChars];
  FormatLine(Line, Format, Values...);
  SystemTable->ConOut->OutputString(SystemTable->ConOut, Line);
}
