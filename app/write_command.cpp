#include "app/write_command.h"

#include "app/board_record.h"
#include "app/gpp1.h"
#include "app/read_command.h"
#include "app/run_journal.h"
#include "app/station_files.h"
#include "shell/console.h"
#include "shell/memory.h"

namespace {

constexpr UINTN TextBufferSize = RecordTextFieldSize + 1;

// The stored texts an edit keeps, as a request refers to them: each field's bytes up to its '$',
// padding included, so that a field kept is written back byte for byte.
struct StoredTexts {
  CHAR16 ModuleSerial[TextBufferSize];
  CHAR16 Mm[TextBufferSize];
  CHAR16 CarrierSerial[TextBufferSize];
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
  } KeptTexts[] = {{Request->ModuleSerial, u"Pylon Serial #"},
                   {Request->Mm, u"MM #"},
                   {Request->CarrierSerial, u"Sandrel Serial #"}};
  for (const Kept &K : KeptTexts) {
    if (K.Text != nullptr && CheckStorableText(K.Text) != TextFault::None) {
      PrintConsole(u"ERROR: The stored %s cannot be written back as it is; give a new one!\n",
                   K.Label);
      return ToolInvalidParameter;
    }
  }
  return ToolSuccess;
}

// Block 0 as a guard, an edit or the log sees it: the record, and whether the rest of the block
// is all zeros (as a write leaves it) or all 0xFF (as an erased eMMC reads).
struct StoredBlock {
  UINT8 Record[BoardRecordSize];
  bool TailZero;
  bool TailErased;
  StoredKind Kind;
};

ToolStatus ReadStored(StoredBlock *Stored) {
  PrintConsole(u"- Reading GPP1 data...\n");
  ToolStatus Status = ReadGpp1RecordAndTail(Stored->Record, &Stored->TailZero, &Stored->TailErased);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    return Status;
  }
  CopyBytes(Journal.Before, Stored->Record, BoardRecordSize);
  Journal.BeforeKnown = true;
  Stored->Kind = ClassifyStored(Stored->Record, Stored->TailErased);
  return ToolSuccess;
}

// Whether block 0 already is exactly what writing Image (the rest of the block zeros) leaves.
bool HoldsImage(const StoredBlock &Stored, const UINT8 *Image) {
  if (!Stored.TailZero)
    return false;
  for (UINTN I = 0; I < BoardRecordSize; I++) {
    if (Stored.Record[I] != Image[I])
      return false;
  }
  return true;
}

// A guarded change that GPP1 already holds exactly is not made again: its retry after a write
// that went through unconfirmed, or a second run of the same step, succeeds without writing.
ToolStatus AlreadyHeld() {
  Journal.AlreadyHeld = true;
  PrintConsole(u"- GPP1 already holds this record: nothing was written.\n");
  return ToolSuccess;
}

// Reads block 0 back and compares the whole of it with Data (Length bytes) followed by zeros.
// When the read-back itself fails, the block may well be on the device: one more read says.
ToolStatus VerifyBlock(const UINT8 *Data, UINTN Length) {
  Gpp1Block Block = {};
  ToolStatus Status = ReadGpp1Block(&Block);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    if (ReadGpp1Block(&Block) != ToolSuccess)
      return JudgeReadOnceMore(nullptr, 0, Data, Length, nullptr);
    Status = JudgeReadOnceMore(Block.Data, Block.Size, Data, Length, nullptr);
    FreeBuffer(Block.Pool);
    return Status;
  }
  CopyBytes(Journal.After, Block.Data, BoardRecordSize);
  Journal.AfterKnown = true;
  bool Same = Block.Size >= Length && AllBytesZero(Block.Data + Length, Block.Size - Length);
  for (UINTN I = 0; I < Length && Same; I++)
    Same = Block.Data[I] == Data[I];
  FreeBuffer(Block.Pool);
  if (!Same) {
    PrintConsole(u"ERROR: Failed to verify GPP1!\n");
    return ToolCrcError;
  }
  return ToolSuccess;
}

// Block 0 as it is, whatever it holds, goes to the job's backup file before anything is written.
ToolStatus BackUpBlock(const RecordJob &Job) {
  if (Job.BackupPath == nullptr)
    return ToolSuccess;
  PrintConsole(u"- Saving GPP1 block 0 to %s...\n", Job.BackupPath);
  Gpp1Block Block = {};
  ToolStatus Status = ReadGpp1Block(&Block);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    return Status;
  }
  if (!Journal.BeforeKnown) {
    CopyBytes(Journal.Before, Block.Data, BoardRecordSize);
    Journal.BeforeKnown = true;
  }
  Status = SaveBackupFile(Job.BackupPath, Block.Data, Block.Size, &Journal.Backup);
  FreeBuffer(Block.Pool);
  return Status;
}

