#include "app/operations.h"

#include "app/read_command.h"
#include "app/request_checks.h"
#include "app/write_command.h"

namespace {

// A write's or an edit's request, as its checks leave it for the command.
struct Request {
  WriteRequest Write;
  RecordEdit Edit;
};

struct OperationRow {
  ToolOperation Operation;
  const CHAR8 *Name; // in the run log
  bool OnGpp1;       // the checks every operation on GPP1 shares come before it runs
  ToolStatus (*Check)(const CliOptions &Options, Request *Asked);
  ToolStatus (*Run)(const CliOptions &Options, const Request &Asked, const RecordJob &Job,
                    RunStory &Story);
};

ToolStatus NoCheck(const CliOptions &, Request *) {
  return ToolSuccess;
}

constexpr OperationRow Operations[] = {
    {ToolOperation::None, "none", false, NoCheck,
     [](const CliOptions &, const Request &, const RecordJob &, RunStory &) -> ToolStatus {
       PrintConsole(u"ERROR: Invalid CLI option(s)!\n");
       return ToolInvalidParameter;
     }},
    {ToolOperation::Help, "help", false, NoCheck,
     [](const CliOptions &, const Request &, const RecordJob &, RunStory &) -> ToolStatus {
       PrintHelp();
       return ToolSuccess;
     }},
    {ToolOperation::Restore, "restore", true,
     [](const CliOptions &Options, Request *) { return CheckRestoreRequest(Options); },
     [](const CliOptions &Options, const Request &, const RecordJob &Job, RunStory &Story) {
       return RestoreCommand(Options.RestoreText, Job, Story);
     }},
    {ToolOperation::Clear, "clear", true,
     [](const CliOptions &Options, Request *) { return CheckClearRequest(Options); },
     [](const CliOptions &, const Request &, const RecordJob &Job, RunStory &Story) {
       return ClearCommand(Job, Story);
     }},
    {ToolOperation::Edit, "edit", true,
     [](const CliOptions &Options, Request *Asked) {
       return CheckEditRequest(Options, &Asked->Write, &Asked->Edit);
     },
     [](const CliOptions &, const Request &Asked, const RecordJob &Job, RunStory &Story) {
       return WriteCommand(&Asked.Write, Job, Story, &Asked.Edit);
     }},
    {ToolOperation::Write, "write", true,
     [](const CliOptions &Options, Request *Asked) {
       return CheckWriteRequest(Options, &Asked->Write);
     },
     [](const CliOptions &, const Request &Asked, const RecordJob &Job, RunStory &Story) {
       return WriteCommand(&Asked.Write, Job, Story);
     }},
    {ToolOperation::Read, "read", true, NoCheck,
     [](const CliOptions &, const Request &, const RecordJob &Job, RunStory &Story) {
       return ReadCommand(Job, Story);
     }},
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

// Checks the command line for the operation it selects and runs it: each operation's own checks,

ToolStatus RunOperation(ToolOperation Operation, const CliOptions &Options, RunStory &Story) {
  const OperationRow &Row = RowOf(Operation);
  Request Asked = {};
  RecordJob Job = {Gpp1Guard::None, nullptr, false, nullptr, false};
  ToolStatus Status = Row.Check(Options, &Asked);
  if (Status == ToolSuccess && Row.OnGpp1)
    Status = CheckSharedOptions(Options, &Job);
  return Status == ToolSuccess ? Row.Run(Options, Asked, Job, Story) : Status;
}
