// Library-level debug messages: filtered by a level mask the platform decides at every call,
// formatted into 8-bit text and sent to the trace hub and to the debug UART (debug_uart.h).
#pragma once

#include "shell/format.h"
#include "uefi/uefi.h"

// Message levels: one bit each.
constexpr UINT64 DebugLevelError = 0x80000000;
constexpr UINT64 DebugLevelInfo = 0x00000040;
// The mask in force unless the platform's level selector asks for errors; it lets no level through
// (see docs/kept-on-purpose.md).
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

// --- The debug UART as the channel uses it ----------------------------------------------------

// True when the debug UART is absent or the debug serial output is switched off in CMOS. With
// the UART present, an invalid CMOS word is reset to "valid, output on"; with it absent, the CMOS
// is not touched at all.
BOOLEAN CheckDebugCmos();

// The debug UART's window base, with memory decoding and full power switched on; 0 when the
// output is off or there is no usable window.
UINT32 LocateDebugUart();

// Writes Count bytes, 16 after each wait for an empty transmitter. Returns Count, or 0 when
// the bytes were dropped (no UART, output off, or a transmitter that never emptied).
UINT64 DebugUartWrite(const UINT8 *Buffer, UINT64 Count);
