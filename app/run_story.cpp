#include "app/run_story.h"

#include "shell/console.h"

VOID RunStory::Tell(const Gpp1Visit &Visit) {
  Gpp1Missing = Gpp1Missing || Visit.Missing;
  WriteReached = WriteReached || Visit.WriteReached;
  if (Visit.Again.Known)
    After = Visit.Again;
}

ToolStatus ReadBlockZero(RunStory &Story, Gpp1Block *Block) {
  Gpp1Visit Visit = {};
  Visit.Debug = Story.Debug;
  ToolStatus Status = ReadGpp1Block(Block, &Visit);
  Story.Tell(Visit);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
  return Status;
}

const CHAR8 *RunReason(ToolStatus Status, const RunStory &Story) {
  // A run whose line is not in its log says so, whatever else it had to say.
  if (Status != ToolNotLoggedNothingWritten && Status != ToolNotLoggedWritten) {
    if (Story.Reason != nullptr)
      return Story.Reason;
    if (Status == ToolSuccess && (Story.DryRun || Story.AlreadyHeld))
      return Story.DryRun ? "dry run, nothing written" : "already holds this record";
    if (Status == ToolNoGpp1 && !Story.Gpp1Missing)
      return "GPP1 cannot be used";
  }
  const ToolStatusRow *Row = StatusRow(Status);
  return Row != nullptr ? Row->Reason : "failed";
}
