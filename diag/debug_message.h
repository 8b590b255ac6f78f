// Library-level debug messages: filtered by a level mask the platform decides at every call,
// formatted into 8-bit text and sent to the trace hub and to the debug UART (debug_uart.h).
#pragma once

#include "shell/format.h"
#include "uefi/uefi.h"

// Message levels: one bit each.
constexpr UINT64 DebugLevelError = 0x80000000;
constexpr UINT64 DebugLevelInfo = 0x00000040;
// The mask in force unless the platform's level selector asks for errors.
constexpr UINT64 DefaultDebugLevelMask = 0x40000000;

// The level mask as the platform sets it right now.
UINT64 CurrentDebugLevelMask();

// Formats Format with Arguments into at most 255 bytes and sends them to the trace hub and the
// debug UART, when Level passes the level mask. The text goes out exactly as formatted.
VOID EmitDebugMessageArgs(UINT64 Level, const CHAR8 *Format, FormatArgList Arguments);

// Format is a literal, checked at compile time against the arguments that follow it.
template <typename... T>
VOID EmitDebugMessage(UINT64 Level, AsciiFormat<T...> Format, const T &...Values) {
  const FormatArg Items[sizeof...(T) + 1] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  EmitDebugMessageArgs(Level, Format.Text, FormatArgList{Items, sizeof...(T)});
}
