#include "app/operations.h"

#include "app/read_command.h"
#include "app/request_checks.h"
#include "app/write_command.h"

namespace {

// A command line on its way to its operation: its options, and what the checks make of them.
struct Asked {
  const CliOptions &Options;
  WriteRequest Write;
  RecordEdit Edit;
  RecordJob Job;
};
using Step = ToolStatus (*)(Asked &A, RunStory &Story);

struct OperationRow {
  ToolOperation Operation;
  const CHAR8 *Name; // in the run log
  bool OnGpp1;       // the checks every operation on GPP1 shares come before it runs
  Step Check;
  Step Run;
};

ToolStatus Unchecked(Asked &, RunStory &) {
  return ToolSuccess;
}

ToolStatus RefuseCommandLine(Asked &, RunStory &) {
  PrintConsole(u"ERROR: Invalid CLI option(s)!\n");
  return ToolInvalidParameter;
}

ToolStatus ShowHelp(Asked &, RunStory &) {
  PrintHelp();
  return ToolSuccess;
}

constexpr OperationRow Operations[] = {
    {ToolOperation::None, "none", false, Unchecked, RefuseCommandLine},
    {ToolOperation::Help, "help", false, Unchecked, ShowHelp},
    {ToolOperation::Restore, "restore", true,
     [](Asked &A, RunStory &) { return CheckRestoreRequest(A.Options); },
     [](Asked &A, RunStory &S) { return RestoreCommand(A.Options.RestoreText, A.Job, S); }},
    {ToolOperation::Clear, "clear", true,
     [](Asked &A, RunStory &) { return CheckClearRequest(A.Options); },
     [](Asked &A, RunStory &S) { return ClearCommand(A.Job, S); }},
    {ToolOperation::Edit, "edit", true,
     [](Asked &A, RunStory &) { return CheckEditRequest(A.Options, &A.Write, &A.Edit); },
     [](Asked &A, RunStory &S) { return WriteCommand(&A.Write, A.Job, S, &A.Edit); }},
    {ToolOperation::Write, "write", true,
     [](Asked &A, RunStory &) { return CheckWriteRequest(A.Options, &A.Write); },
     [](Asked &A, RunStory &S) { return WriteCommand(&A.Write, A.Job, S); }},
    {ToolOperation::Read, "read", true, Unchecked,
     [](Asked &A, RunStory &S) { return ReadCommand(A.Job, S); }},
};

const OperationRow &RowOf(ToolOperation Operation) {
  for (const OperationRow &Row : Operations) {
    if (Row.Operation == Operation)
      return Row;
  }
  return Operations[0];
}

} // namespace

RunLogEntry LogEntryOf(const CliOptions &Options, ToolOperation Operation, LoggedValue *Asked) {
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
          Options.RestoreText};
}

ToolStatus RunOperation(ToolOperation Operation, const CliOptions &Options, RunStory &Story) {
  const OperationRow &Row = RowOf(Operation);
  Asked A = {Options, {}, {}, {Gpp1Guard::None, nullptr, false, nullptr, false}};
  ToolStatus Status = Row.Check(A, Story);
  if (Status == ToolSuccess && Row.OnGpp1)
    Status = CheckSharedOptions(Options, &A.Job);
  return Status == ToolSuccess ? Row.Run(A, Story) : Status;
}
