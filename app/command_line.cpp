#include "app/command_line.h"

#include "app/board_record.h"
#include "app/read_command.h"
#include "app/run_journal.h"
#include "app/station_files.h"
#include "app/version.h"
#include "app/write_command.h"
#include "shell/console.h"
#include "shell/memory.h"

namespace {

constexpr const CHAR16 *ToolYear = u"2017";

} // namespace

constexpr ToolOption ToolOptions[ToolOptionCount] = {
    {u"-b", u"--board", &CliOptions::BoardGiven, &CliOptions::BoardText, u"ID",
     u"Programs the Pylon Board ID", u"", u"Board ID"},
    {u"-c", u"--clear", &CliOptions::ClearRequested, nullptr, u"", u"Clears the GPP1 data", u"",
     nullptr},
    {u"-f", u"--fab", &CliOptions::FabGiven, &CliOptions::FabText, u"ID",
     u"Programs the Pylon Fab ID", u"", u"Fab ID"},
    {u"-h", u"--help", &CliOptions::HelpRequested, nullptr, u"", u"Prints this", u"", nullptr},
    {u"-p", u"--pylon", &CliOptions::ModuleSerialGiven, &CliOptions::ModuleSerialText, u"Serial #",
     u"Programs the Pylon serial #", u"", u"Pylon Serial #"},
    {u"-m", u"--mm", &CliOptions::MmGiven, &CliOptions::MmText, u"MM #", u"Programs the Pylon MM #",
     u"", u"MM #"},
    {u"-o", u"--bom", &CliOptions::BomGiven, &CliOptions::BomText, u"ID",
     u"Programs the Pylon BOM ID", u"", u"BOM ID"},
    {u"-r", u"--read", &CliOptions::ReadRequested, nullptr, u"", u"Prints out the data in GPP1",
     u"", nullptr},
    {u"-s", u"--sandrel", &CliOptions::CarrierSerialGiven, &CliOptions::CarrierSerialText,
     u"Serial #", u"Programs the Sandrel Serial #", u"", u"Sandrel Serial #"},
    {u"-w", u"--write", &CliOptions::WriteRequested, nullptr, u"-p # -m # [-s #]",
     u"Programs the data into the GPP1",
     u"                                   -p & -m are required.\n"
     u"                                   -b, -f, -o, -s are optional.\n",
     nullptr},
    {nullptr, u"--edit", &CliOptions::EditRequested, nullptr, u"[-p #] [-m #] ...",
     u"Changes only the fields given",
     u"                                   -b, -f, -m, -o, -p, -s as with -w.\n", nullptr},
    {nullptr, u"--no-sandrel", &CliOptions::NoSandrelRequested, nullptr, u"",
     u"With --edit: removes the Sandrel Serial #", u"", nullptr},
    {nullptr, u"--if-blank", &CliOptions::IfBlankRequested, nullptr, u"",
     u"-w, --edit, -c, -r only over a blank GPP1", u"", nullptr},
    {nullptr, u"--if-serial", &CliOptions::IfSerialGiven, &CliOptions::IfSerialText, u"Serial #",
     u"-w, --edit, -c, -r only over this Pylon #", u"", u"Pylon Serial #"},
    {nullptr, u"--dry-run", &CliOptions::DryRunRequested, nullptr, u"",
     u"Shows what would be written; writes nothing", u"", nullptr},
    {nullptr, u"--backup", &CliOptions::BackupGiven, &CliOptions::BackupText, u"File",
     u"Saves block 0 to a new File before a change", u"", nullptr},
    {nullptr, u"--restore", &CliOptions::RestoreGiven, &CliOptions::RestoreText, u"File",
     u"Writes a block saved by --backup back", u"", nullptr},
    {nullptr, u"--log", &CliOptions::LogGiven, &CliOptions::LogText, u"File",
     u"Appends one JSON line about the run to File", u"", nullptr},
    {nullptr, u"--wait", &CliOptions::WaitGiven, &CliOptions::WaitText, u"Seconds",
     u"Keeps the outcome on the screen, or to a key",
     u"                                   0: none; 10 when started without a shell.\n", nullptr},
    {nullptr, u"--then", &CliOptions::ThenGiven, &CliOptions::ThenText, u"return|reset|off",
     u"Returns, resets or powers off when done", u"", nullptr},
};

