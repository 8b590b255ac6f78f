// The command line: the option table (tool_options.h) drives the parser and the help; the
// operation a command line selects is checked (request_checks.h) and run (operations.h) by
// ToolMain (tool_main.h).
#pragma once

#include "app/tool_options.h"

// The operations a command line can select (operations.h says which one it does).
enum class ToolOperation {
  None,
  Help,
  Provision,
  Rework,
  Inspect,
  Restore,
  Clear,
  Edit,
  Write,
  Read
};

// What the parse noted about entries it did not take, in the vector's order, for the run to say
// ("Unknown! - Argv[n]: ..." or, for a null entry, an internal error); the words stay in the
// vector. Notes beyond MaxParseNotes are counted, not kept.
constexpr UINTN MaxParseNotes = 256;
struct ParseNotes {
  UINTN Entry[MaxParseNotes];
  UINTN Count;
};

// Lowers the option words of Argv in place (values are left as typed) and fills Options, and
// Notes when given. An option with a value takes the next entry, unless it starts with '-' for the
// options that have a short form; a long option also takes it in GNU's "--name=value" form. A
// station job's name ends the options: the entries after it are its values, as typed.
VOID ParseCommandLine(UINTN Argc, CHAR16 **Argv, CliOptions *Options, ParseNotes *Notes = nullptr);
// Says what the parse noted of Argv.
VOID SayParseNotes(const ParseNotes &Notes, CHAR16 *const *Argv);
VOID PrintHelp();
