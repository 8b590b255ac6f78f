#include "app/write_command.h"

#include "app/board_record.h"
#include "app/gpp1.h"
#include "app/read_command.h"
#include "app/backup_files.h"
#include "app/run_log.h"
#include "app/tool_options.h"
#include "shell/console.h"
#include "shell/memory.h"

namespace {

// The stored texts an edit keeps, as a request refers to them: each field's bytes up to its '$',
// padding included, so that a field kept is written back byte for byte.
struct StoredTexts {
  CHAR16 ModuleSerial[RecordTextBufferSize];
  CHAR16 Mm[RecordTextBufferSize];
  CHAR16 CarrierSerial[RecordTextBufferSize];
};

const CHAR16 *WidenField(const UINT8 *Field, CHAR16 *Text) {
  UINTN Length = 0;
  for (; Length < RecordTextFieldSize && Field[Length] != '$'; Length++)
    Text[Length] = Field[Length];
  Text[Length] = 0;
  return Text;
}

// Fills the fields an edit keeps from the stored record; each kept text must be one that a write
// stores as it is.
ToolStatus MergeStored(const UINT8 *Stored, const RecordEdit &Edit, StoredTexts *Texts,
                       WriteRequest *Request) {
  if (!Edit.ModuleSerial)
    Request->ModuleSerial = WidenField(Stored + RecordOffset::ModuleSerial, Texts->ModuleSerial);
  if (!Edit.Mm)
    Request->Mm = WidenField(Stored + RecordOffset::MmNumber, Texts->Mm);
  if (!Edit.CarrierSerial) {
    const CHAR16 *Carrier = WidenField(Stored + RecordOffset::CarrierSerial, Texts->CarrierSerial);
    Request->CarrierSerial = Carrier[0] == 0 ? nullptr : Carrier;
  }
  if (!Edit.BoardId)
    Request->BoardId = LoadLe32(Stored + RecordOffset::BoardId);
  if (!Edit.FabId)
    Request->FabId = LoadLe32(Stored + RecordOffset::FabId);
  if (!Edit.BomId)
    Request->BomId = LoadLe32(Stored + RecordOffset::BomId);
  struct Kept {
    const CHAR16 *Text;
    const CHAR16 *Label;
  } KeptTexts[] = {{Request->ModuleSerial, ModuleSerialOption.Label},
                   {Request->Mm, MmOption.Label},
                   {Request->CarrierSerial, CarrierSerialOption.Label}};
  for (const Kept &K : KeptTexts) {
    if (K.Text != nullptr && CheckStorableText(K.Text) != TextFault::None) {
      PrintConsole(u"ERROR: The stored %s cannot be written back as it is; give a new one!\n",
                   K.Label);
      return ToolBadCommandLine;
    }
  }
  return ToolSuccess;
}

// Block 0 as a guard, an edit or the log sees it: the run's record before.
ToolStatus ReadStored(RunStory &Story) {
  PrintConsole(u"- Reading GPP1 data...\n");
  Gpp1Block Block;
  ToolStatus Status = ReadBlockZero(Story, &Block);
  if (Status == ToolSuccess)
    Story.Before = SeeBlock(Block.Data, Block.Size);
  return Status;
}

// Whether a change reads block 0 before it is made: for its guard, its dry run or its log.
bool ReadsFirst(const RecordJob &Job) {
  return Job.Guard != Gpp1Guard::None || Job.DryRun || Job.ReadBefore;
}

// Whether block 0 already is exactly what writing Image (the rest of the block zeros) leaves.
bool HoldsImage(const SeenRecord &Stored, const UINT8 *Image) {
  return Stored.Check.TailZero && BytesEqual(Stored.Record, Image, BoardRecordSize);
}

// Reads block 0 back and compares the whole of it with Data (Length bytes) followed by zeros.
// When the read-back itself fails, the block may well be on the device: one more read says.
ToolStatus VerifyBlock(const UINT8 *Data, UINTN Length, RunStory &Story) {
  Gpp1Block Block;
  if (ReadBlockZero(Story, &Block) != ToolSuccess) {
    Gpp1Visit Visit = {};
    Visit.Debug = Story.Debug;
    if (ReadGpp1Block(&Block, &Visit) != ToolSuccess)
      return JudgeReadOnceMore(nullptr, 0, Data, Length, nullptr);
    Story.After = SeeBlock(Block.Data, Block.Size);
    return JudgeReadOnceMore(Block.Data, Block.Size, Data, Length, nullptr);
  }
  Story.After = SeeBlock(Block.Data, Block.Size);
  if (Block.Size < Length || !BytesEqual(Block.Data, Data, Length) ||
      !AllBytesZero(Block.Data + Length, Block.Size - Length)) {
    PrintConsole(u"ERROR: Failed to verify GPP1!\n");
    return ToolVerifyFailed;
  }
  return ToolSuccess;
}

// Block 0 as it is, whatever it holds, goes to the job's backup file before anything is written.
ToolStatus BackUpBlock(const RecordJob &Job, RunStory &Story) {
  if (Job.BackupPath == nullptr)
    return ToolSuccess;
  PrintConsole(u"- Saving GPP1 block 0 to %s...\n", Job.BackupPath);
  Gpp1Block Block;
  ToolStatus Status = ReadBlockZero(Story, &Block);
  if (Status != ToolSuccess)
    return Status;
  if (!Story.Before.Known)
    Story.Before = SeeBlock(Block.Data, Block.Size);
  return SaveBackupFile(Job.BackupPath, Block.Data, Block.Size, &Story.Backup);
}

// A backup stands for a block that a write may have changed; when GPP1 is known to hold what it
// held, it stands for nothing and is taken away again.
VOID DropUnneededBackup(ToolStatus Status, RunStory &Story) {
  if (!Story.Backup || (Story.WriteReached && Status != ToolWriteFailedUnchanged))
    return;
  DiscardBackupFile(Story.Backup.Get());
  Story.Backup.Reset();
}

// The record a change stores, or a restore puts back, as -r shows it; a restored block that held
// no valid record when it was saved is put back all the same, and said so.
VOID ShowRecord(const UINT8 *Shown, bool Restore, bool Debug) {
  if (!Restore || RecordCrcMatches(Shown, nullptr, nullptr))
    ShowBoardRecord(Shown);
  else
    PrintConsole(u"The restored block holds no record that passes its CRC check.\n");
  if (Debug)
    DumpRecordHex(Shown);
}

// One change of block 0: Length bytes of Data, the record (the rest of the block zeros) or with
// Restore a whole block, and what the console says while it is made.
struct BlockChange {
  const UINT8 *Data;
  UINTN Length;
  bool Restore;
  bool DumpFirst; // under --debug, the record in hex before it is written
  ConsoleFormat<> Progress;
  ConsoleFormat<> Verifying; // empty for none
};

// A dry run shows what the change would store and stops; a backup it asks for is made and
// removed again, so that the run shows it could be made.
ToolStatus EndInDryRun(const RecordJob &Job, const BlockChange &Change, RunStory &Story) {
  ToolStatus Status = BackUpBlock(Job, Story);
  if (Status != ToolSuccess)
    return Status;
  Story.DryRun = true;
  DropUnneededBackup(Status, Story);
  ShowRecord(Change.Data, Change.Restore, Story.Debug);
  PrintConsole(u"Dry run: nothing was written.\n");
  return ToolSuccess;
}

// The change once its checks have passed: a dry run's show, nothing for a guarded change GPP1
// already holds (Held: its retry after a write that went through unconfirmed, or a second run of
// the same step, succeeds without writing), or the backup, the write and its verify.
ToolStatus MakeChange(const RecordJob &Job, bool Held, const BlockChange &Change, RunStory &Story) {
  if (Job.DryRun)
    return EndInDryRun(Job, Change, Story);
  if (Held) {
    Story.AlreadyHeld = true;
    PrintConsole(u"- GPP1 already holds this record: nothing was written.\n");
    return ToolSuccess;
  }
  if (Story.Debug && Change.DumpFirst)
    DumpRecordHex(Change.Data);
  ToolStatus Status = BackUpBlock(Job, Story);
  if (Status != ToolSuccess)
    return Status;
  PrintConsole(Change.Progress);
  Gpp1Visit Visit = {};
  Visit.Debug = Story.Debug;
  Status = Change.Restore ? WriteGpp1Block(Change.Data, static_cast<UINT32>(Change.Length), &Visit)
                          : WriteGpp1Record(Change.Data, &Visit);
  Story.Tell(Visit);
  if (Status != ToolSuccess) {
    DropUnneededBackup(Status, Story);
    PrintConsole(u"ERROR: Failed to write binary data!\n");
    return Status;
  }
  // The read-back finds GPP1 afresh, as the write did (see docs/kept-on-purpose.md).
  if (Change.Verifying.Text[0] != 0)
    PrintConsole(Change.Verifying);
  Status = VerifyBlock(Change.Data, Change.Length, Story);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to verify binary data!\n");
  return Status;
}

} // namespace

