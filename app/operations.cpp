#include "app/operations.h"

#include "app/read_command.h"
#include "app/request_checks.h"
#include "app/write_command.h"

namespace {

// A command line on its way to its operation: its options, a job's values, and what the checks
// make of them.
struct Asked {
  const CliOptions &Options;
  const JobValues &Values;
  WriteRequest Write;
  RecordEdit Edit;
  RecordJob Job;
};
using Step = ToolStatus (*)(Asked &A, RunStory &Story);

struct OperationRow {
  ToolOperation Operation;
  UINT8 CliOptions::*SelectedBy; // null: what runs when nothing is selected
  const CHAR8 *Name;             // in the run log
  bool Writes;
  bool Job;
  bool OnGpp1; // the checks every operation on GPP1 shares come before it runs
  Step Check;
  Step Run;
};

ToolStatus Unchecked(Asked &, RunStory &) {
  return ToolSuccess;
}

ToolStatus RefuseCommandLine(Asked &, RunStory &) {
  PrintConsole(u"ERROR: Invalid CLI option(s)!\n");
  return ToolBadCommandLine;
}

// Whether the command line asks for anything beside the help: an operation, a job, a field, a
// guard or a file, or a word the tool does not know. How the run is logged and ends is no
// request of its own.
bool AskedBesideHelp(const CliOptions &Options) {
  bool Beside = Options.FirstUnknownIndex != 0;
  for (const ToolOption &Option : ToolOptions) {
    const bool Alone = &Option == &HelpOption || Option.Kind == OptionKind::OfTheRun;
    Beside = Beside || (!Alone && Options.*Option.Given);
  }
  return Beside;
}

// The help is shown wherever it is asked for; beside anything else, what else was asked is not
// done, and the run says so rather than pass for it.
ToolStatus ShowHelp(Asked &A, RunStory &Story) {
  PrintHelp();
  if (!AskedBesideHelp(A.Options))
    return ToolSuccess;
  PrintConsole(u"ERROR: The help was asked for beside other options: nothing was done!\n");
  Story.Reason = "help beside other options, nothing done";
  return ToolBadCommandLine;
}

// A station job's own checks; it runs on GPP1 with its own guard and files.
ToolStatus CheckJob(ToolOperation Job, Asked &A) {
  return CheckJobRequest(A.Options, Job, A.Values, &A.Write, &A.Job);
}

// In the order in which one selected operation wins over the next.
constexpr OperationRow Operations[] = {
    {ToolOperation::Help, &CliOptions::HelpRequested, "help", false, false, false, Unchecked,
     ShowHelp},
    {ToolOperation::Provision, &CliOptions::ProvisionRequested, "provision", true, true, false,
     [](Asked &A, RunStory &) { return CheckJob(ToolOperation::Provision, A); },
     [](Asked &A, RunStory &S) { return WriteCommand(&A.Write, A.Job, S); }},
    {ToolOperation::Rework, &CliOptions::ReworkRequested, "rework", true, true, false,
     [](Asked &A, RunStory &) { return CheckJob(ToolOperation::Rework, A); },
     [](Asked &A, RunStory &S) { return WriteCommand(&A.Write, A.Job, S); }},
    {ToolOperation::Inspect, &CliOptions::InspectRequested, "inspect", false, true, false,
     [](Asked &A, RunStory &) { return CheckJob(ToolOperation::Inspect, A); },
     [](Asked &A, RunStory &S) { return InspectCommand(A.Job, A.Values.Saved, S); }},
    {ToolOperation::Restore, &CliOptions::RestoreGiven, "restore", true, false, true,
     [](Asked &A, RunStory &) { return CheckRestoreRequest(A.Options); },
     [](Asked &A, RunStory &S) { return RestoreCommand(A.Options.RestoreText, A.Job, S); }},
    {ToolOperation::Clear, &CliOptions::ClearRequested, "clear", true, false, true,
     [](Asked &A, RunStory &) { return CheckClearRequest(A.Options); },
     [](Asked &A, RunStory &S) { return ClearCommand(A.Job, S); }},
    {ToolOperation::Edit, &CliOptions::EditRequested, "edit", true, false, true,
     [](Asked &A, RunStory &) { return CheckEditRequest(A.Options, &A.Write, &A.Edit); },
     [](Asked &A, RunStory &S) { return WriteCommand(&A.Write, A.Job, S, &A.Edit); }},
    {ToolOperation::Write, &CliOptions::WriteRequested, "write", true, false, true,
     [](Asked &A, RunStory &) { return CheckWriteRequest(A.Options, &A.Write); },
     [](Asked &A, RunStory &S) { return WriteCommand(&A.Write, A.Job, S); }},
    {ToolOperation::Read, &CliOptions::ReadRequested, "read", false, false, true, Unchecked,
     [](Asked &A, RunStory &S) { return ReadCommand(A.Job, S); }},
    {ToolOperation::None, nullptr, "none", false, false, false, Unchecked, RefuseCommandLine},
};
constexpr const OperationRow &Unselected =
    Operations[sizeof(Operations) / sizeof(Operations[0]) - 1];

const OperationRow &RowOf(ToolOperation Operation) {
  for (const OperationRow &Row : Operations) {
    if (Row.Operation == Operation)
      return Row;
  }
  return Unselected;
}

} // namespace

ToolOperation OperationOf(const CliOptions &Options) {
  for (const OperationRow &Row : Operations) {
    if (Row.SelectedBy == nullptr || Options.*Row.SelectedBy)
      return Row.Operation;
  }
  return Unselected.Operation;
}

bool OperationWrites(ToolOperation Operation) {
  return RowOf(Operation).Writes;
}

bool IsStationJob(ToolOperation Operation) {
  return RowOf(Operation).Job;
}

RunLogEntry LogEntryOf(const CliOptions &Options, ToolOperation Operation, const JobValues &Values,
                       LoggedValue *Asked) {
  if (IsStationJob(Operation))
    return JobLogEntry(Operation, RowOf(Operation).Name, Values, Asked);
  UINTN AskedCount = 0;
  for (const ToolOption &Option : ToolOptions) {
    if (Option.Value == nullptr || TakesAnyValue(Option) || !(Options.*Option.Given) ||
        Options.*Option.Value == nullptr)
      continue;
    Asked[AskedCount++] = {Option.Long + 2, Options.*Option.Value};
  }
  return {RowOf(Operation).Name,
          Options.IfBlankRequested ? "if-blank"
          : Options.IfSerialGiven  ? "if-serial"
                                   : "none",
          Options.IfSerialText,
          Asked,
          AskedCount,
          Options.BackupText,
          Options.RestoreText,
          nullptr};
}

ToolStatus RunOperation(ToolOperation Operation, const CliOptions &Options, const JobValues &Values,
                        RunStory &Story) {
  const OperationRow &Row = RowOf(Operation);
  Asked A = {Options, Values, {}, {}, {Gpp1Guard::None, nullptr, false, nullptr, false}};
  // The script's form of a job's values means nothing to any other operation.
  if (Options.FromScriptRequested && !IsStationJob(Operation) && Operation != ToolOperation::Help) {
    PrintConsole(u"ERROR: --from-script goes with a station job only!\n");
    return ToolBadCommandLine;
  }
  ToolStatus Status = Row.Check(A, Story);
  if (Status == ToolSuccess && Row.OnGpp1)
    Status = CheckSharedOptions(Options, &A.Job);
  return Status == ToolSuccess ? Row.Run(A, Story) : Status;
}
