// Result codes of the tool's operations and of ToolMain, in one table.
#pragma once

#include "uefi/uefi.h"

typedef UINTN ToolStatus;

// Every status the tool (and the Linux front end, 0x4A) ends with, by what it means here: its
// number, its name, the reason a log line and the outcome line give for it, and what GPP1 holds
// afterwards. The tables of README, docs/ and kestrel(8) are checked against this one. The
// numbers up to 0x1B are those of the firmware status codes of the same meaning without the error bit, so that
// a script reading the shell's %lasterror% sees familiar values; those from 0x40 on lie above
// every firmware status code, so that no device's own code can pass for one of them.
struct ToolStatusRow {
  ToolStatus Value;
  const CHAR8 *Name;
  const CHAR8 *Reason;
  const CHAR8 *Gpp1;
};
inline constexpr ToolStatusRow ToolStatuses[] = {
    {0x00, "Success", "ok", "as asked"},
    {0x02, "BadCommandLine", "bad arguments", "untouched"},
    // None found, or the one found cannot be used (its block size or buffer alignment).
    {0x07, "NoGpp1", "GPP1 not found", "untouched"},
    {0x08, "WriteProtected", "write-protected", "untouched"},
    {0x09, "OutOfMemory", "out of memory, nothing written", "untouched"},
    {0x0A, "RecordFailsCrc", "record fails its CRC", "untouched"},
    // A guard (--if-blank, --if-serial, a job's) found something else on GPP1.
    {0x15, "GuardRefused", "guard refused", "untouched"},
    // Written, and the block read back differs from what was written.
    {0x1B, "VerifyFailed", "written, verify failed", "unknown: read it"},
    // The block a change replaces (--backup), or an inspection's record, could not be kept.
    {0x40, "FileNotKept", "backup failed, nothing written", "untouched"},
    {0x41, "Gpp1Unreadable", "device error, nothing written", "untouched"},
    // The device failed the write, and GPP1 read once more holds the block it held before.
    {0x42, "WriteFailedUnchanged", "write failed, GPP1 unchanged", "unchanged"},
    // The write, its flush or its read-back failed, yet GPP1 read once more holds the new block.
    {0x43, "WrittenUnconfirmed", "written, unconfirmed by the device", "new block, unconfirmed"},
    // The write, its flush or its read-back failed, and GPP1 cannot be read once more or holds
    // neither block.
    {0x44, "WrittenUnknown", "write failed, GPP1 unknown", "unknown"},
    // The Linux front end's: standard output or error could not be written.
    {0x4A, "OutputFailed", "output failed", "as the run left it"},
    {0x4B, "NotLoggedNothingWritten", "not logged, nothing written", "untouched"},
    {0x4C, "NotLoggedWritten", "written, not logged", "written"},
};

// The status named Name in the table (a name it lacks fails the build).
ToolStatus NoSuchStatus();
constexpr ToolStatus StatusNamed(const char *Name) {
  for (const ToolStatusRow &Row : ToolStatuses) {
    UINTN I = 0;
    while (Name[I] != 0 && Row.Name[I] == Name[I])
      I++;
    if (Name[I] == 0 && Row.Name[I] == 0)
      return Row.Value;
  }
  return NoSuchStatus();
}
// Its row, or null for a status the table lacks (a signal's, say).
const ToolStatusRow *StatusRow(ToolStatus Status);

constexpr ToolStatus ToolSuccess = StatusNamed("Success");
constexpr ToolStatus ToolBadCommandLine = StatusNamed("BadCommandLine");
constexpr ToolStatus ToolNoGpp1 = StatusNamed("NoGpp1");
constexpr ToolStatus ToolWriteProtected = StatusNamed("WriteProtected");
constexpr ToolStatus ToolOutOfMemory = StatusNamed("OutOfMemory");
constexpr ToolStatus ToolRecordFailsCrc = StatusNamed("RecordFailsCrc");
constexpr ToolStatus ToolGuardRefused = StatusNamed("GuardRefused");
constexpr ToolStatus ToolVerifyFailed = StatusNamed("VerifyFailed");
constexpr ToolStatus ToolFileNotKept = StatusNamed("FileNotKept");
constexpr ToolStatus ToolGpp1Unreadable = StatusNamed("Gpp1Unreadable");
constexpr ToolStatus ToolWriteFailedUnchanged = StatusNamed("WriteFailedUnchanged");
constexpr ToolStatus ToolWrittenUnconfirmed = StatusNamed("WrittenUnconfirmed");
constexpr ToolStatus ToolWrittenUnknown = StatusNamed("WrittenUnknown");
constexpr ToolStatus ToolOutputFailed = StatusNamed("OutputFailed");
constexpr ToolStatus ToolNotLoggedNothingWritten = StatusNamed("NotLoggedNothingWritten");
constexpr ToolStatus ToolNotLoggedWritten = StatusNamed("NotLoggedWritten");

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
