// -r: read the record from GPP1, check its CRC and show it; --debug adds a boxed hex dump.
#pragma once

#include "app/command_line.h"

ToolStatus ReadCommand(const CliOptions *Options);
VOID ShowBoardRecord(const UINT8 *Record);
// Copies a 16-byte record text up to its '$' into Destination (at least 17 bytes), NUL-terminated.
ToolStatus CopyRecordText(CHAR8 *Destination, const UINT8 *Source);
VOID DumpRecordHex(const UINT8 *Record);
VOID PrintRepeated(UINT8 Count, const CHAR16 *Text);
