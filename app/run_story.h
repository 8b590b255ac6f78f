// What one run did to GPP1, told by the operations as they go and handed whole to the run's log
// line once they are done: whether GPP1 was found, whether a write reached the device, the record
// before and after, and the backup kept. Each run has its own, from its first step on.
#pragma once

#include "app/gpp1.h"
#include "shell/memory.h"

struct RunStory {
  bool Debug;        // asked with --debug: progress lines and hex dumps are shown
  bool Gpp1Missing;  // the search found no GPP1
  bool WriteReached; // a write was handed to the device
  bool DryRun;       // stopped before writing, as asked
  bool AlreadyHeld;  // a guarded change found GPP1 holding exactly what it would leave
  SeenRecord Before;
  SeenRecord After;
  PoolPtr<CHAR16> Backup; // the file that keeps the replaced block, once it is kept
  PoolPtr<CHAR16> Saved;  // the file an inspection saved the record in, once it is saved
  const CHAR8 *Reason;    // set where a refusal has more to say than its status, else null

  // What a call on GPP1 reported.
  VOID Tell(const Gpp1Visit &Visit);
};

// Block 0 read for the run: "ERROR: Failed to read eMMC GPP1!" when it cannot be.
ToolStatus ReadBlockZero(RunStory &Story, Gpp1Block *Block);

// The words a log line and the outcome line give for the run's outcome.
const CHAR8 *RunReason(ToolStatus Status, const RunStory &Story);