ToolStatus WriteCommand(const WriteRequest *Request, const RecordJob &Job, RunStory &Story,
                        const RecordEdit *Edit) {
  ToolStatus Status = RefuseIfWriteProtected();
  if (Status != ToolSuccess)
    return Status;
  if (Request == nullptr) {
    ReportInternalError(InternalCheck::WriteCommandOptions);
    return ToolBadCommandLine;
  }
  WriteRequest Merged = *Request;
  StoredTexts Texts;
  bool Held = false;
  if (ReadsFirst(Job) || Edit != nullptr) {
    Status = ReadStored(Story);
    if (Status != ToolSuccess)
      return Status;
    const SeenRecord &Stored = Story.Before;
    const BlockKind Kind = Stored.Check.Kind;
    // Only a record that passes its check can hold what a write stores, and be edited.
    if (Edit != nullptr && Kind == BlockKind::Record) {
      Status = MergeStored(Stored.Record, *Edit, &Texts, &Merged);
      if (Status != ToolSuccess)
        return Status;
    }
    if (Job.Guard != Gpp1Guard::None && Kind == BlockKind::Record) {
      UINT8 Probe[BoardRecordSize];
      Held = BuildBoardRecord(&Merged, Probe) == ToolSuccess && HoldsImage(Stored, Probe);
    }
    if (!Held) {
      Status = CheckGuard(Job, Kind, Stored.Record, Story);
      if (Status != ToolSuccess)
        return Status;
    }
    if (Edit != nullptr && Kind == BlockKind::Corrupt) {
      PrintConsole(u"ERROR: GPP1 data is corrupted! CRC32 fails.\n");
      return ToolRecordFailsCrc;
    }
    if (Edit != nullptr && Kind != BlockKind::Record) {
      PrintConsole(u"ERROR: GPP1 holds a blank record: there is nothing to edit!\n");
      return ToolBadCommandLine;
    }
  }

  PrintConsole(u"- Creating binary image...\n");
  UINT8 Image[BoardRecordSize];
  Status = BuildBoardRecord(&Merged, Image);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to create binary data!\n");
    return Status;
  }
  return MakeChange(Job, Held,
                    {Image, BoardRecordSize, false, true, u"- Writing binary image...\n",
                     u"- Verifying binary image...\n"},
                    Story);
}

