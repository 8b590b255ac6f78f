// Calls the compile-time format check must refuse, one per CASE; CASE 0 holds calls it must
// accept, so a refusal is known to come from the check and not from the file itself.
// Compiled by format_check.cmake, never linked.
#include "diag/debug_message.h"
#include "shell/console.h"
#include "shell/format.h"

VOID Cases(const CHAR16 *RuntimeText, const CHAR8 *RuntimeNarrow, UINT64 Wide, CHAR8 *Buffer) {
  (void)RuntimeText;
  (void)RuntimeNarrow;
  (void)Wide;
  (void)Buffer;
#if CASE == 0
  PrintConsole(u"%d %a %s\n", 1, "x", RuntimeText);
  FormatToAscii(Buffer, 17, "%08x|%lx", 1u, Wide);
  EmitDebugMessage(DebugLevelError, "Status: 0x%08x\r\n", static_cast<UINT32>(Wide));
  const ConsoleFormat<const CHAR8 *> Stored = u"%a\n";
  PrintConsole(Stored, RuntimeNarrow);
#elif CASE == 1
  PrintConsole(u"%a\n", u"a UCS-2 text");
#elif CASE == 2
  PrintConsole(u"%d of %d\n", 1);
#elif CASE == 3
  FormatToAscii(Buffer, 17, "%08x", Wide);
#elif CASE == 4
  FormatToAscii(Buffer, 17, "%a", RuntimeNarrow, 2);
#elif CASE == 5
  EmitDebugMessage(DebugLevelError, "Status: 0x%08x\r\n", Wide);
#elif CASE == 6
  EmitDebugMessage(DebugLevelError, RuntimeNarrow);
#elif CASE == 7
  PrintConsole(RuntimeText);
#elif CASE == 8
  const ConsoleFormat<const CHAR8 *> Stored = u"%s\n";
  PrintConsole(Stored, RuntimeNarrow);
#endif
}
