// The command line: one table of the tool's options drives the parser, the help text, the write
// checks and the choice of operation; ToolMain runs that operation.
#pragma once

#include "app/board_record.h"
#include "app/cli_options.h"
#include "shell/console.h"

// One option: its two words, where it records itself, and what the help and the messages say
// about it. Value is null for a switch.
struct ToolOption {
  const CHAR16 *Short;
  const CHAR16 *Long;
  UINT8 CliOptions::*Given;
  const CHAR16 *CliOptions::*Value;
  const CHAR16 *ValueHelp;   // the help's name for the value ("ID"), empty for a switch
  const CHAR16 *Description; // the help's text
  ConsoleFormat<> MoreHelp;  // further help lines, or empty
  const CHAR16 *Label;       // how a message names the value ("Board ID"), or null
};

// The options, in the order the help lists them: first those with a short form, then those
// with a long form only.
constexpr UINTN ToolOptionCount = 20;
extern const ToolOption ToolOptions[ToolOptionCount];

// The one operation a command line selects: help over restore, restore over clear, clear over
// edit, edit over write, write over read. (The operations' checks then refuse a clear, restore or
// edit given with another operation.)
enum class ToolOperation { None, Help, Restore, Clear, Edit, Write, Read };
ToolOperation OperationOf(const CliOptions &Options);
// Whether the operation may write GPP1.
bool OperationWrites(ToolOperation Operation);

// Whether the parser reports each entry it does not know ("Unknown! - Argv[n]").
enum class ParseReport { Print, Silent };

// Lowers the option words of Argv in place (values are left as typed) and fills Options. An
// option with a value takes the next entry, unless it starts with '-' for the options that have
// a short form; a long option also takes it in GNU's "--name=value" form.
VOID ParseCommandLine(UINTN Argc, CHAR16 **Argv, CliOptions *Options,
                      ParseReport Report = ParseReport::Print);
VOID PrintHelp();

// The write checks, in order, each with its "ERROR: " line(s): the required options, the values of
// the optional ones, no unknown entry, then every value storable as given. On success Request
// holds the checked texts and the converted IDs.
ToolStatus CheckWriteRequest(const CliOptions &Options, WriteRequest *Request);

ToolStatus ToolMain(UINTN Argc, CHAR16 **Argv);

// How a run ends once the tool is done (--wait, --then): the seconds its outcome stays on the
// screen unless a key is pressed (WaitGiven false: the caller's default), then a return to
// whoever started the image, or a reset or power-off of the board. Read from a command line
// ToolMain took; values it refused leave the defaults.
enum class RunEnd { Return, Reset, PowerOff };
struct RunEnding {
  bool WaitGiven;
  UINT32 WaitSeconds;
  RunEnd Then;
};
constexpr UINT32 MaxWaitSeconds = 3600;
RunEnding RunEndingOf(UINTN Argc, CHAR16 **Argv);