// Not defined: a lookup of an option the table lacks fails the build.
const ToolOption &NoSuchOption();

namespace {

// The table's row for the option that records itself in Given.
constexpr const ToolOption &OptionRecordedIn(UINT8 CliOptions::*Given) {
  for (const ToolOption &Option : ToolOptions) {
    if (Option.Given == Given)
      return Option;
  }
  return NoSuchOption();
}

// Rows of the table by what the checks need of them.
constexpr const ToolOption &ModuleSerialOption = OptionRecordedIn(&CliOptions::ModuleSerialGiven);
constexpr const ToolOption &MmOption = OptionRecordedIn(&CliOptions::MmGiven);
constexpr const ToolOption &BoardOption = OptionRecordedIn(&CliOptions::BoardGiven);
constexpr const ToolOption &FabOption = OptionRecordedIn(&CliOptions::FabGiven);
constexpr const ToolOption &BomOption = OptionRecordedIn(&CliOptions::BomGiven);
constexpr const ToolOption &CarrierSerialOption = OptionRecordedIn(&CliOptions::CarrierSerialGiven);
constexpr const ToolOption &IfSerialOption = OptionRecordedIn(&CliOptions::IfSerialGiven);
constexpr const ToolOption &BackupOption = OptionRecordedIn(&CliOptions::BackupGiven);
constexpr const ToolOption &RestoreOption = OptionRecordedIn(&CliOptions::RestoreGiven);
constexpr const ToolOption &LogOption = OptionRecordedIn(&CliOptions::LogGiven);
constexpr const ToolOption &WaitOption = OptionRecordedIn(&CliOptions::WaitGiven);
constexpr const ToolOption &ThenOption = OptionRecordedIn(&CliOptions::ThenGiven);

constexpr ConsoleFormat<> HelpHead[] = {
    u" Kestrel.efi is a tool to manipulate the data in eMMC GPP1 partition.\n",
    u"\n",
    u" Switches:\n",
};
constexpr ConsoleFormat<> HelpTail[] = {
    u"\n",
    u" Examples:\n",
    u"  Kestrel.efi -w -p 12345678 -s 87654321 -m 09876\n",
    u"  - Writes the Pylon Serial #12345678, Sandrel Serial #87654321,\n",
    u"  - and MM #09876 to GPP1.\n",
    u"  Kestrel.efi -r\n",
    u"  - Dumps the GPP1 info to the screen in human readable form.\n",
};
// The long-only options follow the help above, with examples of their own.
constexpr ConsoleFormat<> MoreHelpHead[] = {
    u"\n",
    u" More switches:\n",
};
constexpr ConsoleFormat<> MoreHelpTail[] = {
    u"\n",
    u"  Kestrel.efi -w -p 12345678 -m 09876 --if-blank\n",
    u"  - Provisions a board whose GPP1 is blank, and no other.\n",
    u"  Kestrel.efi --edit -s 11223344 --if-serial 12345678\n",
    u"  - Changes only the Sandrel Serial # of board 12345678.\n",
    u"  Kestrel.efi -w -p 12345678 -m 09876 --backup old.bin --log run.log\n",
    u"  - Keeps the replaced block in old.bin and logs the run in run.log.\n",
    u"  Kestrel.efi --restore old.bin\n",
    u"  - Puts the saved block back.\n",
    u"  Kestrel.efi -r --if-serial 12345678\n",
    u"  - Shows the record only when it is that of board 12345678.\n",
    u"  Kestrel.efi -w -p 12345678 -m 09876 --if-blank --wait 0 --then off\n",
    u"  - From a boot entry or a stick's kestrel.args: provisions, then powers off.\n",
};

VOID LowerInPlace(CHAR16 *Text, UINTN Length) {
  for (UINTN I = 0; I < Length; I++) {
    if (Text[I] >= u'A' && Text[I] <= u'Z')
      Text[I] = static_cast<CHAR16>(Text[I] - u'A' + u'a');
  }
}

// Whether the first Length characters of Entry are Word, whole.
bool WordIs(const CHAR16 *Entry, UINTN Length, const CHAR16 *Word) {
  if (Word == nullptr)
    return false;
  UINTN I = 0;
  for (; I < Length && Word[I] != 0; I++) {
    if (Entry[I] != Word[I])
      return false;
  }
  return I == Length && Word[I] == 0;
}

// The options beyond the record's fields (the guard's serial and the files) take their value as
// GNU's required arguments do: the next entry, whatever it starts with, so "--if-serial -h"
// guards on "-h" and a file name may start with '-'.
bool TakesAnyValue(const ToolOption &Option) {
  return Option.Short == nullptr && Option.Value != nullptr;
}

// The required options of a write; the first failure stops the checks.
ToolStatus CheckWriteRequired(const CliOptions &Options) {
  if (Options.ReadRequested) {
    PrintConsole(u"ERROR: You can't write and read at the same time!\n");
    return ToolInvalidParameter;
  }
  if (!(Options.*ModuleSerialOption.Given) || !(Options.*MmOption.Given)) {
    PrintConsole(u"ERROR: You can't write without both Pylon Serial # and MM #!\n");
    return ToolInvalidParameter;
  }
  const ToolOption *const Required[] = {&ModuleSerialOption, &MmOption};
  for (const ToolOption *Option : Required) {
    if (Options.*Option->Value == nullptr) {
      PrintConsole(u"ERROR: You can't write without %s!\n", Option->Label);
      return ToolInvalidParameter;
    }
  }
  return ToolSuccess;
}

// An optional option given without its value; every one is reported, in this order.
ToolStatus CheckWriteOptional(const CliOptions &Options) {
  struct Missing {
    const ToolOption *Option;
    ConsoleFormat<> Line;
  };
  const Missing Checks[] = {
      {&CarrierSerialOption, u"ERROR: You can't write Sandrel without Serial #!\n"},
      {&BoardOption, u"ERROR: You can't write Board ID without ID!\n"},
      {&BomOption, u"ERROR: You can't write BOM ID without ID!\n"},
      {&FabOption, u"ERROR: You can't write Fab ID without ID!\n"},
  };
  ToolStatus Status = ToolSuccess;
  for (const Missing &Check : Checks) {
    if (Options.*Check.Option->Given && Options.*Check.Option->Value == nullptr) {
      PrintConsole(Check.Line);
      Status = ToolInvalidParameter;
    }
  }
  return Status;
}

// A write or a clear runs only on a command line that was understood whole.
ToolStatus CheckNoUnknownEntry(const CliOptions &Options, const CHAR16 *Operation) {
  if (Options.FirstUnknownIndex == 0)
    return ToolSuccess;
  PrintConsole(u"ERROR: Unknown argument Argv[%d] \"%s\": GPP1 is not %s!\n",
               static_cast<int>(Options.FirstUnknownIndex), Options.FirstUnknownText, Operation);
  return ToolInvalidParameter;
}

// A text value that the record cannot store as given: its one "ERROR: " line, and false.
bool CheckStorable(const ToolOption &Option, const CHAR16 *Text) {
  switch (CheckStorableText(Text)) {
  case TextFault::None:
    return true;
  case TextFault::Empty:
    PrintConsole(u"ERROR: %s is empty!\n", Option.Label);
    break;
  case TextFault::Unprintable:
    PrintConsole(u"ERROR: %s \"%s\" can hold only printable ASCII characters other than '$'!\n",
                 Option.Label, Text);
    break;
  case TextFault::TooLong:
    PrintConsole(u"ERROR: %s \"%s\" is longer than %d characters!\n", Option.Label, Text,
                 static_cast<int>(RecordTextFieldSize));
    break;
  }
  return false;
}

// An ID option's value as the record stores it: AbsentId when the option is not given.
bool ConvertId(const CliOptions &Options, const ToolOption &Option, UINT32 *Id) {
  *Id = AbsentId;
  if (!(Options.*Option.Given))
    return true;
  const CHAR16 *Text = Options.*Option.Value;
  IdFault Fault = ParseIdValue(Text, Id);
  if (Fault == IdFault::None)
    return true;
  ReportIdFault(Fault, Option.Label, Text);
  return false;
}

// Every value of a write must be stored exactly as given, so each is checked before the device
// is asked anything; the first that cannot be is reported. Texts in the order -p, -m, -s, IDs in
// the order -b, -o, -f.
ToolStatus CheckWriteValues(const CliOptions &Options, WriteRequest *Request) {
  const ToolOption *const Texts[] = {&ModuleSerialOption, &MmOption, &CarrierSerialOption};
  for (const ToolOption *Option : Texts) {
    if (Options.*Option->Given && !CheckStorable(*Option, Options.*Option->Value))
      return ToolInvalidParameter;
  }
  Request->ModuleSerial = Options.*ModuleSerialOption.Value;
  Request->Mm = Options.*MmOption.Value;
  Request->CarrierSerial =
      Options.*CarrierSerialOption.Given ? Options.*CarrierSerialOption.Value : nullptr;
  if (!ConvertId(Options, BoardOption, &Request->BoardId) ||
      !ConvertId(Options, BomOption, &Request->BomId) ||
      !ConvertId(Options, FabOption, &Request->FabId))
    return ToolInvalidParameter;
  return ToolSuccess;
}

// The help lines of the options with (LongOnly false) or without a short form.
VOID PrintOptionHelp(bool LongOnly) {
  for (const ToolOption &Option : ToolOptions) {
    if ((Option.Short == nullptr) != LongOnly)
      continue;
    // " -b [--board]    ID                Programs the Pylon Board ID"
    CHAR16 Words[24];
    if (LongOnly)
      FormatWithFlags(Words, sizeof(Words) / sizeof(Words[0]), FormatWideFormat | FormatWideOutput,
                      u"%s", Option.Long);
    else
      FormatWithFlags(Words, sizeof(Words) / sizeof(Words[0]), FormatWideFormat | FormatWideOutput,
                      u"%s [%s]", Option.Short, Option.Long);
    PrintConsole(u" %-16s%-18s%s\n", static_cast<const CHAR16 *>(Words), Option.ValueHelp,
                 Option.Description);
    if (Option.MoreHelp.Text[0] != 0)
      PrintConsole(Option.MoreHelp);
  }
}

// The guards and the edit's own options, for every operation that writes.
ToolStatus CheckJobOptions(const CliOptions &Options, RecordJob *Job) {
  if (Options.IfBlankRequested && Options.IfSerialGiven) {
    PrintConsole(u"ERROR: You can't ask for a blank GPP1 and a Pylon Serial # at the same time!\n");
    return ToolInvalidParameter;
  }
  if (Options.NoSandrelRequested && Options.CarrierSerialGiven) {
    PrintConsole(u"ERROR: You can't write and remove the Sandrel Serial # at the same time!\n");
    return ToolInvalidParameter;
  }
  if (Options.IfSerialGiven) {
    if (Options.IfSerialText == nullptr) {
      PrintConsole(u"ERROR: You can't guard a change without Pylon Serial #!\n");
      return ToolInvalidParameter;
    }
    if (!CheckStorable(IfSerialOption, Options.IfSerialText))
      return ToolInvalidParameter;
  }
  Job->Guard = Options.IfBlankRequested ? Gpp1Guard::Blank
               : Options.IfSerialGiven  ? Gpp1Guard::Serial
                                        : Gpp1Guard::None;
  Job->GuardSerial = Options.IfSerialText;
  Job->DryRun = Options.DryRunRequested != 0;
  Job->BackupPath = Options.BackupText;
  Job->ReadBefore = Options.LogGiven != 0;
  return ToolSuccess;
}

// An edit: at least one field to change, each given with its value, and every value storable.
ToolStatus CheckEditRequest(const CliOptions &Options, WriteRequest *Request, RecordEdit *Edit) {
  if (Options.ReadRequested) {
    PrintConsole(u"ERROR: You can't write and read at the same time!\n");
    return ToolInvalidParameter;
  }
  // A write stores every field; an edit keeps those not given. Asked for both, either would do
  // something the other did not.
  if (Options.WriteRequested) {
    PrintConsole(u"ERROR: You can't write and edit at the same time!\n");
    return ToolInvalidParameter;
  }
  Edit->ModuleSerial = Options.*ModuleSerialOption.Given != 0;
  Edit->Mm = Options.*MmOption.Given != 0;
  Edit->CarrierSerial = Options.*CarrierSerialOption.Given != 0 || Options.NoSandrelRequested;
  Edit->BoardId = Options.*BoardOption.Given != 0;
  Edit->FabId = Options.*FabOption.Given != 0;
  Edit->BomId = Options.*BomOption.Given != 0;
  if (!Edit->ModuleSerial && !Edit->Mm && !Edit->CarrierSerial && !Edit->BoardId && !Edit->FabId &&
      !Edit->BomId) {
    PrintConsole(u"ERROR: You can't edit without a field to change!\n");
    return ToolInvalidParameter;
  }
  const ToolOption *const Required[] = {&ModuleSerialOption, &MmOption};
  for (const ToolOption *Option : Required) {
    if (Options.*Option->Given && Options.*Option->Value == nullptr) {
      PrintConsole(u"ERROR: You can't write without %s!\n", Option->Label);
      return ToolInvalidParameter;
    }
  }
  ToolStatus Status = CheckWriteOptional(Options);
  if (Status == ToolSuccess)
    Status = CheckNoUnknownEntry(Options, u"edited");
  if (Status == ToolSuccess)
    Status = CheckWriteValues(Options, Request);
  return Status;
}

// A file option given without its file.
ToolStatus CheckFileOption(const CliOptions &Options, const ToolOption &Option) {
  if (Options.*Option.Given &&
      (Options.*Option.Value == nullptr || *(Options.*Option.Value) == 0)) {
    PrintConsole(u"ERROR: You can't use %s without a file name!\n", Option.Long);
    return ToolInvalidParameter;
  }
  return ToolSuccess;
}

// Whether any field of the record is given, or --no-sandrel.
bool FieldGiven(const CliOptions &Options) {
  const ToolOption *const Fields[] = {&ModuleSerialOption, &MmOption,  &CarrierSerialOption,
                                      &BoardOption,        &FabOption, &BomOption};
  bool Given = Options.NoSandrelRequested != 0;
  for (const ToolOption *Field : Fields)
    Given = Given || Options.*Field->Given;
  return Given;
}

// A restore puts back a whole block and nothing else: no fields, no other operation.
ToolStatus CheckRestoreRequest(const CliOptions &Options) {
  ToolStatus Status = CheckFileOption(Options, RestoreOption);
  if (Status != ToolSuccess)
    return Status;
  if (Options.ClearRequested || Options.EditRequested || Options.WriteRequested ||
      Options.ReadRequested || FieldGiven(Options)) {
    PrintConsole(u"ERROR: You can't restore a block and read or change fields at the same time!\n");
    return ToolInvalidParameter;
  }
  return CheckNoUnknownEntry(Options, u"restored");
}

// A clear blanks the record and nothing else: asked beside a write, an edit, a read or a field,
// it is the one thing the command line surely did not mean (a value that starts with "-c").
ToolStatus CheckClearRequest(const CliOptions &Options) {
  if (Options.WriteRequested || Options.EditRequested || Options.ReadRequested ||
      FieldGiven(Options)) {
    PrintConsole(u"ERROR: You can't clear and write, read or change fields at the same time!\n");
    return ToolInvalidParameter;
  }
  return CheckNoUnknownEntry(Options, u"cleared");
}

// The long options with a value, each given once; the log's, before anything else is done.
ToolStatus CheckRepeated(const CliOptions &Options, bool LogOnly) {
  if (Options.RepeatedOption == nullptr ||
      (LogOnly && CompareWideStrings(Options.RepeatedOption, LogOption.Long) != 0))
    return ToolSuccess;
  PrintConsole(u"ERROR: You can't give %s more than once!\n", Options.RepeatedOption);
  return ToolInvalidParameter;
}

// Texts compared without regard to case, as a FAT volume compares file names.
bool SameWithoutCase(const CHAR16 *A, const CHAR16 *B) {
  for (; *A != 0 && *B != 0; A++, B++) {
    CHAR16 X = *A >= u'a' && *A <= u'z' ? static_cast<CHAR16>(*A - u'a' + u'A') : *A;
    CHAR16 Y = *B >= u'a' && *B <= u'z' ? static_cast<CHAR16>(*B - u'a' + u'A') : *B;
    if (X != Y)
      return false;
  }
  return *A == *B;
}

// The log is opened before anything else, so it is checked first: named once, with a file that
// is none of the run's other files (a line appended to the block to restore would spoil it).
ToolStatus CheckLogOption(const CliOptions &Options) {
  ToolStatus Status = CheckRepeated(Options, true);
  if (Status == ToolSuccess)
    Status = CheckFileOption(Options, LogOption);
  if (Status != ToolSuccess)
    return Status;
  const ToolOption *const Files[] = {&BackupOption, &RestoreOption};
  for (const ToolOption *File : Files) {
    if (Options.*File->Value != nullptr && SameWithoutCase(Options.LogText, Options.*File->Value)) {
      PrintConsole(u"ERROR: The log %s can't also be the %s file!\n", Options.LogText,
                   File->Long + 2);
      return ToolInvalidParameter;
    }
  }
  return ToolSuccess;
}

// --wait's seconds: a whole decimal number up to MaxWaitSeconds.
bool ParseWait(const CHAR16 *Text, UINT32 *Seconds) {
  UINT32 Value = 0;
  if (Text == nullptr || *Text == 0)
    return false;
  for (; *Text != 0; Text++) {
    if (*Text < u'0' || *Text > u'9')
      return false;
    Value = Value * 10 + static_cast<UINT32>(*Text - u'0');
    if (Value > MaxWaitSeconds)
      return false;
  }
  *Seconds = Value;
  return true;
}

// --then's word, without regard to case.
bool ParseThen(const CHAR16 *Text, RunEnd *Then) {
  const struct {
    const CHAR16 *Word;
    RunEnd End;
  } Words[] = {{u"return", RunEnd::Return}, {u"reset", RunEnd::Reset}, {u"off", RunEnd::PowerOff}};
  for (const auto &W : Words) {
    if (Text != nullptr && SameWithoutCase(Text, W.Word)) {
      *Then = W.End;
      return true;
    }
  }
  return false;
}

// How the run ends, when asked: values that say something else are refused, not taken for the
// default.
ToolStatus CheckRunEnding(const CliOptions &Options) {
  UINT32 Seconds = 0;
  RunEnd Then = RunEnd::Return;
  if (Options.WaitGiven && !ParseWait(Options.WaitText, &Seconds)) {
    PrintConsole(u"ERROR: %s takes a whole number of seconds from 0 to %d!\n", WaitOption.Long,
                 static_cast<int>(MaxWaitSeconds));
    return ToolInvalidParameter;
  }
  if (Options.ThenGiven && !ParseThen(Options.ThenText, &Then)) {
    PrintConsole(u"ERROR: %s takes return, reset or off!\n", ThenOption.Long);
    return ToolInvalidParameter;
  }
  return ToolSuccess;
}

const CHAR8 *OperationName(ToolOperation Operation) {
  switch (Operation) {
  case ToolOperation::Help:
    return "help";
  case ToolOperation::Restore:
    return "restore";
  case ToolOperation::Clear:
    return "clear";
  case ToolOperation::Edit:
    return "edit";
  case ToolOperation::Write:
    return "write";
  case ToolOperation::Read:
    return "read";
  case ToolOperation::None:
    break;
  }
  return "none";
}

// What the run's line says besides its outcome: the values asked as typed, the files named.
RunLogEntry LogEntryOf(const CliOptions &Options, ToolOperation Operation, LoggedValue *Asked) {
  UINTN AskedCount = 0;
  for (const ToolOption &Option : ToolOptions) {
    if (Option.Value == nullptr || TakesAnyValue(Option) || !(Options.*Option.Given) ||
        Options.*Option.Value == nullptr)
      continue;
    Asked[AskedCount++] = {Option.Long + 2, Options.*Option.Value};
  }
  return {OperationName(Operation),
          Options.IfBlankRequested ? "if-blank"
          : Options.IfSerialGiven  ? "if-serial"
                                   : "none",
          Options.IfSerialText,
          Asked,
          AskedCount,
          Options.BackupText,
          Options.RestoreText};
}

// Checks the command line for the operation it selects and runs it: each operation's own checks,
// then those every operation on GPP1 shares, then the operation.
ToolStatus RunOperation(ToolOperation Operation, const CliOptions &Options, RecordJob *Job) {
  WriteRequest Request;
  ZeroBytes(&Request, sizeof(Request));
  RecordEdit Edit = {};
  ToolStatus Status = ToolSuccess;
  switch (Operation) {
  case ToolOperation::Help:
    PrintHelp();
    return ToolSuccess;
  case ToolOperation::None:
    PrintConsole(u"ERROR: Invalid CLI option(s)!\n");
    return ToolInvalidParameter;
  case ToolOperation::Restore:
    Status = CheckRestoreRequest(Options);
    break;
  case ToolOperation::Clear:
    Status = CheckClearRequest(Options);
    break;
  case ToolOperation::Edit:
    Status = CheckEditRequest(Options, &Request, &Edit);
    break;
  case ToolOperation::Write:
    Status = CheckWriteRequest(Options, &Request);
    break;
  case ToolOperation::Read:
    break;
  }
  if (Status == ToolSuccess)
    Status = CheckRepeated(Options, false);
  if (Status == ToolSuccess)
    Status = CheckRunEnding(Options);
  if (Status == ToolSuccess)
    Status = CheckFileOption(Options, BackupOption);
  if (Status == ToolSuccess)
    Status = CheckJobOptions(Options, Job);
  if (Status != ToolSuccess)
    return Status;
  switch (Operation) {
  case ToolOperation::Restore:
    return RestoreCommand(Options.RestoreText, Job);
  case ToolOperation::Clear:
    return ClearCommand(Job);
  case ToolOperation::Edit:
    return WriteCommand(&Request, Job, &Edit);
  case ToolOperation::Write:
    return WriteCommand(&Request, Job);
  default:
    return ReadCommand(&Options, Job);
  }
}

} // namespace