ToolStatus ClearCommand(const RecordJob &Job, RunStory &Story) {
  UINT8 Image[BoardRecordSize];
  ZeroBytes(Image, sizeof(Image));
  ToolStatus Status = RefuseIfWriteProtected();
  if (Status != ToolSuccess)
    return Status;
  bool Held = false;
  if (ReadsFirst(Job)) {
    Status = ReadStored(Story);
    if (Status != ToolSuccess)
      return Status;
    Held = Job.Guard != Gpp1Guard::None && HoldsImage(Story.Before, Image);
    if (!Held) {
      Status = CheckGuard(Job, Story.Before.Check.Kind, Story.Before.Record, Story);
      if (Status != ToolSuccess)
        return Status;
    }
  }
  // A blank block is checked like a written record: success means the device holds zeros.
  return MakeChange(
      Job, Held, {Image, BoardRecordSize, false, false, u"- Clearing GPP1 data...\n", u""}, Story);
}

ToolStatus RestoreCommand(const CHAR16 *Path, const RecordJob &Job, RunStory &Story) {
  ToolStatus Status = RefuseIfWriteProtected();
  if (Status != ToolSuccess)
    return Status;
  PrintConsole(u"- Reading GPP1 data...\n");
  PoolPtr<UINT8> Saved;
  UINT32 Size = 0;
  bool Held = false;
  {
    Gpp1Block Current;
    Status = ReadBlockZero(Story, &Current);
    if (Status != ToolSuccess)
      return Status;
    Story.Before = SeeBlock(Current.Data, Current.Size);
    Size = Current.Size;
    PrintConsole(u"- Reading %s...\n", Path);
    Saved = PoolPtr<UINT8>::Allocate(Size);
    if (!Saved) {
      PrintConsole(u"ERROR: Failed to allocate pool!\n");
      return ToolOutOfMemory;
    }
    Status = LoadBackupFile(Path, Saved.Get(), Size);
    if (Status != ToolSuccess) {
      Story.Reason = "restore file refused, nothing written";
      return Status;
    }
    Held = Job.Guard != Gpp1Guard::None && BytesEqual(Saved.Get(), Current.Data, Size);
    if (!Held)
      Status = CheckGuard(Job, Story.Before.Check.Kind, Current.Data, Story);
    if (Status != ToolSuccess)
      return Status;
  }
  Status = MakeChange(Job, Held,
                      {Saved.Get(), Size, true, false, u"- Writing GPP1 block 0...\n",
                       u"- Verifying GPP1 block 0...\n"},
                      Story);
  if (Status == ToolSuccess && !Story.DryRun && !Story.AlreadyHeld)
    ShowRecord(Saved.Get(), true, Story.Debug);
  return Status;
}
