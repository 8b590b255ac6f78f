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
     u"-w, --edit, -c only over a blank GPP1", u"", nullptr},
    {nullptr, u"--if-serial", &CliOptions::IfSerialGiven, &CliOptions::IfSerialText, u"Serial #",
     u"-w, --edit, -c only over this Pylon #", u"", u"Pylon Serial #"},
    {nullptr, u"--dry-run", &CliOptions::DryRunRequested, nullptr, u"",
     u"Shows what would be written; writes nothing", u"", nullptr},
    {nullptr, u"--backup", &CliOptions::BackupGiven, &CliOptions::BackupText, u"File",
     u"Saves block 0 to a new File before a change", u"", nullptr},
    {nullptr, u"--restore", &CliOptions::RestoreGiven, &CliOptions::RestoreText, u"File",
     u"Writes a block saved by --backup back", u"", nullptr},
    {nullptr, u"--log", &CliOptions::LogGiven, &CliOptions::LogText, u"File",
     u"Appends one JSON line about the run to File", u"", nullptr},
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
};

VOID LowerInPlace(CHAR16 *Text) {
  for (; *Text != 0; Text++) {
    if (*Text >= u'A' && *Text <= u'Z')
      *Text = static_cast<CHAR16>(*Text - u'A' + u'a');
  }
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
  if (Options.*Option.Given && Options.*Option.Value == nullptr) {
    PrintConsole(u"ERROR: You can't use %s without a file name!\n", Option.Long);
    return ToolInvalidParameter;
  }
  return ToolSuccess;
}