ToolOperation OperationOf(const CliOptions &Options) {
  if (Options.HelpRequested)
    return ToolOperation::Help;
  if (Options.RestoreGiven)
    return ToolOperation::Restore;
  if (Options.ClearRequested)
    return ToolOperation::Clear;
  if (Options.EditRequested)
    return ToolOperation::Edit;
  if (Options.WriteRequested)
    return ToolOperation::Write;
  return Options.ReadRequested ? ToolOperation::Read : ToolOperation::None;
}

bool OperationWrites(ToolOperation Operation) {
  return Operation == ToolOperation::Write || Operation == ToolOperation::Edit ||
         Operation == ToolOperation::Clear || Operation == ToolOperation::Restore;
}

VOID ParseCommandLine(UINTN Argc, CHAR16 **Argv, CliOptions *Options, ParseReport Report) {
  if (Options == nullptr) {
    ReportInternalError(InternalCheck::ParseOptionsRecord);
    return;
  }
  if (Argv == nullptr)
    return;
  for (UINTN I = 1; I < Argc; I++) {
    CHAR16 *Entry = Argv[I];
    if (Entry == nullptr) {
      ReportInternalError(InternalCheck::ParseNullEntry);
      continue;
    }
    // A long option's name ends at its '=', if it has one; the value after it keeps its case.
    UINTN NameLength = 0;
    UINTN Equals = 0;
    for (; Entry[NameLength] != 0; NameLength++) {
      if (Equals == 0 && Entry[NameLength] == u'=' && Entry[0] == u'-' && Entry[1] == u'-')
        Equals = NameLength;
    }
    if (Equals != 0)
      NameLength = Equals;
    LowerInPlace(Entry, NameLength);
    if (Equals == 0 && CompareWideStrings(Entry, u"--debug") == 0) {
      DebugEnabled = 1;
      continue;
    }
    const ToolOption *Match = nullptr;
    for (const ToolOption &Option : ToolOptions) {
      if ((Equals == 0 && WordIs(Entry, NameLength, Option.Short)) ||
          WordIs(Entry, NameLength, Option.Long)) {
        Match = &Option;
        break;
      }
    }
    // "--name=value" of a switch is no word the tool knows.
    if (Match != nullptr && Equals != 0 && Match->Value == nullptr)
      Match = nullptr;
    if (Match == nullptr) {
      if (Report == ParseReport::Print)
        PrintConsole(u"Unknown! - Argv[%d]: \"%s\"\n", static_cast<int>(I), Entry);
      if (Options->FirstUnknownIndex == 0) {
        Options->FirstUnknownIndex = I;
        Options->FirstUnknownText = Entry;
      }
      continue;
    }
    if (TakesAnyValue(*Match) && Options->*(Match->Given) && Options->RepeatedOption == nullptr)
      Options->RepeatedOption = Match->Long;
    Options->*(Match->Given) = 1;
    if (Match->Value == nullptr)
      continue;
    if (Equals != 0) {
      Options->*(Match->Value) = Entry + Equals + 1;
      continue;
    }
    // The next entry is the value unless it looks like an option (for the options with a short
    // form); a value is never lowered.
    if (I + 1 < Argc && Argv[I + 1] != nullptr &&
        (TakesAnyValue(*Match) || Argv[I + 1][0] != u'-')) {
      Options->*(Match->Value) = Argv[I + 1];
      I++;
    }
  }
}

