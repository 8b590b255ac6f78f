// -r: read the record from GPP1, check its CRC and show it; --debug adds a boxed hex dump.
#pragma once

#include "app/record_job.h"

// A guard in Job (--if-blank, --if-serial) must hold over what GPP1 holds before it is shown; the
// record read goes into Story.
ToolStatus ReadCommand(const RecordJob &Job, RunStory &Story);
// --inspect: the record shown as -r shows it under Job's guard (the serial inspected), then saved
// as one JSON object, as the run log and the Linux front end's --json give records, in a new file
// SavePath (or the first free numbered name beside it), which Story names. ToolFileNotKept when
// it cannot be saved whole.
ToolStatus InspectCommand(const RecordJob &Job, const CHAR16 *SavePath, RunStory &Story);
VOID ShowBoardRecord(const UINT8 *Record);
VOID DumpRecordHex(const UINT8 *Record);
VOID PrintRepeated(UINT8 Count, const CHAR16 *Text);
