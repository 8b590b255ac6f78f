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
  ToolStatus Status = ReadGpp1Block(Block, &Visit);
  Story.Tell(Visit);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
  return Status;
}

const CHAR8 *RunReason(ToolStatus Status, const RunStory &Story) {
  // A run whose line is not in its log says so, whatever else it had to say.
  if (Status == ToolNotLoggedNothingWritten)
    return "not logged, nothing written";
  if (Status == ToolNotLoggedWritten)
    return "written, not logged";
  if (Story.Reason != nullptr)
    return Story.Reason;
  switch (Status) {
  case ToolSuccess:
    return Story.DryRun        ? "dry run, nothing written"
           : Story.AlreadyHeld ? "already holds this record"
                               : "ok";
  case ToolInvalidParameter:
    return "bad arguments";
  case ToolDeviceError:
    return Story.Gpp1Missing ? "GPP1 not found" : "GPP1 cannot be used";
  case ToolWriteProtected:
    return "write-protected";
  case ToolOutOfResources:
    return "out of memory, nothing written";
  case ToolVolumeCorrupted:
    return "record fails its CRC";
  case ToolCrcError:
    return "written, verify failed";
  case ToolBackupFailed:
    return "backup failed, nothing written";
  case ToolReadFailed:
    return "device error, nothing written";
  case ToolWriteFailedUnchanged:
    return "write failed, GPP1 unchanged";
  case ToolWrittenUnconfirmed:
    return "written, unconfirmed by the device";
  case ToolWrittenUnknown:
    return "write failed, GPP1 unknown";
  default:
    return "failed";
  }
}
