#include "app/tool_request.h"

#include "app/operations.h"
#include "app/station_job.h"
#include "shell/memory.h"

VOID ParseToolRequest(UINTN Argc, CHAR16 **Argv, ToolRequest *Request) {
  ZeroBytes(Request, sizeof(*Request));
  Request->Argc = Argc;
  Request->Argv = Argv;
  Request->Ending = {false, 0, RunEnd::Return};
  if (Argv == nullptr)
    return;
  CliOptions &Options = Request->Options;
  ParseCommandLine(Argc, Argv, &Options, &Request->Notes);
  Request->Operation = OperationOf(Options);
  // Values the checks refuse leave the defaults.
  Request->Ending.WaitGiven = Options.WaitGiven && Options.Wait.Fault == 0;
  Request->Ending.WaitSeconds = Request->Ending.WaitGiven ? Options.Wait.Number : 0;
  if (Options.ThenGiven && Options.Then.Fault == 0)
    Request->Ending.Then = static_cast<RunEnd>(Options.Then.Number);
  Request->LogPath = Options.LogGiven                   ? Options.LogText
                     : IsStationJob(Request->Operation) ? DefaultJobLog
                                                        : nullptr;
}
