// -w: build a record from the options, write it to GPP1 and verify it; -c: blank GPP1 block 0.
#pragma once

#include "app/cli_options.h"

ToolStatus WriteCommand(const CliOptions *Options);
ToolStatus ClearCommand();
