#include "app/tool_main.h"

#include "app/operations.h"
#include "app/version.h"
#include "shell/memory.h"

namespace {

constexpr const CHAR16 *ToolYear = u"2017";

FinishedRun Finished = {};

// The run's line takes its place in the log before anything else is done, so that a stick that
// cannot take it stops the run before GPP1 is touched, and one that fills up later still does.
ToolStatus RunLogged(const CliOptions &Options, RunStory &Story) {
  const ToolOperation Operation = OperationOf(Options);
  if (!Options.LogGiven)
    return RunOperation(Operation, Options, Story);
  ToolStatus Status = CheckLogOption(Options);
  if (Status != ToolSuccess)
    return Status;
  LoggedValue Asked[ToolOptionCount];
  const RunLogEntry Entry = LogEntryOf(Options, Operation, Asked);
  StationLog Log = {};
  Status = ReserveStationLog(&Log, Options.LogText, Entry);
  if (Status != ToolSuccess)
    return Status;
  Status = FinishStationLog(&Log, Entry, Story, RunOperation(Operation, Options, Story));
  if (Status != ToolNotLoggedNothingWritten && Status != ToolNotLoggedWritten)
    Finished.Line = Log;
  return Status;
}

ToolStatus RunTool(UINTN Argc, CHAR16 **Argv, RunStory &Story) {
  if (Argv == nullptr) {
    ReportInternalError(InternalCheck::ToolMainVector);
    return ToolInvalidParameter;
  }
  CliOptions Options;
  ZeroBytes(&Options, sizeof(Options));
  ParseCommandLine(Argc, Argv, &Options);
  DebugEnabled = Options.DebugRequested;

  // Factory logs match this banner as printed, spelling included (see docs/kept-on-purpose.md).
  PrintConsole(u"Kestrel for Tarnm - Version #%s\n", ToolVersion);
  PrintConsole(u"Board record tool for Tarn boards, eMMC GPP1 block 0; first released %s.\n\n",
               ToolYear);

  ToolStatus Status = RunLogged(Options, Story);
  // A dry run has said "Dry run: nothing was written." itself; nothing was done to succeed at.
  if (Status == ToolSuccess && !Story.DryRun)
    PrintConsole(u"Operation successful!\n");
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
