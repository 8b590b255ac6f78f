#include "shell/console_input.h"

#include "shell/console.h"
#include "shell/platform_context.h"

namespace {

// A key is looked for every 10 ms: a scanner types a few hundred characters a second, and the
// firmware's keyboard buffer holds what arrives between two looks.
constexpr UINTN KeyPollMicroseconds = 10000;
constexpr UINTN PollsPerSecond = 1000000 / KeyPollMicroseconds;
constexpr CHAR16 CHAR_ESC = 0x1B;
constexpr CHAR16 CHAR_DELETE = 0x7F;

} // namespace

TypedEnd ReadTypedLine(TypedConsole &Console, CHAR16 *Line, UINTN Capacity, bool *Overflowed,
                       UINT32 Seconds) {
  UINTN Length = 0;
  UINTN Dropped = 0; // typed beyond Line's room, and not taken back
  Line[0] = 0;
  *Overflowed = false;
  EFI_SYSTEM_TABLE *St = PlatformContext.SystemTable;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL *Keys = St != nullptr ? St->ConIn : nullptr;
  EFI_BOOT_SERVICES *Bs = PlatformContext.BootServices;
  if (Keys == nullptr || Keys->ReadKeyStroke == nullptr || Bs == nullptr)
    return TypedEnd::NoConsole;
  const UINTN Polls = static_cast<UINTN>(Seconds) * PollsPerSecond;
  for (UINTN Poll = 0; Poll < Polls; Poll++) {
    EFI_INPUT_KEY Key = {0, 0};
    EFI_STATUS Status = Keys->ReadKeyStroke(Keys, &Key);
    if (Status == EFI_NOT_READY) {
      if (EFI_ERROR(Bs->Stall(KeyPollMicroseconds)))
        return TypedEnd::NoConsole;
      continue;
    }
    if (EFI_ERROR(Status))
      return TypedEnd::NoConsole;
    const CHAR16 C = Key.UnicodeChar;
    const bool AfterReturn = Console.AfterReturn;
    Console.AfterReturn = C == CHAR_CARRIAGE_RETURN;
    if (Key.ScanCode == SCAN_ESC || C == CHAR_ESC) {
      PrintPrompt(u"\n");
      return TypedEnd::Escaped;
    }
    if (C == CHAR_LINEFEED && AfterReturn && Length == 0)
      continue;
    if (C == CHAR_CARRIAGE_RETURN || C == CHAR_LINEFEED) {
      PrintPrompt(u"\n");
      *Overflowed = Dropped != 0;
      return TypedEnd::Entered;
    }
    if (C == CHAR_BACKSPACE || C == CHAR_DELETE) {
      if (Dropped > 0)
        Dropped--;
      else if (Length > 0)
        Line[--Length] = 0;
      else
        continue;
      PrintPrompt(u"\b \b");
      continue;
    }
    // Keys without a character (arrows, function keys) and control characters are no part of a
    // value; a tab is kept, and refused with the value.
    if (C == 0 || (C < 0x20 && C != u'\t'))
      continue;
    const CHAR16 Echo[2] = {C, 0};
    PrintPrompt(u"%s", static_cast<const CHAR16 *>(Echo));
    if (Dropped == 0 && Length + 1 < Capacity) {
      Line[Length++] = C;
      Line[Length] = 0;
    } else {
      Dropped++;
    }
  }
  return TypedEnd::TimedOut;
}
