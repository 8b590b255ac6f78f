#include "app/tool_request.h"

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
  Request->Ending.WaitGiven =
      Options.WaitGiven && ParseWait(Options.WaitText, &Request->Ending.WaitSeconds);
  if (Options.ThenGiven && !ParseThen(Options.ThenText, &Request->Ending.Then))
    Request->Ending.Then = RunEnd::Return;
  Request->LogPath = Options.LogGiven                   ? Options.LogText
                     : IsStationJob(Request->Operation) ? DefaultJobLog
                                                        : nullptr;
}