VOID PrintHelp() {
  for (const ConsoleFormat<> &Line : HelpHead)
    PrintConsole(Line);
  PrintOptionHelp(false);
  for (const ConsoleFormat<> &Line : HelpTail)
    PrintConsole(Line);
  for (const ConsoleFormat<> &Line : MoreHelpHead)
    PrintConsole(Line);
  PrintOptionHelp(true);
  for (const ConsoleFormat<> &Line : MoreHelpTail)
    PrintConsole(Line);
}

ToolStatus CheckWriteRequest(const CliOptions &Options, WriteRequest *Request) {
  ToolStatus Status = CheckWriteRequired(Options);
  if (Status == ToolSuccess)
    Status = CheckWriteOptional(Options);
  if (Status == ToolSuccess)
    Status = CheckNoUnknownEntry(Options, u"written");
  if (Status == ToolSuccess)
    Status = CheckWriteValues(Options, Request);
  return Status;
}

ToolStatus ToolMain(UINTN Argc, CHAR16 **Argv) {
  CliOptions Options;
  ZeroBytes(&Options, sizeof(Options));
  // Every invocation starts with debug output off, also when the host runs several in one process.
  DebugEnabled = 0;
  Journal = {};
  ForgetStationLog();
  if (Argv == nullptr) {
    ReportInternalError(InternalCheck::ToolMainVector);
    return ToolInvalidParameter;
  }
  ParseCommandLine(Argc, Argv, &Options);

  // Factory logs match this banner as printed, spelling included (see docs/kept-on-purpose.md).
  PrintConsole(u"Kestrel for Tarnm - Version #%s\n", ToolVersion);
  PrintConsole(u"Board record tool for Tarn boards, eMMC GPP1 block 0; first released %s.\n\n",
               ToolYear);

  ToolOperation Operation = OperationOf(Options);
  RecordJob Job = {Gpp1Guard::None, nullptr, false, nullptr, false};
  ToolStatus Status = ToolSuccess;
  // The run's line takes its place in the log before anything else is done, so that a stick that
  // cannot take it stops the run before GPP1 is touched, and one that fills up later still does.
  LoggedValue Asked[ToolOptionCount];
  RunLogEntry Entry = {};
  StationLog Log = {};
  if (Options.LogGiven) {
    Status = CheckLogOption(Options);
    if (Status != ToolSuccess)
      return Status;
    Entry = LogEntryOf(Options, Operation, Asked);
    Status = ReserveStationLog(&Log, Options.LogText, Entry);
    if (Status != ToolSuccess)
      return Status;
  }

  Status = RunOperation(Operation, Options, &Job);

  if (Options.LogGiven)
    Status = FinishStationLog(&Log, Entry, Status);
  if (Journal.Backup != nullptr)
    FreeBuffer(Journal.Backup);
  Journal.Backup = nullptr;
  // A dry run has said "Dry run: nothing was written." itself; nothing was done to succeed at.
  if (Status == ToolSuccess && !Journal.DryRun)
    PrintConsole(u"Operation successful!\n");
  return Status;
}

RunEnding RunEndingOf(UINTN Argc, CHAR16 **Argv) {
  CliOptions Options;
  ZeroBytes(&Options, sizeof(Options));
  UINT8 Debug = DebugEnabled;
  ParseCommandLine(Argc, Argv, &Options, ParseReport::Silent);
  DebugEnabled = Debug;
  RunEnding Ending = {false, 0, RunEnd::Return};
  Ending.WaitGiven = Options.WaitGiven && ParseWait(Options.WaitText, &Ending.WaitSeconds);
  if (Options.ThenGiven && !ParseThen(Options.ThenText, &Ending.Then))
    Ending.Then = RunEnd::Return;
  return Ending;
}
