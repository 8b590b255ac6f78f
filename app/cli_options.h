// What one command line asks for: the options the parser found, for the operations to read.
#pragma once

#include "app/tool_status.h"

// A value that the parse has read into the number the run uses (an ID, seconds, how the run ends),
// or the fault that kept it from being read (0 when there was none; what a fault means is the
// parser's).
struct ParsedValue {
  UINT32 Number;
  UINT8 Fault;
};

struct CliOptions {
  UINT8 BoardGiven;
  const CHAR16 *BoardText;
  ParsedValue Board;
  UINT8 BomGiven;
  const CHAR16 *BomText;
  ParsedValue Bom;
  UINT8 ClearRequested;
  UINT8 FabGiven;
  const CHAR16 *FabText;
  ParsedValue Fab;
  UINT8 HelpRequested;
  UINT8 DebugRequested; // --debug: extra progress lines and hex dumps
  UINT8 ModuleSerialGiven;
  const CHAR16 *ModuleSerialText;
  UINT8 MmGiven;
  const CHAR16 *MmText;
  UINT8 ReadRequested;
  UINT8 CarrierSerialGiven;
  const CHAR16 *CarrierSerialText;
  UINT8 WriteRequested;
  // The jobs around the record, all long options only.
  UINT8 EditRequested;      // --edit: change only the fields given
  UINT8 NoSandrelRequested; // --no-sandrel: the record carries no Sandrel serial
  UINT8 IfBlankRequested;   // --if-blank: write only over a blank GPP1
  UINT8 IfSerialGiven;      // --if-serial: write only over this Pylon serial's record
  const CHAR16 *IfSerialText;
  UINT8 DryRunRequested; // --dry-run: show what would be written, write nothing
  // The station's files, long options only.
  UINT8 BackupGiven; // --backup: block 0 as it was goes to this new file before a write
  const CHAR16 *BackupText;
  UINT8 RestoreGiven; // --restore: a file made by --backup goes back to block 0
  const CHAR16 *RestoreText;
  UINT8 LogGiven; // --log: one line per run appended to this file
  const CHAR16 *LogText;
  // How the run ends, long options only.
  UINT8 WaitGiven; // --wait: seconds the outcome stays on the screen, or until a key
  const CHAR16 *WaitText;
  ParsedValue Wait;
  UINT8 ThenGiven; // --then: return, reset or off once the run is over
  const CHAR16 *ThenText;
  ParsedValue Then; // a RunEnd
  // The station's jobs, long options only. Every word after a job's name is one of its values,
  // never an option: parsing stops there.
  UINT8 ProvisionRequested;  // --provision SERIAL MM [CARRIER|none [BOARD FAB BOM]]
  UINT8 ReworkRequested;     // --rework OLD-SERIAL SERIAL MM [CARRIER|none [BOARD FAB BOM]]
  UINT8 InspectRequested;    // --inspect SERIAL
  UINT8 FromScriptRequested; // --from-script: the values are a shell script's nine positions
  UINTN JobIndex;            // where the job's name stands in the vector (0 when none)
  UINTN JobValueCount;
  CHAR16 *const *JobValues; // the entries after the job's name
  // The first entry that was neither an option nor an option's value (0 when there was none). A
  // write or a clear with such an entry is refused: it is most likely a mistyped option, and the
  // record would not be what was asked.
  UINTN FirstUnknownIndex;
  const CHAR16 *FirstUnknownText;
  // The first of the long options with a value (--if-serial and the files) given twice, or null.
  // Which of two logs, backups or guards a run should take cannot be guessed.
  const CHAR16 *RepeatedOption;
};
