#include "app/record_job.h"

#include "shell/console.h"
#include "shell/memory.h"

namespace {

// Length of a text without the spaces that pad a record field.
template <typename Char> UINTN TrimmedLength(const Char *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0)
    Length++;
  while (Length > 0 && Text[Length - 1] == ' ')
    Length--;
  return Length;
}

// The stored Pylon serial as readers take it, without its padding.
VOID StoredSerial(const UINT8 *Stored, CHAR8 *Text) {
  CopyRecordText(Text, Stored + RecordOffset::ModuleSerial);
  Text[TrimmedLength(Text)] = 0;
}

bool SerialMatches(const CHAR8 *Stored, const CHAR16 *Given) {
  UINTN Length = TrimmedLength(Given);
  if (Length != TrimmedLength(Stored))
    return false;
  for (UINTN I = 0; I < Length; I++) {
    if (static_cast<CHAR16>(static_cast<UINT8>(Stored[I])) != Given[I])
      return false;
  }
  return true;
}

} // namespace

ToolStatus CheckGuard(const RecordJob &Job, BlockKind Kind, const UINT8 *Stored, RunStory &Story) {
  CHAR8 Serial[RecordTextBufferSize];
  StoredSerial(Stored, Serial);
  bool Blank = ReadsBlank(Kind);
  if (Job.Guard == Gpp1Guard::None || (Job.Guard == Gpp1Guard::Blank && Blank) ||
      (Job.Guard == Gpp1Guard::Serial && Kind == BlockKind::Record &&
       SerialMatches(Serial, Job.GuardSerial)))
    return ToolSuccess;
  Story.Reason = Kind == BlockKind::Record ? "guard refused: GPP1 holds another record"
                 : Blank                   ? "guard refused: GPP1 is blank"
                                           : "guard refused: GPP1 fails its CRC check";
  if (Job.Guard == Gpp1Guard::Blank) {
    Story.Reason = Kind == BlockKind::Record ? "guard refused: GPP1 is not blank"
                                             : "guard refused: GPP1 fails its CRC check";
    if (Kind == BlockKind::Record)
      PrintConsole(u"ERROR: GPP1 holds the record of Pylon Serial #%a, not a blank record!\n",
                   static_cast<const CHAR8 *>(Serial));
    else
      PrintConsole(u"ERROR: GPP1 holds data that fails its CRC check, not a blank record!\n");
  } else if (Blank) {
    PrintConsole(u"ERROR: GPP1 holds a blank record, not the record of Pylon Serial #%s!\n",
                 Job.GuardSerial);
  } else if (Kind == BlockKind::Record) {
    PrintConsole(u"ERROR: GPP1 holds the record of Pylon Serial #%a, not that of Pylon Serial "
                 u"#%s!\n",
                 static_cast<const CHAR8 *>(Serial), Job.GuardSerial);
  } else {
    PrintConsole(u"ERROR: GPP1 holds data that fails its CRC check, not the record of Pylon "
                 u"Serial #%s!\n",
                 Job.GuardSerial);
  }
  return ToolGuardRefused;
}
