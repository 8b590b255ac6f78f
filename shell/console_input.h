// A line typed on the firmware console: what a station's barcode scanner types at a prompt (its
// characters, then Enter), echoed as it comes on the console that shows the prompt.
#pragma once

#include "uefi/uefi.h"

// How a typed line ended: Enter; Esc; no key within the time given; or a firmware without a
// console to type on (or one whose keyboard fails).
enum class TypedEnd { Entered, Escaped, TimedOut, NoConsole };

// The console between two lines: a scanner or terminal that ends its lines with a carriage return
// and a line feed sends one Enter, not two.
struct TypedConsole {
  bool AfterReturn = false;
};

// Reads keys into Line (Capacity characters, its NUL included) until Enter or Esc, for at most
// Seconds. Printable characters are kept and echoed, Backspace takes the last one back, other
// keys are passed over; characters beyond Line's room are dropped and Overflowed set, so that a
// value too long is refused rather than cut. Line always ends in a NUL.
TypedEnd ReadTypedLine(TypedConsole &Console, CHAR16 *Line, UINTN Capacity, bool *Overflowed,
                       UINT32 Seconds);
