#include "app/write_command.h"

#include "app/board_record.h"
#include "app/gpp1.h"
#include "app/read_command.h"
#include "app/run_journal.h"
#include "app/station_files.h"
#include "shell/console.h"
#include "shell/memory.h"

namespace {

constexpr UINT8 ErasedByte = 0xFF;
constexpr UINTN TextBufferSize = RecordTextFieldSize + 1;

// What block 0 held before the change.
enum class StoredKind { Blank, Erased, Record, Corrupt };

StoredKind ClassifyStored(const UINT8 *Stored, bool TailErased) {
  if (AllBytesZero(Stored, BoardRecordSize))
    return StoredKind::Blank;
  bool Erased = TailErased;
  for (UINTN I = 0; I < BoardRecordSize && Erased; I++)
    Erased = Stored[I] == ErasedByte;
  if (Erased)
    return StoredKind::Erased;
  UINT8 Copy[BoardRecordSize];
  CopyBytes(Copy, Stored, BoardRecordSize);
  return RecordCrcMatches(Copy, nullptr, nullptr) ? StoredKind::Record : StoredKind::Corrupt;
}

// Length of a text without the spaces that pad a record field.
template <typename Char> UINTN TrimmedLength(const Char *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0)
    Length++;
  while (Length > 0 && Text[Length - 1] == ' ')
    Length--;
  return Length;
}

// The stored Pylon serial as readers take it, without its padding.
VOID StoredSerial(const UINT8 *Stored, CHAR8 *Text) {
  CopyRecordText(Text, Stored + RecordOffset::ModuleSerial);
  Text[TrimmedLength(Text)] = 0;
}

bool SerialMatches(const CHAR8 *Stored, const CHAR16 *Given) {
  UINTN Length = TrimmedLength(Given);
  if (Length != TrimmedLength(Stored))
    return false;
  for (UINTN I = 0; I < Length; I++) {
    if (static_cast<CHAR16>(static_cast<UINT8>(Stored[I])) != Given[I])
      return false;
  }
  return true;
}

ToolStatus CheckGuard(const RecordJob &Job, StoredKind Kind, const UINT8 *Stored) {
  CHAR8 Serial[TextBufferSize];
  StoredSerial(Stored, Serial);
  bool Blank = Kind == StoredKind::Blank || Kind == StoredKind::Erased;
  if (Job.Guard == Gpp1Guard::None || (Job.Guard == Gpp1Guard::Blank && Blank) ||
      (Job.Guard == Gpp1Guard::Serial && Kind == StoredKind::Record &&
       SerialMatches(Serial, Job.GuardSerial)))
    return ToolSuccess;
  Journal.Reason = Kind == StoredKind::Record ? "guard refused: GPP1 holds another record"
                   : Blank                    ? "guard refused: GPP1 is blank"
                                              : "guard refused: GPP1 fails its CRC check";
  if (Job.Guard == Gpp1Guard::Blank) {
    Journal.Reason = Kind == StoredKind::Record ? "guard refused: GPP1 is not blank"
                                                : "guard refused: GPP1 fails its CRC check";
    if (Kind == StoredKind::Record)
      PrintConsole(u"ERROR: GPP1 holds the record of Pylon Serial #%a, not a blank record!\n",
                   static_cast<const CHAR8 *>(Serial));
    else
      PrintConsole(u"ERROR: GPP1 holds data that fails its CRC check, not a blank record!\n");
  } else if (Blank) {
    PrintConsole(u"ERROR: GPP1 holds a blank record, not the record of Pylon Serial #%s!\n",
                 Job.GuardSerial);
  } else if (Kind == StoredKind::Record) {
    PrintConsole(u"ERROR: GPP1 holds the record of Pylon Serial #%a, not that of Pylon Serial "
                 u"#%s!\n",
                 static_cast<const CHAR8 *>(Serial), Job.GuardSerial);
  } else {
    PrintConsole(u"ERROR: GPP1 holds data that fails its CRC check, not the record of Pylon "
                 u"Serial #%s!\n",
                 Job.GuardSerial);
  }
  return ToolAborted;
}

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

// Reads block 0 for a guard, an edit or a dry run, and applies the guard and the edit's rules.
ToolStatus ReadStored(const RecordJob &Job, const RecordEdit *Edit, StoredTexts *Texts,
                      WriteRequest *Request) {
  UINT8 Stored[BoardRecordSize];
  bool TailErased = false;
  PrintConsole(u"- Reading GPP1 data...\n");
  ToolStatus Status = ReadGpp1RecordAndTail(Stored, nullptr, &TailErased);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    return Status;
  }
  CopyBytes(Journal.Before, Stored, BoardRecordSize);
  Journal.BeforeKnown = true;
  StoredKind Kind = ClassifyStored(Stored, TailErased);
  Status = CheckGuard(Job, Kind, Stored);
  if (Status != ToolSuccess || Edit == nullptr)
    return Status;
  if (Kind == StoredKind::Blank || Kind == StoredKind::Erased) {
    PrintConsole(u"ERROR: GPP1 holds a blank record: there is nothing to edit!\n");
    return ToolInvalidParameter;
  }
  if (Kind == StoredKind::Corrupt) {
    PrintConsole(u"ERROR: GPP1 data is corrupted! CRC32 fails.\n");
    return ToolVolumeCorrupted;
  }
  return MergeStored(Stored, *Edit, Texts, Request);
}

