// -w: build a record from the checked request, write it to GPP1 and verify it; --edit: the same
// over the stored record, changing only the fields given; -c: blank GPP1 block 0; --restore: put
// back a block kept by --backup. Each may first require what GPP1 holds (a guard) and may stop
// short of writing (a dry run).
#pragma once

#include "app/board_record.h"
#include "app/record_job.h"

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

// Each tells what it did in Story.
ToolStatus WriteCommand(const WriteRequest *Request, const RecordJob &Job, RunStory &Story,
                        const RecordEdit *Edit = nullptr);
ToolStatus ClearCommand(const RecordJob &Job, RunStory &Story);
// --restore: a file made by --backup written back to block 0 and verified, under the same guards
// and dry run as a write; the restored record is then shown as -r shows it.
ToolStatus RestoreCommand(const CHAR16 *Path, const RecordJob &Job, RunStory &Story);
