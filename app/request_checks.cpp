#include "app/request_checks.h"

#include "app/tool_options.h"
#include "shell/memory.h"

namespace {

// -p and -m, where given, with their values.
ToolStatus CheckRequiredValues(const CliOptions &Options) {
  const ToolOption *const Required[] = {&ModuleSerialOption, &MmOption};
  for (const ToolOption *Option : Required) {
    if (Options.*Option->Given && Options.*Option->Value == nullptr) {
      PrintConsole(u"ERROR: You can't write without %s!\n", Option->Label);
      return ToolBadCommandLine;
    }
  }
  return ToolSuccess;
}

// The required options of a write; the first failure stops the checks.
ToolStatus CheckWriteRequired(const CliOptions &Options) {
  if (Options.ReadRequested) {
    PrintConsole(u"ERROR: You can't write and read at the same time!\n");
    return ToolBadCommandLine;
  }
  if (!(Options.*ModuleSerialOption.Given) || !(Options.*MmOption.Given)) {
    PrintConsole(u"ERROR: You can't write without both Pylon Serial # and MM #!\n");
    return ToolBadCommandLine;
  }
  return CheckRequiredValues(Options);
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
      Status = ToolBadCommandLine;
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
  return ToolBadCommandLine;
}

// An ID option's value as the record stores it: AbsentId when the option is not given.
bool ConvertId(const CliOptions &Options, const ToolOption &Option, UINT32 *Id) {
  *Id = AbsentId;
  if (!(Options.*Option.Given))
    return true;
  const ParsedValue &Parsed = Options.*Option.Parsed;
  if (Parsed.Fault == 0) {
    *Id = Parsed.Number;
    return true;
  }
  ReportIdFault(static_cast<IdFault>(Parsed.Fault), Option.Label, Options.*Option.Value);
  return false;
}

// Every value of a write must be stored exactly as given, so each is checked before the device
// is asked anything; the first that cannot be is reported. Texts in the order -p, -m, -s, IDs in
// the order -b, -o, -f.
ToolStatus CheckWriteValues(const CliOptions &Options, WriteRequest *Request) {
  const ToolOption *const Texts[] = {&ModuleSerialOption, &MmOption, &CarrierSerialOption};
  for (const ToolOption *Option : Texts) {
    if (Options.*Option->Given && !CheckStorable(Option->Label, Options.*Option->Value))
      return ToolBadCommandLine;
  }
  Request->ModuleSerial = Options.*ModuleSerialOption.Value;
  Request->Mm = Options.*MmOption.Value;
  Request->CarrierSerial =
      Options.*CarrierSerialOption.Given ? Options.*CarrierSerialOption.Value : nullptr;
  if (!ConvertId(Options, BoardOption, &Request->BoardId) ||
      !ConvertId(Options, BomOption, &Request->BomId) ||
      !ConvertId(Options, FabOption, &Request->FabId))
    return ToolBadCommandLine;
  return ToolSuccess;
}

// The guards and the edit's own options, for every operation that writes.
ToolStatus CheckJobOptions(const CliOptions &Options, RecordJob *Job) {
  if (Options.IfBlankRequested && Options.IfSerialGiven) {
    PrintConsole(u"ERROR: You can't ask for a blank GPP1 and a Pylon Serial # at the same time!\n");
    return ToolBadCommandLine;
  }
  if (Options.NoSandrelRequested && Options.CarrierSerialGiven) {
    PrintConsole(u"ERROR: You can't write and remove the Sandrel Serial # at the same time!\n");
    return ToolBadCommandLine;
  }
  if (Options.IfSerialGiven) {
    if (Options.IfSerialText == nullptr) {
      PrintConsole(u"ERROR: You can't guard a change without Pylon Serial #!\n");
      return ToolBadCommandLine;
    }
    if (!CheckStorable(IfSerialOption.Label, Options.IfSerialText))
      return ToolBadCommandLine;
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

// A file option given without its file.
ToolStatus CheckFileOption(const CliOptions &Options, const ToolOption &Option) {
  if (Options.*Option.Given &&
      (Options.*Option.Value == nullptr || *(Options.*Option.Value) == 0)) {
    PrintConsole(u"ERROR: You can't use %s without a file name!\n", Option.Long);
    return ToolBadCommandLine;
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

// The long options with a value, each given once; the log's, before anything else is done.
ToolStatus CheckRepeated(const CliOptions &Options, bool LogOnly) {
  if (Options.RepeatedOption == nullptr ||
      (LogOnly && CompareWideStrings(Options.RepeatedOption, LogOption.Long) != 0))
    return ToolSuccess;
  PrintConsole(u"ERROR: You can't give %s more than once!\n", Options.RepeatedOption);
  return ToolBadCommandLine;
}

// How the run ends, when asked: values that say something else are refused, not taken for the
// default.
ToolStatus CheckRunEnding(const CliOptions &Options) {
  if (Options.WaitGiven && Options.Wait.Fault != 0) {
    PrintConsole(u"ERROR: %s takes a whole number of seconds from 0 to %d!\n", WaitOption.Long,
                 static_cast<int>(MaxWaitSeconds));
    return ToolBadCommandLine;
  }
  if (Options.ThenGiven && Options.Then.Fault != 0) {
    PrintConsole(u"ERROR: %s takes return, reset or off!\n", ThenOption.Long);
    return ToolBadCommandLine;
  }
  return ToolSuccess;
}

// What a write and an edit check alike once their own options are in order: the values of the
// optional options, no unknown entry (the record would not be what was asked), every value
// storable as given.
ToolStatus CheckWriteRest(const CliOptions &Options, const CHAR16 *Done, WriteRequest *Request) {
  ToolStatus Status = CheckWriteOptional(Options);
  if (Status != ToolSuccess)
    return Status;
  Status = CheckNoUnknownEntry(Options, Done);
  return Status != ToolSuccess ? Status : CheckWriteValues(Options, Request);
}

} // namespace

bool CheckStorable(const CHAR16 *Label, const CHAR16 *Text) {
  switch (CheckStorableText(Text)) {
  case TextFault::None:
    return true;
  case TextFault::Empty:
    PrintConsole(u"ERROR: %s is empty!\n", Label);
    break;
  case TextFault::Unprintable:
    PrintConsole(u"ERROR: %s \"%s\" can hold only printable ASCII characters other than '$'!\n",
                 Label, Text);
    break;
  case TextFault::TooLong:
    PrintConsole(u"ERROR: %s \"%s\" is longer than %d characters!\n", Label, Text,
                 static_cast<int>(RecordTextFieldSize));
    break;
  }
  return false;
}

ToolStatus CheckRunOptions(const CliOptions &Options) {
  ToolStatus Status = CheckRepeated(Options, false);
  return Status != ToolSuccess ? Status : CheckRunEnding(Options);
}

ToolStatus CheckWriteRequest(const CliOptions &Options, WriteRequest *Request) {
  ToolStatus Status = CheckWriteRequired(Options);
  return Status != ToolSuccess ? Status : CheckWriteRest(Options, u"written", Request);
}

ToolStatus CheckEditRequest(const CliOptions &Options, WriteRequest *Request, RecordEdit *Edit) {
  if (Options.ReadRequested) {
    PrintConsole(u"ERROR: You can't write and read at the same time!\n");
    return ToolBadCommandLine;
  }
  // A write stores every field; an edit keeps those not given. Asked for both, either would do
  // something the other did not.
  if (Options.WriteRequested) {
    PrintConsole(u"ERROR: You can't write and edit at the same time!\n");
    return ToolBadCommandLine;
  }
  Edit->ModuleSerial = Options.*ModuleSerialOption.Given != 0;
  Edit->Mm = Options.*MmOption.Given != 0;
  Edit->CarrierSerial = Options.*CarrierSerialOption.Given != 0 || Options.NoSandrelRequested;
  Edit->BoardId = Options.*BoardOption.Given != 0;
  Edit->FabId = Options.*FabOption.Given != 0;
  Edit->BomId = Options.*BomOption.Given != 0;
  if (!FieldGiven(Options)) {
    PrintConsole(u"ERROR: You can't edit without a field to change!\n");
    return ToolBadCommandLine;
  }
  ToolStatus Status = CheckRequiredValues(Options);
  return Status != ToolSuccess ? Status : CheckWriteRest(Options, u"edited", Request);
}

ToolStatus CheckRestoreRequest(const CliOptions &Options) {
  ToolStatus Status = CheckFileOption(Options, RestoreOption);
  if (Status != ToolSuccess)
    return Status;
  if (Options.ClearRequested || Options.EditRequested || Options.WriteRequested ||
      Options.ReadRequested || FieldGiven(Options)) {
    PrintConsole(u"ERROR: You can't restore a block and read or change fields at the same time!\n");
    return ToolBadCommandLine;
  }
  return CheckNoUnknownEntry(Options, u"restored");
}

ToolStatus CheckClearRequest(const CliOptions &Options) {
  if (Options.WriteRequested || Options.EditRequested || Options.ReadRequested ||
      FieldGiven(Options)) {
    PrintConsole(u"ERROR: You can't clear and write, read or change fields at the same time!\n");
    return ToolBadCommandLine;
  }
  return CheckNoUnknownEntry(Options, u"cleared");
}

ToolStatus CheckLogOption(const CliOptions &Options) {
  ToolStatus Status = CheckRepeated(Options, true);
  if (Status != ToolSuccess || (Status = CheckFileOption(Options, LogOption)) != ToolSuccess)
    return Status;
  // What the line names of the run must fit it: a guard's serial is one a record can hold, and a
  // file's name is no longer than a file system takes.
  if (Options.IfSerialText != nullptr && !CheckStorable(IfSerialOption.Label, Options.IfSerialText))
    return ToolBadCommandLine;
  const ToolOption *const Named[] = {&LogOption, &BackupOption, &RestoreOption};
  for (const ToolOption *File : Named) {
    const CHAR16 *Name = Options.*File->Value;
    if (Name != nullptr && WideStringLength(Name) > MaxFileNameLength) {
      PrintConsole(u"ERROR: The file name of %s is longer than %d characters!\n", File->Long,
                   static_cast<int>(MaxFileNameLength));
      return ToolBadCommandLine;
    }
  }
  const ToolOption *const Files[] = {&BackupOption, &RestoreOption};
  for (const ToolOption *File : Files) {
    if (Options.*File->Value != nullptr && SameWithoutCase(Options.LogText, Options.*File->Value)) {
      PrintConsole(u"ERROR: The log %s can't also be the %s file!\n", Options.LogText,
                   File->Long + 2);
      return ToolBadCommandLine;
    }
  }
  return ToolSuccess;
}

ToolStatus CheckSharedOptions(const CliOptions &Options, RecordJob *Job) {
  ToolStatus Status = CheckRunOptions(Options);
  if (Status != ToolSuccess)
    return Status;
  Status = CheckFileOption(Options, BackupOption);
  return Status != ToolSuccess ? Status : CheckJobOptions(Options, Job);
}

UINT8 ParseIdOption(const CHAR16 *Text, UINT32 *Id) {
  return static_cast<UINT8>(ParseIdValue(Text, Id));
}

UINT8 ParseWaitOption(const CHAR16 *Text, UINT32 *Seconds) {
  UINT32 Value = 0;
  if (Text == nullptr || *Text == 0)
    return 1;
  for (; *Text != 0; Text++) {
    if (*Text < u'0' || *Text > u'9')
      return 1;
    Value = Value * 10 + static_cast<UINT32>(*Text - u'0');
    if (Value > MaxWaitSeconds)
      return 1;
  }
  *Seconds = Value;
  return 0;
}

UINT8 ParseThenOption(const CHAR16 *Text, UINT32 *Then) {
  const struct {
    const CHAR16 *Word;
    RunEnd End;
  } Words[] = {{u"return", RunEnd::Return}, {u"reset", RunEnd::Reset}, {u"off", RunEnd::PowerOff}};
  for (const auto &W : Words) {
    if (Text != nullptr && SameWithoutCase(Text, W.Word)) {
      *Then = static_cast<UINT32>(W.End);
      return 0;
    }
  }
  return 1;
}
