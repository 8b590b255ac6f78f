#include "app/write_command.h"

#include "app/board_record.h"
#include "app/gpp1.h"
#include "app/read_command.h"
#include "shell/console.h"
#include "shell/memory.h"

namespace {

// Reads block 0 back and compares it with what was written: the record, then zeros to the end
// of the block. A device that accepted the write but kept its old contents, wrote only part of
// the block or hands back different bits is caught here rather than reported as a success.
ToolStatus VerifyWrittenBlock(const UINT8 *Image, UINT8 *ReadBack) {
  bool TailIsZero = false;
  ToolStatus Status = ReadGpp1RecordAndTail(ReadBack, &TailIsZero);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    return Status;
  }
  for (UINTN I = 0; I < BoardRecordSize; I++) {
    if (ReadBack[I] != Image[I]) {
      TailIsZero = false;
      break;
    }
  }
  if (!TailIsZero) {
    PrintConsole(u"ERROR: Failed to verify GPP1!\n");
    return ToolCrcError;
  }
  return ToolSuccess;
}

} // namespace

ToolStatus WriteCommand(const WriteRequest *Request) {
  UINT8 Image[BoardRecordSize];
  UINT8 ReadBack[BoardRecordSize];
  ZeroBytes(Image, sizeof(Image));
  ToolStatus Protection = RefuseIfWriteProtected();
  if (Protection != ToolSuccess)
    return Protection;
  if (Request == nullptr) {
    ReportInternalError(InternalCheck::WriteCommandOptions);
    return ToolInvalidParameter;
  }

  PrintConsole(u"- Creating binary image...\n");
  ToolStatus Status = BuildBoardRecord(Request, Image);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to create binary data!\n");
    return Status;
  }
  if (DebugEnabled)
    DumpRecordHex(Image);

  PrintConsole(u"- Writing binary image...\n");
  Status = WriteGpp1Record(Image);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to write binary data!\n");
    return Status;
  }

  // The read-back finds GPP1 afresh, as the write did (see docs/kept-on-purpose.md).
  PrintConsole(u"- Verifying binary image...\n");
  Status = VerifyWrittenBlock(Image, ReadBack);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to verify binary data!\n");
  return Status;
}

ToolStatus ClearCommand() {
  UINT8 Image[BoardRecordSize];
  ZeroBytes(Image, sizeof(Image));
  ToolStatus Protection = RefuseIfWriteProtected();
  if (Protection != ToolSuccess)
    return Protection;
  PrintConsole(u"- Clearing GPP1 data...\n");
  ToolStatus Status = WriteGpp1Record(Image);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to write binary data!\n");
    return Status;
  }
  // A blank block is checked like a written record: success means the device holds zeros.
  UINT8 ReadBack[BoardRecordSize];
  Status = VerifyWrittenBlock(Image, ReadBack);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to verify binary data!\n");
  return Status;
}
