// The console print: a UCS-2 message formatted by the format engine into a pool line buffer and
// handed to the firmware's text output in one OutputString call.
#pragma once

#include "shell/format.h"
#include "uefi/uefi.h"

// Formats a UCS-2 message into a 321-character pool buffer and hands it to Console (may be
// null). Returns the number of characters formatted, or 0 when nothing was shown.
UINT64 PrintToConsole(const FormatSource &Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                      FormatArgList Arguments);
inline UINT64 PrintToConsole(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                             FormatArgList Arguments) {
  return PrintToConsole(FormatSource{Format, 0}, Console, Arguments);
}

// PrintToConsole through the system table's ConOut.
UINT64 PrintConsoleArgs(const FormatSource &Format, FormatArgList Arguments);

template <typename... T> UINT64 PrintConsoleFrom(const FormatSource &Format, const T &...Values) {
  const FormatArg Items[sizeof...(T) + 1] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  return PrintConsoleArgs(Format, FormatArgList{Items, sizeof...(T)});
}

template <typename F, typename... T>
KESTREL_FORMAT_WRAPPER UINT64 PrintConsole(const F &Format, const T &...Values) {
  return PrintConsoleFrom(MakeFormatSource<CHAR16>(Format), Values...);
}
