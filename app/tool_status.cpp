#include "app/tool_status.h"

#include "shell/console.h"

VOID ReportInternalError(InternalCheck Place) {
  PrintConsole(u"ERROR: [#%d] Internal coding error!\n", static_cast<int>(Place));
}

const ToolStatusRow *StatusRow(ToolStatus Status) {
  for (const ToolStatusRow &Row : ToolStatuses) {
    if (Row.Value == Status)
      return &Row;
  }
  return nullptr;
}
