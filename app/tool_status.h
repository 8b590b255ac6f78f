// Result codes of the tool's operations and of ToolMain. The numbers are those of the firmware
// status codes of the same meaning, without the error bit, so a script reading the shell's
// %lasterror% sees familiar values.
#pragma once

#include "uefi/uefi.h"

typedef UINTN ToolStatus;

constexpr ToolStatus ToolSuccess = 0;
constexpr ToolStatus ToolInvalidParameter = 2;
// No GPP1: none found, or the one found cannot be used (its block size or buffer alignment).
constexpr ToolStatus ToolDeviceError = 7;
constexpr ToolStatus ToolWriteProtected = 8;
// A pool allocation failed before anything was written.
constexpr ToolStatus ToolOutOfResources = 9;
constexpr ToolStatus ToolVolumeCorrupted = 10;
// A guard (--if-blank, --if-serial) found something else on GPP1; nothing was written.
constexpr ToolStatus ToolAborted = 21;
// The block read back after a write differs from what was written.
constexpr ToolStatus ToolCrcError = 27;

// The outcomes no firmware status names. Their numbers lie above every firmware status code, so
// a script never takes one for a device's own reason, and each says by itself whether GPP1 was
// written.
// The block a change replaces could not be kept (--backup); nothing was written.
constexpr ToolStatus ToolBackupFailed = 0x40;
// GPP1 was found but could not be read; nothing was written.
constexpr ToolStatus ToolReadFailed = 0x41;
// The device failed the write, and GPP1 read once more still holds the block it held before.
constexpr ToolStatus ToolWriteFailedUnchanged = 0x42;
// The write, its flush or its read-back failed, yet GPP1 read once more holds the new block: it
// is there, but the device never confirmed it.
constexpr ToolStatus ToolWrittenUnconfirmed = 0x43;
// The write, its flush or its read-back failed, and GPP1 cannot be read once more, or holds
// neither the old block nor the new one.
constexpr ToolStatus ToolWrittenUnknown = 0x44;
// The Linux front end's alone: its standard output or error could not be written, so the tool's
// own outcome may not have reached the caller.
constexpr ToolStatus ToolOutputFailed = 0x4A;
// The run's line could not be put in the station's log (--log): nothing was written to GPP1.
constexpr ToolStatus ToolNotLoggedNothingWritten = 0x4B;
// GPP1 was written (whatever the outcome), but the run's line is not in the log.
constexpr ToolStatus ToolNotLoggedWritten = 0x4C;

// Places whose argument checks should never fail; the number names the place in the report.
// The numbers are fixed tags that logs quote (see docs/kept-on-purpose.md).
enum class InternalCheck : int {
  ToolMainVector = 52,
  CopyRecordTextSource = 217,
  BuildBoardRecordArguments = 259,
  ParseOptionsRecord = 517,
  PrintRepeatedText = 651,
  ReadGpp1Destination = 739,
  ParseNullEntry = 845,
  WriteGpp1Image = 918,
  WriteCommandOptions = 993,
};

// Prints "ERROR: [#n] Internal coding error!".
VOID ReportInternalError(InternalCheck Place);
