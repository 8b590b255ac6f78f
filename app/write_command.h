// -w: build a record from the checked request, write it to GPP1 and verify it; --edit: the same
// over the stored record, changing only the fields given; -c: blank GPP1 block 0. Each may first
// require what GPP1 holds (a guard) and may stop short of writing (a dry run).
#pragma once

#include "app/board_record.h"

// What block 0 must hold for a write or a clear to go ahead.
enum class Gpp1Guard {
  None,
  Blank,  // the blank record, or an erased block (all zeros or all 0xFF)
  Serial, // a record that passes its CRC check, of the Pylon serial given
};

struct RecordJob {
  Gpp1Guard Guard;
  const CHAR16 *GuardSerial; // for Gpp1Guard::Serial
  bool DryRun;               // everything up to the write, then the record shown instead
  const CHAR16 *BackupPath;  // block 0 as it was goes to this new file before the write, or null
  bool ReadBefore;           // block 0 is read first even without a guard (for the run log)
};

// The fields an edit takes from the request; every other field keeps its stored value. A
// CarrierSerial taken from the request may be null: the record then has none.
struct RecordEdit {
  bool ModuleSerial;
  bool Mm;
  bool CarrierSerial;
  bool BoardId;
  bool FabId;
  bool BomId;
};

ToolStatus WriteCommand(const WriteRequest *Request, const RecordJob *Job = nullptr,
                        const RecordEdit *Edit = nullptr);
ToolStatus ClearCommand(const RecordJob *Job = nullptr);
// --restore: a file made by --backup written back to block 0 and verified, under the same guards
// and dry run as a write; the restored record is then shown as -r shows it.
ToolStatus RestoreCommand(const CHAR16 *Path, const RecordJob *Job);
