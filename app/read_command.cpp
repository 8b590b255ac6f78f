#include "app/read_command.h"

#include "app/board_record.h"
#include "app/gpp1.h"
#include "app/json_text.h"
#include "app/backup_files.h"
#include "app/run_log.h"
#include "shell/console.h"
#include "shell/memory.h"

namespace {

constexpr UINTN IdTextSize = 17;
constexpr UINTN DumpBytesPerRow = 16;
constexpr UINTN DumpRowsPerGroup = 4;
constexpr UINTN DumpBytesPerGroup = 4;
// Room for a record object whose every text byte is escaped.
constexpr UINTN RecordJsonSize = 4096;

// Digits needed to write the number of dump rows in hexadecimal.
constexpr UINT8 DumpRowLabelWidth() {
  UINT8 Width = 1;
  for (UINTN Rows = BoardRecordSize / DumpBytesPerRow; Rows >= 16; Rows /= 16)
    Width++;
  return Width;
}

VOID PrintDumpSeparator(UINT8 LabelWidth) {
  PrintConsole(u" +");
  PrintRepeated(static_cast<UINT8>(LabelWidth + 3), u"-");
  PrintConsole(u"+----------------------------------------------------+------------------+\n");
}

VOID PrintIdLine(ConsoleFormat<const CHAR8 *, const CHAR8 *> Format, const CHAR8 *Label,
                 const UINT8 *Field) {
  CHAR8 IdText[IdTextSize];
  FormatToAscii(IdText, sizeof(IdText), "%08x", LoadLe32(Field));
  PrintConsole(Format, Label, IdText);
}

VOID PrintTextLine(ConsoleFormat<const CHAR8 *, const CHAR8 *> Format, const CHAR8 *Label,
                   const UINT8 *Field) {
  CHAR8 Value[RecordTextBufferSize];
  CopyRecordText(Value, Field);
  PrintConsole(Format, Label, Value);
}

} // namespace

VOID PrintRepeated(UINT8 Count, const CHAR16 *Text) {
  if (Text == nullptr) {
    ReportInternalError(InternalCheck::PrintRepeatedText);
    return;
  }
  for (UINT8 I = 0; I < Count; I++)
    PrintConsole(u"%s", Text);
}

VOID ShowBoardRecord(const UINT8 *Record) {
  CHAR8 Label[RecordTextBufferSize];
  CopyRecordText(Label, Record + RecordOffset::Product);
  PrintTextLine(u"%16a Serial   #%a\n", Label, Record + RecordOffset::ModuleSerial);
  PrintIdLine(u"%16a Board ID  %a\n", Label, Record + RecordOffset::BoardId);
  PrintIdLine(u"%16a Fab ID    %a\n", Label, Record + RecordOffset::FabId);
  PrintIdLine(u"%16a BOM ID    %a\n", Label, Record + RecordOffset::BomId);
  PrintTextLine(u"%16a MM       #%a\n", Label, Record + RecordOffset::MmNumber);
  PrintTextLine(u"%16a Serial   #%a\n", "Sandrel", Record + RecordOffset::CarrierSerial);
}

VOID DumpRecordHex(const UINT8 *Record) {
  constexpr UINT8 LabelWidth = DumpRowLabelWidth();
  PrintRepeated(LabelWidth + 5, u" ");
  PrintConsole(u"+----------------------------------------------------+------------------+\n");
  PrintRepeated(LabelWidth + 5, u" ");
  PrintConsole(u"| x0 x1 x2 x3  x4 x5 x6 x7  x8 x9 xA xB  xC xD xE xF |      String      |\n");
  PrintDumpSeparator(LabelWidth);

  CHAR8 Column[DumpBytesPerRow + 1];
  for (UINTN I = 0; I < BoardRecordSize; I++) {
    UINTN InRow = I % DumpBytesPerRow;
    if (InRow == 0) {
      if (I != 0 && I % (DumpBytesPerRow * DumpRowsPerGroup) == 0)
        PrintDumpSeparator(LabelWidth);
      PrintConsole(u" | %0*xx | ", static_cast<UINT64>(LabelWidth),
                   static_cast<UINT32>(I / DumpBytesPerRow));
    }
    PrintConsole(u"%02x ", Record[I]);
    Column[InRow] = (Record[I] >= 0x20 && Record[I] <= 0x7E) ? static_cast<CHAR8>(Record[I]) : '.';
    if (InRow == DumpBytesPerRow - 1) {
      Column[DumpBytesPerRow] = 0;
      PrintConsole(u"| %a |\n", Column);
    } else if (InRow % DumpBytesPerGroup == DumpBytesPerGroup - 1) {
      PrintConsole(u" ");
    }
  }
  PrintDumpSeparator(LabelWidth);
}

ToolStatus ReadCommand(const RecordJob &Job, RunStory &Story) {
  Gpp1Block Block;
  ToolStatus Status = ReadBlockZero(Story, &Block);
  if (Status != ToolSuccess)
    return Status;
  Story.Before = SeeBlock(Block.Data, Block.Size);
  const SeenRecord &Seen = Story.Before;
  // A station's last step reads the record it asked for: a read under a guard shows nothing else.
  Status = CheckGuard(Job, Seen.Check.Kind, Seen.Record, Story);
  if (Status != ToolSuccess)
    return Status;
  if (!PassesCrc(Seen.Check.Kind)) {
    PrintConsole(u"ERROR: GPP1 data is corrupted! CRC32 fails.\n");
    // The bytes as stored, so that a record no reader accepts can still be seen and saved.
    if (Story.Debug)
      DumpRecordHex(Seen.Record);
    return ToolRecordFailsCrc;
  }
  ShowBoardRecord(Seen.Record);
  if (Story.Debug)
    DumpRecordHex(Seen.Record);
  return ToolSuccess;
}

ToolStatus InspectCommand(const RecordJob &Job, const CHAR16 *SavePath, RunStory &Story) {
  ToolStatus Status = ReadCommand(Job, Story);
  if (Status != ToolSuccess)
    return Status;
  PrintConsole(u"- Saving the record to %s...\n", SavePath);
  auto Json = PoolPtr<CHAR8>::Allocate(RecordJsonSize);
  if (!Json) {
    PrintConsole(u"ERROR: Failed to allocate pool!\n");
    return ToolOutOfMemory;
  }
  JsonText Text = JsonTextIn(Json.Get(), RecordJsonSize);
  JsonAppendRecord(&Text, Story.Before);
  JsonAppendRaw(&Text, "\n");
  if (Text.Overflowed) {
    PrintConsole(u"ERROR: The record of %s does not fit its file!\n", SavePath);
    return ToolFileNotKept;
  }
  Status = SaveNewFile(SavePath, reinterpret_cast<const UINT8 *>(Json.Get()), Text.Used,
                       RecordFileWords, &Story.Saved);
  if (Status != ToolSuccess)
    Story.Reason = "record not saved, nothing written";
  return Status;
}
