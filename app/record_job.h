// What a run asks of GPP1 around the record itself: a guard that must hold before anything is
// written (or shown, for a read), a dry run, the block kept before a change, and what block 0
// holds as the guard sees it.
#pragma once

#include "app/run_story.h"

// What block 0 must hold for the operation to go ahead.
enum class Gpp1Guard {
  None,
  Blank,  // the blank record, or an erased block (all zeros or all 0xFF)
  Serial, // a record that passes its CRC check, of the Pylon serial given
};

struct RecordJob {
  Gpp1Guard Guard;
  const CHAR16 *GuardSerial; // for Gpp1Guard::Serial
  bool DryRun;               // everything up to the write, then the record shown instead
  const CHAR16 *BackupPath;  // block 0 as it was goes to a new file of this name first, or null
  bool ReadBefore;           // block 0 is read first even without a guard (for the run log)
};

// ToolSuccess when the job's guard holds over what block 0 holds (Kind, its record Stored);
// otherwise ToolGuardRefused, with one "ERROR: " line saying what GPP1 holds instead and the
// story's reason set.
ToolStatus CheckGuard(const RecordJob &Job, BlockKind Kind, const UINT8 *Stored, RunStory &Story);
