// The console print: a UCS-2 message formatted by the format engine into a pool line buffer and
// handed to the firmware's text output in one OutputString call.
#pragma once

#include "shell/format.h"
#include "uefi/uefi.h"

// Formats a UCS-2 message into a 321-character pool buffer and hands it to Console (may be
// null). Returns the number of characters formatted, or 0 when nothing was shown. The format is
// not checked here: the callers' literals are, in PrintConsole.
UINT64 PrintToConsole(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                      FormatArgList Arguments);

// PrintToConsole through the system table's ConOut.
UINT64 PrintConsoleArgs(const CHAR16 *Format, FormatArgList Arguments);
// PrintToConsole through the system table's StdErr (ConOut when the firmware has none): a
// prompt and what is typed at it, which a shell's redirection of the output must not swallow.
UINT64 PrintPromptArgs(const CHAR16 *Format, FormatArgList Arguments);

// A literal UCS-2 format, checked at compile time against the arguments that follow it. A
// message kept in a table or handed to a helper is a ConsoleFormat<argument types...>, built
// from its literal where it is written.
template <typename... T> using ConsoleFormat = UcsFormat<T...>;

template <typename... T> UINT64 PrintConsole(ConsoleFormat<T...> Format, const T &...Values) {
  const FormatArg Items[sizeof...(T) + 1] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  return PrintConsoleArgs(Format.Text, FormatArgList{Items, sizeof...(T)});
}

template <typename... T> UINT64 PrintPrompt(ConsoleFormat<T...> Format, const T &...Values) {
  const FormatArg Items[sizeof...(T) + 1] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  return PrintPromptArgs(Format.Text, FormatArgList{Items, sizeof...(T)});
}

// A progress line or report that only a run with --debug shows (Shown).
template <typename... T>
UINT64 PrintDebug(bool Shown, ConsoleFormat<T...> Format, const T &...Values) {
  return Shown ? PrintConsole(Format, Values...) : 0;
}
