// The console print: one message formatted into a pool line buffer and handed to the firmware's
// text output in a single OutputString call.
#include "shell/console.h"
#include "shell/memory.h"
#include "shell/platform_context.h"

namespace {

// 320 characters of message and the NUL; a longer message is cut.
constexpr UINT64 ConsoleLineCharacters = 321;
// The messages are UCS-2 and so is what OutputString takes.
constexpr UINT64 ConsoleFormatFlags = FormatWideOutput | FormatWideFormat;

} // namespace

UINT64 PrintToConsole(const CHAR16 *Format, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console,
                      FormatArgList Arguments) {
  auto Line = PoolPtr<CHAR16>::Allocate(ConsoleLineCharacters);
  if (!Line)
    return 0;
  UINT64 Count =
      FormatEngine(Line.Get(), ConsoleLineCharacters, ConsoleFormatFlags, Format, Arguments);
  CHAR16 *Text = Line.Get();
  // A message cut short still ends its line, as its format does, so that the next one never
  // runs on from the middle of it.
  UINTN FormatLength = Format != nullptr ? WideStringLength(Format) : 0;
  if (Count + 1 == ConsoleLineCharacters && FormatLength != 0 &&
      Format[FormatLength - 1] == u'\n' && Text[Count - 1] != u'\n') {
    Text[Count - 2] = u'\r';
    Text[Count - 1] = u'\n';
  }
  // Characters that would steer a terminal (C0 controls but the line's own, DEL, C1 controls),
  // as a record or a value may hold, are shown as '?'.
  for (UINT64 I = 0; I < Count; I++) {
    const CHAR16 C = Text[I];
    if ((C < 0x20 && C != u'\r' && C != u'\n' && C != u'\t' && C != u'\b') ||
        (C >= 0x7F && C <= 0x9F))
      Text[I] = u'?';
  }
  // An empty message is not handed over: it would cost a firmware call that shows nothing.
  if (Console != nullptr && Count != 0 && EFI_ERROR(Console->OutputString(Console, Line.Get())))
    return 0;
  return Count;
}

UINT64 PrintConsoleArgs(const CHAR16 *Format, FormatArgList Arguments) {
  EFI_SYSTEM_TABLE *SystemTable = PlatformContext.SystemTable;
  return PrintToConsole(Format, SystemTable != nullptr ? SystemTable->ConOut : nullptr, Arguments);
}

UINT64 PrintPromptArgs(const CHAR16 *Format, FormatArgList Arguments) {
  EFI_SYSTEM_TABLE *SystemTable = PlatformContext.SystemTable;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console = nullptr;
  if (SystemTable != nullptr)
    Console = SystemTable->StdErr != nullptr ? SystemTable->StdErr : SystemTable->ConOut;
  return PrintToConsole(Format, Console, Arguments);
}
