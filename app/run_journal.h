// What one run did to GPP1, kept as it happens so that the run log can say it afterwards: whether
// GPP1 was found, whether a write reached the device, the record before and after, and the backup
// kept. Reset at the start of every run.
#pragma once

#include "app/board_record.h"

struct RunJournal {
  bool Gpp1Missing;  // the search found no GPP1
  bool WriteReached; // a write was handed to the device
  bool DryRun;       // stopped before writing, as asked
  bool AlreadyHeld;  // a guarded change found GPP1 holding exactly what it would leave
  bool BeforeKnown;
  bool AfterKnown;
  UINT8 Before[BoardRecordSize];
  UINT8 After[BoardRecordSize];
  CHAR16 *Backup;      // the file that keeps the replaced block, once it is kept (pool)
  const CHAR8 *Reason; // set where a refusal has more to say than its status, else null
};

inline RunJournal Journal = {};