// A restore puts back a whole block and nothing else: no fields, no other operation.
ToolStatus CheckRestoreRequest(const CliOptions &Options) {
  ToolStatus Status = CheckFileOption(Options, RestoreOption);
  if (Status != ToolSuccess)
    return Status;
  const ToolOption *const Fields[] = {&ModuleSerialOption, &MmOption, &CarrierSerialOption,
                                      &BoardOption,        &FabOption, &BomOption};
  bool Other = Options.ClearRequested || Options.EditRequested || Options.WriteRequested ||
               Options.ReadRequested || Options.NoSandrelRequested;
  for (const ToolOption *Field : Fields)
    Other = Other || Options.*Field->Given;
  if (Other) {
    PrintConsole(u"ERROR: You can't restore a block and read or change fields at the same time!\n");
    return ToolInvalidParameter;
  }
  return CheckNoUnknownEntry(Options, u"restored");
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

// The run's line in the station's log: the values asked as typed, the files named, and the
// outcome from the journal.
ToolStatus LogRun(StationLog *Log, const CliOptions &Options, ToolOperation Operation,
                  ToolStatus Status) {
  LoggedValue Asked[ToolOptionCount];
  UINTN AskedCount = 0;
  for (const ToolOption &Option : ToolOptions) {
    if (Option.Value == nullptr || &Option == &BackupOption || &Option == &RestoreOption ||
        &Option == &LogOption || &Option == &IfSerialOption || !(Options.*Option.Given) ||
        Options.*Option.Value == nullptr)
      continue;
    Asked[AskedCount++] = {Option.Long + 2, Options.*Option.Value};
  }
  RunLogEntry Entry = {OperationName(Operation),
                       Options.IfBlankRequested ? "if-blank"
                       : Options.IfSerialGiven  ? "if-serial"
                                                : "none",
                       Options.IfSerialText,
                       Asked,
                       AskedCount,
                       Options.BackupText,
                       Options.RestoreText,
                       Status};
  return AppendStationLog(Log, Entry);
}

// Checks the command line for the operation it selects and runs it.
ToolStatus RunOperation(ToolOperation Operation, const CliOptions &Options, RecordJob *Job) {
  ToolStatus Status = ToolInvalidParameter;
  WriteRequest Request;
  ZeroBytes(&Request, sizeof(Request));
  RecordEdit Edit = {};
  switch (Operation) {
  case ToolOperation::Help:
    PrintHelp();
    Status = ToolSuccess;
    break;
  case ToolOperation::Restore:
    Status = CheckRestoreRequest(Options);
    if (Status == ToolSuccess)
      Status = CheckFileOption(Options, BackupOption);
    if (Status == ToolSuccess)
      Status = CheckJobOptions(Options, Job);
    if (Status == ToolSuccess)
      Status = RestoreCommand(Options.RestoreText, Job);
    break;
  case ToolOperation::Clear:
    Status = CheckNoUnknownEntry(Options, u"cleared");
    if (Status == ToolSuccess)
      Status = CheckFileOption(Options, BackupOption);
    if (Status == ToolSuccess)
      Status = CheckJobOptions(Options, Job);
    if (Status == ToolSuccess)
      Status = ClearCommand(Job);
    break;
  case ToolOperation::Edit:
    Status = CheckEditRequest(Options, &Request, &Edit);
    if (Status == ToolSuccess)
      Status = CheckFileOption(Options, BackupOption);
    if (Status == ToolSuccess)
      Status = CheckJobOptions(Options, Job);
    if (Status == ToolSuccess)
      Status = WriteCommand(&Request, Job, &Edit);
    break;
  case ToolOperation::Write:
    Status = CheckWriteRequest(Options, &Request);
    if (Status == ToolSuccess)
      Status = CheckFileOption(Options, BackupOption);
    if (Status == ToolSuccess)
      Status = CheckJobOptions(Options, Job);
    if (Status == ToolSuccess)
      Status = WriteCommand(&Request, Job);
    break;
  case ToolOperation::Read:
    Status = ReadCommand(&Options);
    break;
  case ToolOperation::None:
    PrintConsole(u"ERROR: Invalid CLI option(s)!\n");
    break;
  }
  return Status;
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
    LowerInPlace(Entry);
    if (CompareWideStrings(Entry, u"--debug") == 0) {
      DebugEnabled = 1;
      continue;
    }
    const ToolOption *Match = nullptr;
    for (const ToolOption &Option : ToolOptions) {
      if ((Option.Short != nullptr && CompareWideStrings(Entry, Option.Short) == 0) ||
          CompareWideStrings(Entry, Option.Long) == 0) {
        Match = &Option;
        break;
      }
    }
    if (Match == nullptr) {
      if (Report == ParseReport::Print)
        PrintConsole(u"Unknown! - Argv[%d]: \"%s\"\n", static_cast<int>(I), Entry);
      if (Options->FirstUnknownIndex == 0) {
        Options->FirstUnknownIndex = I;
        Options->FirstUnknownText = Entry;
      }
      continue;
    }
    Options->*(Match->Given) = 1;
    if (Match->Value == nullptr)
      continue;
    // The next entry is the value unless it looks like an option; a value is never lowered.
    if (I + 1 < Argc && Argv[I + 1] != nullptr && Argv[I + 1][0] != u'-') {
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
  if (Argv == nullptr) {
    ReportInternalError(InternalCheck::ToolMainVector);
    return ToolInvalidParameter;
  }
  ParseCommandLine(Argc, Argv, &Options);

  // Factory logs match this banner as printed, spelling included (see docs/kept-on-purpose.md).
  PrintConsole(u"Kestrel for Tarnm - Version #%s\n", ToolVersion);
  PrintConsole(u"Board record tool for Tarn boards, eMMC GPP1 block 0; first released %s.\n\n",
               ToolYear);

  // The log is opened before anything else is done, so that a stick that cannot take the run's
  // line stops the run before GPP1 is touched.
  StationLog Log = {};
  if (Options.LogGiven) {
    ToolStatus Status = CheckFileOption(Options, LogOption);
    if (Status == ToolSuccess)
      Status = OpenStationLog(&Log, Options.LogText);
    if (Status != ToolSuccess)
      return Status;
  }

  RecordJob Job = {Gpp1Guard::None, nullptr, false, nullptr, false};
  ToolOperation Operation = OperationOf(Options);
  ToolStatus Status = RunOperation(Operation, Options, &Job);

  if (Options.LogGiven) {
    ToolStatus Logged = LogRun(&Log, Options, Operation, Status);
    if (Logged != ToolSuccess)
      return Logged;
  }
  // A dry run has said "Dry run: nothing was written." itself; nothing was done to succeed at.
  bool Rehearsed = Job.DryRun && (Operation == ToolOperation::Restore ||
                                  Operation == ToolOperation::Clear ||
                                  Operation == ToolOperation::Edit ||
                                  Operation == ToolOperation::Write);
  if (Status == ToolSuccess && !Rehearsed)
    PrintConsole(u"Operation successful!\n");
  return Status;
}
