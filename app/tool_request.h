// The tool's command line parsed once into what a run is asked: the options with their values,
// the operation they select, how the run ends and where it is logged. Nothing after the parse
// looks at the words again but to take a job's values and to say the words the parse noted.
#pragma once

#include "app/command_line.h"
#include "app/request_checks.h"

// How a run ends once the tool is done (--wait, --then): the seconds its outcome stays on the
// screen unless a key is pressed (WaitGiven false: the caller's default), then a return, a reset
// or a power-off. Values the checks refuse leave the defaults.
struct RunEnding {
  bool WaitGiven;
  UINT32 WaitSeconds;
  RunEnd Then;
};

struct ToolRequest {
  UINTN Argc;
  CHAR16 **Argv; // null when the caller had no vector
  CliOptions Options;
  ParseNotes Notes;
  ToolOperation Operation;
  RunEnding Ending;
  const CHAR16 *LogPath; // --log's file, a station job's provision.log, or null
};

// Parses Argv (its option words lowered in place) into Request; says nothing.
VOID ParseToolRequest(UINTN Argc, CHAR16 **Argv, ToolRequest *Request);
