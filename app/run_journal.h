// What one run did to GPP1, kept as it happens so that the run log can say it afterwards: whether
// GPP1 was found, whether a write reached the device, how its check ended, and the record before
// and after. Reset at the start of every run.
#pragma once

#include "app/board_record.h"

struct RunJournal {
  bool Gpp1Missing;    // the search found no GPP1
  bool WriteReached;   // a write was handed to the device
  bool WriteFailed;    // the device refused the write or its flush
  bool ReadBackFailed; // the read-back after a write failed
  bool VerifyFailed;   // the read-back differs from what was written
  bool DryRun;         // stopped before writing, as asked
  bool BeforeKnown;
  bool AfterKnown;
  UINT8 Before[BoardRecordSize];
  UINT8 After[BoardRecordSize];
  const CHAR8 *Reason; // set where a refusal has more to say than its status, else null
};

inline RunJournal Journal = {};
