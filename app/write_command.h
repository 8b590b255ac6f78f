// -w: build a record from the checked request, write it to GPP1 and verify it; -c: blank GPP1 block 0.
#pragma once

#include "app/board_record.h"

ToolStatus WriteCommand(const WriteRequest *Request);
ToolStatus ClearCommand();
