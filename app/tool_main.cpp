#include "app/tool_main.h"

#include "app/operations.h"
#include "app/station_job.h"
#include "app/version.h"
#include "shell/memory.h"

namespace {

constexpr const CHAR16 *ToolYear = u"2017";

FinishedRun Finished = {};

VOID PrintBanner() {
  // Factory logs match this banner as printed, spelling included (see docs/kept-on-purpose.md).
  PrintConsole(u"Kestrel for Tarnm - Version #%s\n", ToolVersion);
  PrintConsole(u"Board record tool for Tarn boards, eMMC GPP1 block 0; first released %s.\n\n",
               ToolYear);
}

// The run's line takes its place in the log before anything else is done, so that a stick that
// cannot take it stops the run before GPP1 is touched, and one that fills up later still does. A
// station job always has its line, in the station's log by default.
ToolStatus RunLogged(const CliOptions &Options, ToolOperation Operation, const JobValues &Values,
                     RunStory &Story) {
  const CHAR16 *LogPath = RunLogPath(Options, Operation);
  if (LogPath == nullptr)
    return RunOperation(Operation, Options, Values, Story);
  ToolStatus Status = Options.LogGiven ? CheckLogOption(Options) : ToolSuccess;
  if (Status != ToolSuccess)
    return Status;
  LoggedValue Asked[ToolOptionCount];
  const RunLogEntry Entry = LogEntryOf(Options, Operation, Values, Asked);
  StationLog Log = {};
  Status = ReserveStationLog(&Log, LogPath, Entry);
  if (Status != ToolSuccess)
    return Status;
  Status = FinishStationLog(&Log, Entry, Story, RunOperation(Operation, Options, Values, Story));
  if (Status != ToolNotLoggedNothingWritten && Status != ToolNotLoggedWritten)
    Finished.Line = Log;
  return Status;
}

ToolStatus RunTool(UINTN Argc, CHAR16 **Argv, RunStory &Story) {
  if (Argv == nullptr) {
    ReportInternalError(InternalCheck::ToolMainVector);
    return ToolBadCommandLine;
  }
  CliOptions Options;
  ZeroBytes(&Options, sizeof(Options));
  ParseCommandLine(Argc, Argv, &Options);
  DebugEnabled = Options.DebugRequested;

  PrintBanner();

  ToolOperation Operation = OperationOf(Options);
  // A job's values come before its line: they are what the line says was asked.
  JobValues Values;
  ZeroBytes(&Values, sizeof(Values));
  if (IsStationJob(Operation))
    GatherJobValues(Options, &Operation, &Values, Story);
  ToolStatus Status = RunLogged(Options, Operation, Values, Story);
  // A dry run has said "Dry run: nothing was written." itself; nothing was done to succeed at.
  if (Status == ToolSuccess && !Story.DryRun)
    PrintConsole(u"Operation successful!\n");
  if (IsStationJob(Operation))
    PrintJobBanner(Operation, Values, Status, RunReason(Status, Story));
  return Status;
}

} // namespace

ToolStatus ToolMain(UINTN Argc, CHAR16 **Argv) {
  // Every invocation starts afresh, also when the host runs several in one process.
  Finished = {};
  DebugEnabled = 0;
  RunStory Story = {};
  ToolStatus Status = RunTool(Argc, Argv, Story);
  Finished.Reason = RunReason(Status, Story);
  Finished.Record = Story.After.Known ? Story.After : Story.Before;
  Finished.WriteReached = Story.WriteReached;
  return Status;
}

ToolStatus LogRunWithoutGpp1(UINTN Argc, CHAR16 **Argv, ToolStatus Status, const CHAR8 *Reason) {
  if (Argv == nullptr)
    return Status;
  CliOptions Options;
  ZeroBytes(&Options, sizeof(Options));
  ParseCommandLine(Argc, Argv, &Options, ParseReport::Silent);
  ToolOperation Operation = OperationOf(Options);
  RunStory Story = {};
  JobValues Values;
  ZeroBytes(&Values, sizeof(Values));
  if (IsStationJob(Operation))
    GatherJobValues(Options, &Operation, &Values, Story, false);
  const CHAR16 *LogPath = RunLogPath(Options, Operation);
  if (LogPath == nullptr || *LogPath == 0)
    return Status;
  LoggedValue Asked[ToolOptionCount];
  const RunLogEntry Entry = LogEntryOf(Options, Operation, Values, Asked);
  StationLog Log = {};
  ToolStatus Reserved = ReserveStationLog(&Log, LogPath, Entry);
  if (Reserved != ToolSuccess)
    return Reserved;
  Story.Reason = Reason;
  return FinishStationLog(&Log, Entry, Story, Status);
}

ToolStatus RefuseArgumentsFile(const CHAR16 *File, ArgumentsFileFault Fault, UINTN Argc,
                               CHAR16 **Argv) {
  Finished = {};
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
  const ToolStatus Status = Argc > 1 ? LogRunWithoutGpp1(Argc, Argv, ToolBadCommandLine, Refused)
                                     : ToolBadCommandLine;
  Finished.Reason = Status == ToolBadCommandLine ? Refused : RunReason(Status, RunStory{});
  return Status;
}

const CHAR16 *RunLogPath(const CliOptions &Options, ToolOperation Operation) {
  if (Options.LogGiven)
    return Options.LogText;
  return IsStationJob(Operation) ? DefaultJobLog : nullptr;
}

const FinishedRun &LastRun() {
  return Finished;
}

RunEnding RunEndingOf(UINTN Argc, CHAR16 **Argv) {
  CliOptions Options;
  ZeroBytes(&Options, sizeof(Options));
  ParseCommandLine(Argc, Argv, &Options, ParseReport::Silent);
  RunEnding Ending = {false, 0, RunEnd::Return};
  Ending.WaitGiven = Options.WaitGiven && ParseWait(Options.WaitText, &Ending.WaitSeconds);
  if (Options.ThenGiven && !ParseThen(Options.ThenText, &Ending.Then))
    Ending.Then = RunEnd::Return;
  return Ending;
}
