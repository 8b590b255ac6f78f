// -r: read the record from GPP1, check its CRC and show it; --debug adds a boxed hex dump.
#pragma once

#include "app/cli_options.h"

ToolStatus ReadCommand(const CliOptions *Options);
VOID ShowBoardRecord(const UINT8 *Record);
// Length of a 16-byte record text as readers take it: the bytes before its first '$' (all 16 when
// there is none); a text of nothing but spaces reads as empty.
UINTN RecordTextLength(const UINT8 *Field);
// Copies a 16-byte record text up to its '$' into Destination (at least 17 bytes), NUL-terminated.
ToolStatus CopyRecordText(CHAR8 *Destination, const UINT8 *Source);
VOID DumpRecordHex(const UINT8 *Record);
VOID PrintRepeated(UINT8 Count, const CHAR16 *Text);
