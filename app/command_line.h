// The command line: options, the banner and help, and ToolMain, which runs one operation.
#pragma once

#include "app/cli_options.h"

// Lowers the option words of Argv in place (values are left as typed) and fills Options.
VOID ParseCommandLine(UINTN Argc, CHAR16 **Argv, CliOptions *Options);
VOID PrintHelp();
ToolStatus ToolMain(UINTN Argc, CHAR16 **Argv);