// A backup stands for a block that a write may have changed; when GPP1 is known to hold what it
// held, it stands for nothing and is taken away again.
VOID DropUnneededBackup(ToolStatus Status) {
  if (Journal.Backup == nullptr || (Journal.WriteReached && Status != ToolWriteFailedUnchanged))
    return;
  DiscardBackupFile(Journal.Backup);
  FreeBuffer(Journal.Backup);
  Journal.Backup = nullptr;
}

// The record a change stores, or a restore puts back, as -r shows it; a restored block that held
// no valid record when it was saved is put back all the same, and said so.
VOID ShowRecord(const UINT8 *Shown, bool Restore) {
  UINT8 Copy[BoardRecordSize];
  CopyBytes(Copy, Shown, BoardRecordSize);
  if (!Restore || RecordCrcMatches(Copy, nullptr, nullptr))
    ShowBoardRecord(Shown);
  else
    PrintConsole(u"The restored block holds no record that passes its CRC check.\n");
  if (DebugEnabled)
    DumpRecordHex(Shown);
}

// A dry run shows Shown (the record a change would store, or a restore's block) and stops; a
// backup it asks for is made and removed again, so that the run shows it could be made.
ToolStatus ShowDryRun(const RecordJob &Job, const UINT8 *Shown, bool Restore) {
  ToolStatus Status = BackUpBlock(Job);
  if (Status != ToolSuccess)
    return Status;
  Journal.DryRun = true;
  DropUnneededBackup(Status);
  ShowRecord(Shown, Restore);
  PrintConsole(u"Dry run: nothing was written.\n");
  return ToolSuccess;
}

// The backup, then Progress and the write of Length bytes of Data (the record, or a whole block),
// then its verify.
ToolStatus BackUpWriteAndVerify(const RecordJob &Job, ConsoleFormat<> Progress,
                                ConsoleFormat<> Verifying, const UINT8 *Data, UINTN Length,
                                bool WholeBlock) {
  ToolStatus Status = BackUpBlock(Job);
  if (Status != ToolSuccess)
    return Status;
  PrintConsole(Progress);
  Status = WholeBlock ? WriteGpp1Block(Data, static_cast<UINT32>(Length)) : WriteGpp1Record(Data);
  if (Status != ToolSuccess) {
    DropUnneededBackup(Status);
    PrintConsole(u"ERROR: Failed to write binary data!\n");
    return Status;
  }
  // The read-back finds GPP1 afresh, as the write did (see docs/kept-on-purpose.md).
  if (Verifying.Text[0] != 0)
    PrintConsole(Verifying);
  Status = VerifyBlock(Data, Length);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to verify binary data!\n");
  return Status;
}

const RecordJob NoJob = {Gpp1Guard::None, nullptr, false, nullptr, false};

} // namespace

ToolStatus WriteCommand(const WriteRequest *Request, const RecordJob *Job, const RecordEdit *Edit) {
  UINT8 Image[BoardRecordSize];
  ZeroBytes(Image, sizeof(Image));
  ToolStatus Status = RefuseIfWriteProtected();
  if (Status != ToolSuccess)
    return Status;
  if (Request == nullptr) {
    ReportInternalError(InternalCheck::WriteCommandOptions);
    return ToolInvalidParameter;
  }
  if (Job == nullptr)
    Job = &NoJob;
  WriteRequest Merged = *Request;
  StoredTexts Texts;
  StoredBlock Stored = {};
  bool Held = false;
  if (Job->Guard != Gpp1Guard::None || Job->DryRun || Job->ReadBefore || Edit != nullptr) {
    Status = ReadStored(&Stored);
    if (Status != ToolSuccess)
      return Status;
    // Only a record that passes its check can hold what a write stores, and be edited.
    if (Edit != nullptr && Stored.Kind == StoredKind::Record) {
      Status = MergeStored(Stored.Record, *Edit, &Texts, &Merged);
      if (Status != ToolSuccess)
        return Status;
    }
    if (Job->Guard != Gpp1Guard::None && Stored.Kind == StoredKind::Record) {
      UINT8 Probe[BoardRecordSize];
      Held = BuildBoardRecord(&Merged, Probe) == ToolSuccess && HoldsImage(Stored, Probe);
    }
    if (!Held) {
      Status = CheckGuard(*Job, Stored.Kind, Stored.Record);
      if (Status != ToolSuccess)
        return Status;
    }
    if (Edit != nullptr && Stored.Kind != StoredKind::Record) {
      if (Stored.Kind == StoredKind::Corrupt) {
        PrintConsole(u"ERROR: GPP1 data is corrupted! CRC32 fails.\n");
        return ToolVolumeCorrupted;
      }
      PrintConsole(u"ERROR: GPP1 holds a blank record: there is nothing to edit!\n");
      return ToolInvalidParameter;
    }
  }

  PrintConsole(u"- Creating binary image...\n");
  Status = BuildBoardRecord(&Merged, Image);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to create binary data!\n");
    return Status;
  }
  if (Job->DryRun)
    return ShowDryRun(*Job, Image, false);
  if (Held)
    return AlreadyHeld();
  if (DebugEnabled)
    DumpRecordHex(Image);
  return BackUpWriteAndVerify(*Job, u"- Writing binary image...\n",
                              u"- Verifying binary image...\n", Image, BoardRecordSize, false);
}

