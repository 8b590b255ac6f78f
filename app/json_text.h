// JSON text built in a caller's buffer: the board record as one object (the form the Linux front
// end's --json prints and the run log stores), and the pieces a log line is made of. Text that
// does not fit is cut and the buffer marked as overflowed, never written past.
#pragma once

#include "app/board_record.h"

struct JsonText {
  CHAR8 *Data;
  UINTN Size; // bytes of Data, the closing NUL included
  UINTN Used;
  bool Overflowed;
};

JsonText JsonTextIn(CHAR8 *Data, UINTN Size);
VOID JsonAppendRaw(JsonText *Out, const CHAR8 *Text);
VOID JsonAppendNumber(JsonText *Out, UINT64 Value);
// A string literal, quotes included: printable ASCII as it is, '"' and '\' escaped, every other
// byte (or UCS-2 character) as \u00XX, so the text is plain ASCII whatever it holds.
VOID JsonAppendBytes(JsonText *Out, const UINT8 *Bytes, UINTN Length);
// The same of a text, of at most MaxCharacters; a longer text ends in "..." inside the quotes.
VOID JsonAppendText(JsonText *Out, const CHAR8 *Text, UINTN MaxCharacters = ~static_cast<UINTN>(0));
VOID JsonAppendText(JsonText *Out, const CHAR16 *Text,
                    UINTN MaxCharacters = ~static_cast<UINTN>(0));
// A record seen in block 0 as an object: the texts and IDs a read shows, the vendor and product,
// and the stored and computed CRC-32 with whether they match. A block that reads as blank (the
// blank record, an erased block) shows empty texts.
VOID JsonAppendRecord(JsonText *Out, const SeenRecord &Seen);
