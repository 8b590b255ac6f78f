// Result codes of the tool's operations and of ToolMain. The numbers are those of the firmware
// status codes of the same meaning, without the error bit, so a script reading the shell's
// %lasterror% sees familiar values.
#pragma once

#include "uefi/uefi.h"

typedef UINTN ToolStatus;

constexpr ToolStatus ToolSuccess = 0;
constexpr ToolStatus ToolInvalidParameter = 2;
constexpr ToolStatus ToolDeviceError = 7;
constexpr ToolStatus ToolWriteProtected = 8;
constexpr ToolStatus ToolOutOfResources = 9;
constexpr ToolStatus ToolVolumeCorrupted = 10;
// A guard (--if-blank, --if-serial) found something else on GPP1; nothing was written.
constexpr ToolStatus ToolAborted = 21;
constexpr ToolStatus ToolCrcError = 27;
// The run's line could not be put in the station's log (--log), or the log could not be opened
// before the run. The number is the Linux front end's for output that could not be written; no
// firmware status has it, so a script never takes it for another outcome.
constexpr ToolStatus ToolNotLogged = 74;

// Places whose argument checks should never fail; the number names the place in the report.
// The numbers are fixed tags that logs quote (see docs/kept-on-purpose.md).
enum class InternalCheck : int {
  ToolMainVector = 52,
  CopyRecordTextSource = 217,
  BuildBoardRecordArguments = 259,
  ParseOptionsRecord = 517,
  PrintRepeatedText = 651,
  ReadGpp1Destination = 739,
  ReadCommandOptions = 791,
  ParseNullEntry = 845,
  WriteGpp1Image = 918,
  WriteCommandOptions = 993,
};

// Prints "ERROR: [#n] Internal coding error!".
VOID ReportInternalError(InternalCheck Place);