// Reads block 0 back and compares it with what was written: the record, then zeros to the end
// of the block. A device that accepted the write but kept its old contents, wrote only part of
// the block or hands back different bits is caught here rather than reported as a success.
ToolStatus VerifyWrittenBlock(const UINT8 *Image, UINT8 *ReadBack) {
  bool TailIsZero = false;
  ToolStatus Status = ReadGpp1RecordAndTail(ReadBack, &TailIsZero);
  if (Status != ToolSuccess) {
    Journal.ReadBackFailed = true;
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    return Status;
  }
  CopyBytes(Journal.After, ReadBack, BoardRecordSize);
  Journal.AfterKnown = true;
  for (UINTN I = 0; I < BoardRecordSize; I++) {
    if (ReadBack[I] != Image[I]) {
      TailIsZero = false;
      break;
    }
  }
  if (!TailIsZero) {
    Journal.VerifyFailed = true;
    PrintConsole(u"ERROR: Failed to verify GPP1!\n");
    return ToolCrcError;
  }
  return ToolSuccess;
}

// A dry run shows the record as -r would and stops.
ToolStatus ShowDryRun(const UINT8 *Image) {
  Journal.DryRun = true;
  ShowBoardRecord(Image);
  if (DebugEnabled)
    DumpRecordHex(Image);
  PrintConsole(u"Dry run: nothing was written.\n");
  return ToolSuccess;
}

// Reads the whole of block 0 back after a restore and compares it with what was written.
ToolStatus VerifyWholeBlock(const UINT8 *Written, UINT8 *ReadBack, UINT32 Size) {
  Gpp1Block Block = {};
  ToolStatus Status = ReadGpp1Block(&Block);
  if (Status != ToolSuccess) {
    Journal.ReadBackFailed = true;
    PrintConsole(u"ERROR: Failed to read eMMC GPP1!\n");
    return Status;
  }
  bool Same = Block.Size == Size;
  if (Same)
    CopyBytes(ReadBack, Block.Data, Size);
  FreeBuffer(Block.Pool);
  CopyBytes(Journal.After, ReadBack, BoardRecordSize);
  Journal.AfterKnown = Same;
  for (UINTN I = 0; I < Size && Same; I++)
    Same = ReadBack[I] == Written[I];
  if (!Same) {
    Journal.VerifyFailed = true;
    PrintConsole(u"ERROR: Failed to verify GPP1!\n");
    return ToolCrcError;
  }
  return ToolSuccess;
}

// The record a restore puts back, as -r shows it; a block that held no valid record when it was
// saved is put back all the same, and said so.
ToolStatus ShowRestored(const UINT8 *Block) {
  UINT8 Copy[BoardRecordSize];
  CopyBytes(Copy, Block, BoardRecordSize);
  if (RecordCrcMatches(Copy, nullptr, nullptr))
    ShowBoardRecord(Block);
  else
    PrintConsole(u"The restored block holds no record that passes its CRC check.\n");
  if (DebugEnabled)
    DumpRecordHex(Block);
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
  Status = SaveBackupFile(Job.BackupPath, Block.Data, Block.Size);
  FreeBuffer(Block.Pool);
  if (Status != ToolSuccess)
    Journal.Reason = "backup failed, nothing written";
  return Status;
}

// A backup stands for a block that a write may have changed; when no write reached the device,
// it stands for nothing and would only block the next run's backup of the same name.
VOID DropUnneededBackup(const RecordJob &Job) {
  if (Job.BackupPath != nullptr && !Journal.WriteReached)
    DiscardBackupFile(Job.BackupPath);
}

// The backup, then Progress and the write of Length bytes of Data (the record, or a whole block).
ToolStatus BackUpAndWrite(const RecordJob &Job, ConsoleFormat<> Progress, const UINT8 *Data,
                          UINTN Length, bool WholeBlock) {
  ToolStatus Status = BackUpBlock(Job);
  if (Status != ToolSuccess)
    return Status;
  PrintConsole(Progress);
  Status = WholeBlock ? WriteGpp1Block(Data, static_cast<UINT32>(Length)) : WriteGpp1Record(Data);
  if (Status != ToolSuccess) {
    DropUnneededBackup(Job);
    PrintConsole(u"ERROR: Failed to write binary data!\n");
  }
  return Status;
}

} // namespace