ToolStatus ClearCommand(const RecordJob *Job) {
  UINT8 Image[BoardRecordSize];
  ZeroBytes(Image, sizeof(Image));
  ToolStatus Status = RefuseIfWriteProtected();
  if (Status != ToolSuccess)
    return Status;
  if (Job == nullptr)
    Job = &NoJob;
  if (Job->Guard != Gpp1Guard::None || Job->DryRun || Job->ReadBefore) {
    StoredBlock Stored = {};
    Status = ReadStored(&Stored);
    if (Status != ToolSuccess)
      return Status;
    bool Held = Job->Guard != Gpp1Guard::None && HoldsImage(Stored, Image);
    if (!Held) {
      Status = CheckGuard(*Job, Stored.Kind, Stored.Record);
      if (Status != ToolSuccess)
        return Status;
    }
    if (Job->DryRun)
      return ShowDryRun(*Job, Image, false);
    if (Held)
      return AlreadyHeld();
  }
  // A blank block is checked like a written record: success means the device holds zeros.
  return BackUpWriteAndVerify(*Job, u"- Clearing GPP1 data...\n", u"", Image, BoardRecordSize,
                              false);
}

ToolStatus RestoreCommand(const CHAR16 *Path, const RecordJob *Job) {
  ToolStatus Status = RefuseIfWriteProtected();
  if (Status != ToolSuccess)
    return Status;
  PrintConsole(u"- Reading GPP1 data...\n");
  Gpp1Block Current = {};
  Status = ReadGpp1Block(&Current);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    return Status;
  }
  CopyBytes(Journal.Before, Current.Data, BoardRecordSize);
  Journal.BeforeKnown = true;
  UINT32 Size = Current.Size;
  bool TailErased = true;
  for (UINTN I = BoardRecordSize; I < Size; I++)
    TailErased = TailErased && Current.Data[I] == ErasedByte;
  PrintConsole(u"- Reading %s...\n", Path);
  UINT8 *Saved = static_cast<UINT8 *>(AllocateBuffer(Size));
  if (Saved == nullptr) {
    FreeBuffer(Current.Pool);
    PrintConsole(u"ERROR: Failed to allocate pool!\n");
    return ToolOutOfResources;
  }
  Status = LoadBackupFile(Path, Saved, Size);
  if (Status != ToolSuccess)
    Journal.Reason = "restore file refused, nothing written";
  bool Held = Status == ToolSuccess && Job->Guard != Gpp1Guard::None;
  for (UINTN I = 0; I < Size && Held; I++)
    Held = Saved[I] == Current.Data[I];
  if (Status == ToolSuccess && !Held)
    Status = CheckGuard(*Job, ClassifyStored(Current.Data, TailErased), Current.Data);
  FreeBuffer(Current.Pool);
  if (Status == ToolSuccess && Job->DryRun)
    Status = ShowDryRun(*Job, Saved, true);
  else if (Status == ToolSuccess && Held)
    Status = AlreadyHeld();
  else if (Status == ToolSuccess)
    Status = BackUpWriteAndVerify(*Job, u"- Writing GPP1 block 0...\n",
                                  u"- Verifying GPP1 block 0...\n", Saved, Size, true);
  if (Status == ToolSuccess && !Journal.DryRun && !Journal.AlreadyHeld)
    ShowRecord(Saved, true);
  FreeBuffer(Saved);
  return Status;
}
