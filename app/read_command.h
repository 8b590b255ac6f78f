// -r: read the record from GPP1, check its CRC and show it; --debug adds a boxed hex dump.
#pragma once

#include "app/cli_options.h"

ToolStatus ReadCommand(const CliOptions *Options);
VOID ShowBoardRecord(const UINT8 *Record);
VOID DumpRecordHex(const UINT8 *Record);
VOID PrintRepeated(UINT8 Count, const CHAR16 *Text);