ToolStatus WriteCommand(const WriteRequest *Request, const RecordJob *Job, const RecordEdit *Edit) {
  UINT8 Image[BoardRecordSize];
  UINT8 ReadBack[BoardRecordSize];
  ZeroBytes(Image, sizeof(Image));
  ToolStatus Protection = RefuseIfWriteProtected();
  if (Protection != ToolSuccess)
    return Protection;
  if (Request == nullptr) {
    ReportInternalError(InternalCheck::WriteCommandOptions);
    return ToolInvalidParameter;
  }
  const RecordJob NoJob = {Gpp1Guard::None, nullptr, false, nullptr, false};
  if (Job == nullptr)
    Job = &NoJob;
  WriteRequest Merged = *Request;
  StoredTexts Texts;
  if (Job->Guard != Gpp1Guard::None || Job->DryRun || Job->ReadBefore || Edit != nullptr) {
    ToolStatus Status = ReadStored(*Job, Edit, &Texts, &Merged);
    if (Status != ToolSuccess)
      return Status;
  }

  PrintConsole(u"- Creating binary image...\n");
  ToolStatus Status = BuildBoardRecord(&Merged, Image);
  if (Status != ToolSuccess) {
    PrintConsole(u"ERROR: Failed to create binary data!\n");
    return Status;
  }
  if (Job->DryRun)
    return ShowDryRun(Image);
  if (DebugEnabled)
    DumpRecordHex(Image);

  Status = BackUpAndWrite(*Job, u"- Writing binary image...\n", Image, BoardRecordSize, false);
  if (Status != ToolSuccess)
    return Status;

  // The read-back finds GPP1 afresh, as the write did (see docs/kept-on-purpose.md).
  PrintConsole(u"- Verifying binary image...\n");
  Status = VerifyWrittenBlock(Image, ReadBack);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to verify binary data!\n");
  return Status;
}

ToolStatus ClearCommand(const RecordJob *Job) {
  UINT8 Image[BoardRecordSize];
  ZeroBytes(Image, sizeof(Image));
  ToolStatus Protection = RefuseIfWriteProtected();
  if (Protection != ToolSuccess)
    return Protection;
  if (Job != nullptr && (Job->Guard != Gpp1Guard::None || Job->DryRun || Job->ReadBefore)) {
    WriteRequest Unused = {};
    ToolStatus Status = ReadStored(*Job, nullptr, nullptr, &Unused);
    if (Status != ToolSuccess)
      return Status;
    if (Job->DryRun)
      return ShowDryRun(Image);
  }
  const RecordJob NoJob = {Gpp1Guard::None, nullptr, false, nullptr, false};
  ToolStatus Status = BackUpAndWrite(Job != nullptr ? *Job : NoJob, u"- Clearing GPP1 data...\n",
                                     Image, BoardRecordSize, false);
  if (Status != ToolSuccess)
    return Status;
  // A blank block is checked like a written record: success means the device holds zeros.
  UINT8 ReadBack[BoardRecordSize];
  Status = VerifyWrittenBlock(Image, ReadBack);
  if (Status != ToolSuccess)
    PrintConsole(u"ERROR: Failed to verify binary data!\n");
  return Status;
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
  bool TailErased = true;
  for (UINTN I = BoardRecordSize; I < Current.Size; I++)
    TailErased = TailErased && Current.Data[I] == ErasedByte;
  StoredKind Kind = ClassifyStored(Current.Data, TailErased);
  UINT32 Size = Current.Size;
  Status = CheckGuard(*Job, Kind, Current.Data);
  FreeBuffer(Current.Pool);
  if (Status != ToolSuccess)
    return Status;

  PrintConsole(u"- Reading %s...\n", Path);
  // Two blocks: the one to restore and its read-back.
  UINT8 *Saved = static_cast<UINT8 *>(AllocateBuffer(static_cast<UINTN>(Size) * 2));
  if (Saved == nullptr) {
    PrintConsole(u"ERROR: Failed to allocate pool!\n");
    return ToolOutOfResources;
  }
  UINT8 *ReadBack = Saved + Size;
  Status = LoadBackupFile(Path, Saved, Size);
  if (Status != ToolSuccess)
    Journal.Reason = "restore file refused, nothing written";
  if (Status == ToolSuccess && Job->DryRun) {
    Status = ShowRestored(Saved);
    PrintConsole(u"Dry run: nothing was written.\n");
    Journal.DryRun = true;
    FreeBuffer(Saved);
    return Status;
  }
  if (Status == ToolSuccess) {
    Status = BackUpAndWrite(*Job, u"- Writing GPP1 block 0...\n", Saved, Size, true);
  }
  if (Status == ToolSuccess) {
    PrintConsole(u"- Verifying GPP1 block 0...\n");
    Status = VerifyWholeBlock(Saved, ReadBack, Size);
    if (Status != ToolSuccess)
      PrintConsole(u"ERROR: Failed to verify binary data!\n");
  }
  if (Status == ToolSuccess)
    Status = ShowRestored(Saved);
  FreeBuffer(Saved);
  return Status;
}
