#include "app/tool_main.h"

#include "app/operations.h"
#include "app/station_job.h"
#include "app/version.h"
#include "shell/memory.h"

namespace {

constexpr const CHAR16 *ToolYear = u"2017";

VOID PrintBanner() {
  // Factory logs match this banner as printed, spelling included (see docs/kept-on-purpose.md).
  PrintConsole(u"Kestrel for Tarnm - Version #%s\n", ToolVersion);
  PrintConsole(u"Board record tool for Tarn boards, eMMC GPP1 block 0; first released %s.\n\n",
               ToolYear);
}

// The run's line takes its place in the log before anything else is done, so that a stick that
// cannot take it stops the run before GPP1 is touched, and one that fills up later still does. A
// station job always has its line, in the station's log by default. Line is where it stands.
ToolStatus RunUnderLogLine(const ToolRequest &Request, ToolOperation Operation,
                           const JobValues &Values, RunStory &Story, StationLog *Line) {
  const CliOptions &Options = Request.Options;
  if (Request.LogPath == nullptr)
    return RunOperation(Operation, Options, Values, Story);
  ToolStatus Status = Options.LogGiven ? CheckLogOption(Options) : ToolSuccess;
  if (Status != ToolSuccess)
    return Status;
  LoggedValue Asked[ToolOptionCount];
  const RunLogEntry Entry = LogEntryOf(Options, Operation, Values, Asked);
  StationLog Log = {};
  Status = ReserveStationLog(&Log, Request.LogPath, Entry);
  if (Status != ToolSuccess)
    return Status;
  Status = FinishStationLog(&Log, Entry, Story, RunOperation(Operation, Options, Values, Story));
  if (Status != ToolNotLoggedNothingWritten && Status != ToolNotLoggedWritten)
    *Line = Log;
  return Status;
}

ToolStatus RunRequestedOperation(const ToolRequest &Request, RunStory &Story, StationLog *Line) {
  if (Request.Argv == nullptr) {
    ReportInternalError(InternalCheck::ToolMainVector);
    return ToolBadCommandLine;
  }
  SayParseNotes(Request.Notes, Request.Argv);

  PrintBanner();

  ToolOperation Operation = Request.Operation;
  // A job's values come before its line: they are what the line says was asked.
  JobValues Values;
  ZeroBytes(&Values, sizeof(Values));
  if (IsStationJob(Operation))
    GatherJobValues(Request.Options, &Operation, &Values, Story);
  ToolStatus Status = RunUnderLogLine(Request, Operation, Values, Story, Line);
  // A dry run has said "Dry run: nothing was written." itself; nothing was done to succeed at.
  if (Status == ToolSuccess && !Story.DryRun)
    PrintConsole(u"Operation successful!\n");
  if (IsStationJob(Operation))
    PrintJobBanner(Operation, Values, Status, RunReason(Status, Story));
  return Status;
}

} // namespace

RunResult ToolMain(const ToolRequest &Request) {
  RunStory Story = {};
  Story.Debug = Request.Options.DebugRequested != 0;
  RunResult Result = {};
  Result.Ending = Request.Ending;
  Result.Status = RunRequestedOperation(Request, Story, &Result.Line);
  Result.Reason = RunReason(Result.Status, Story);
  Result.Record = Story.After.Known ? Story.After : Story.Before;
  Result.WriteReached = Story.WriteReached;
  return Result;
}

ToolStatus LogRunWithoutGpp1(const ToolRequest &Request, ToolStatus Status, const CHAR8 *Reason) {
  if (Request.LogPath == nullptr || *Request.LogPath == 0)
    return Status;
  ToolOperation Operation = Request.Operation;
  RunStory Story = {};
  JobValues Values;
  ZeroBytes(&Values, sizeof(Values));
  if (IsStationJob(Operation))
    GatherJobValues(Request.Options, &Operation, &Values, Story, false);
  LoggedValue Asked[ToolOptionCount];
  const RunLogEntry Entry = LogEntryOf(Request.Options, Operation, Values, Asked);
  StationLog Log = {};
  ToolStatus Reserved = ReserveStationLog(&Log, Request.LogPath, Entry);
  if (Reserved != ToolSuccess)
    return Reserved;
  Story.Reason = Reason;
  return FinishStationLog(&Log, Entry, Story, Status);
}

RunResult RefuseArgumentsFile(const CHAR16 *File, ArgumentsFileFault Fault,
                              const ToolRequest &Request) {
  PrintBanner();
  const CHAR16 *Name = File != nullptr ? File : u"kestrel.args";
  switch (Fault) {
  case ArgumentsFileFault::TooLong:
    PrintConsole(u"ERROR: %s holds more than %d bytes: it is no command line!\n", Name,
                 static_cast<int>(MaxBootArgumentsBytes));
    break;
  case ArgumentsFileFault::HoldsNul:
    PrintConsole(u"ERROR: %s holds a NUL: it is no command line!\n", Name);
    break;
  case ArgumentsFileFault::MoreThanOneLine:
    PrintConsole(u"ERROR: %s holds more than one line of words: it must hold one command line!\n",
                 Name);
    break;
  case ArgumentsFileFault::Unreadable:
    PrintConsole(u"ERROR: %s cannot be read: nothing was done!\n", Name);
    break;
  default:
    PrintConsole(u"ERROR: %s is not UTF-8 or UCS-2 text of printable characters: it is no command "
                 u"line!\n",
                 Name);
    break;
  }
  constexpr const CHAR8 *Refused = "arguments file refused, nothing written";
  RunResult Result = {};
  // Nothing the file asks for is trusted, not even how the run ends.
  Result.Ending = {false, 0, RunEnd::Return};
  Result.Status = LogRunWithoutGpp1(Request, ToolBadCommandLine, Refused);
  Result.Reason =
      Result.Status == ToolBadCommandLine ? Refused : RunReason(Result.Status, RunStory{});
  return Result;
}
