#include "app/command_line.h"

#include "app/board_record.h"
#include "app/read_command.h"
#include "app/version.h"
#include "app/write_command.h"
#include "shell/console.h"
#include "shell/memory.h"

namespace {

constexpr const CHAR16 *ToolYear = u"2017";

// Where a matched option records itself: its flag and, for options with a value, its text.
struct OptionWord {
  const CHAR16 *Word;
  UINT8 CliOptions::*Flag;
  const CHAR16 *CliOptions::*Text;
};

// Compared in this order; the first exact match wins.
constexpr OptionWord OptionWords[] = {
    {u"-b", &CliOptions::BoardGiven, &CliOptions::BoardText},
    {u"--board", &CliOptions::BoardGiven, &CliOptions::BoardText},
    {u"-o", &CliOptions::BomGiven, &CliOptions::BomText},
    {u"--bom", &CliOptions::BomGiven, &CliOptions::BomText},
    {u"-c", &CliOptions::ClearRequested, nullptr},
    {u"--clear", &CliOptions::ClearRequested, nullptr},
    {u"-f", &CliOptions::FabGiven, &CliOptions::FabText},
    {u"--fab", &CliOptions::FabGiven, &CliOptions::FabText},
    {u"-h", &CliOptions::HelpRequested, nullptr},
    {u"--help", &CliOptions::HelpRequested, nullptr},
    {u"-p", &CliOptions::ModuleSerialGiven, &CliOptions::ModuleSerialText},
    {u"--pylon", &CliOptions::ModuleSerialGiven, &CliOptions::ModuleSerialText},
    {u"-m", &CliOptions::MmGiven, &CliOptions::MmText},
    {u"--mm", &CliOptions::MmGiven, &CliOptions::MmText},
    {u"-r", &CliOptions::ReadRequested, nullptr},
    {u"--read", &CliOptions::ReadRequested, nullptr},
    {u"-s", &CliOptions::CarrierSerialGiven, &CliOptions::CarrierSerialText},
    {u"--sandrel", &CliOptions::CarrierSerialGiven, &CliOptions::CarrierSerialText},
    {u"-w", &CliOptions::WriteRequested, nullptr},
    {u"--write", &CliOptions::WriteRequested, nullptr},
};

constexpr ConsoleFormat<> HelpLines[] = {
    u" Kestrel.efi is a tool to manipulate the data in eMMC GPP1 partition.\n",
    u"\n",
    u" Switches:\n",
    u" -b [--board]    ID                Programs the Pylon Board ID\n",
    u" -c [--clear]                      Clears the GPP1 data\n",
    u" -f [--fab]      ID                Programs the Pylon Fab ID\n",
    u" -h [--help]                       Prints this\n",
    u" -p [--pylon]    Serial #          Programs the Pylon serial #\n",
    u" -m [--mm]       MM #              Programs the Pylon MM #\n",
    u" -o [--bom]      ID                Programs the Pylon BOM ID\n",
    u" -r [--read]                       Prints out the data in GPP1\n",
    u" -s [--sandrel]  Serial #          Programs the Sandrel Serial #\n",
    u" -w [--write]    -p # -m # [-s #]  Programs the data into the GPP1\n",
    u"                                   -p & -m are required.\n",
    u"                                   -b, -f, -o, -s are optional.\n",
    u"\n",
    u" Examples:\n",
    u"  Kestrel.efi -w -p 12345678 -s 87654321 -m 09876\n",
    u"  - Writes the Pylon Serial #12345678, Sandrel Serial #87654321,\n",
    u"  - and MM #09876 to GPP1.\n",
    u"  Kestrel.efi -r\n",
    u"  - Dumps the GPP1 info to the screen in human readable form.\n",
};

VOID LowerInPlace(CHAR16 *Text) {
  for (; *Text != 0; Text++) {
    if (*Text >= u'A' && *Text <= u'Z')
      *Text = static_cast<CHAR16>(*Text - u'A' + u'a');
  }
}

// Checks of a write request that stop at the first failure.
ToolStatus CheckWriteRequired(const CliOptions &Options) {
  if (Options.ReadRequested) {
    PrintConsole(u"ERROR: You can't write and read at the same time!\n");
    return ToolInvalidParameter;
  }
  if (!Options.ModuleSerialGiven || !Options.MmGiven) {
    PrintConsole(u"ERROR: You can't write without both Pylon Serial # and MM #!\n");
    return ToolInvalidParameter;
  }
  if (Options.ModuleSerialText == nullptr) {
    PrintConsole(u"ERROR: You can't write without Pylon Serial #!\n");
    return ToolInvalidParameter;
  }
  if (Options.MmText == nullptr) {
    PrintConsole(u"ERROR: You can't write without MM #!\n");
    return ToolInvalidParameter;
  }
  return ToolSuccess;
}

// An option that takes a value, with what to call it (or what to say about it) in a message.
struct ValueOption {
  UINT8 Given;
  const CHAR16 *Text;
  const CHAR16 *Words;
};

// Checks of the optional values; every failing one is reported.
ToolStatus CheckWriteOptional(const CliOptions &Options) {
  struct MissingValue {
    UINT8 Given;
    const CHAR16 *Text;
    ConsoleFormat<> Message;
  };
  const MissingValue Values[] = {
      {Options.CarrierSerialGiven, Options.CarrierSerialText,
       u"ERROR: You can't write Sandrel without Serial #!\n"},
      {Options.BoardGiven, Options.BoardText, u"ERROR: You can't write Board ID without ID!\n"},
      {Options.BomGiven, Options.BomText, u"ERROR: You can't write BOM ID without ID!\n"},
      {Options.FabGiven, Options.FabText, u"ERROR: You can't write Fab ID without ID!\n"},
  };
  ToolStatus Status = ToolSuccess;
  for (const MissingValue &Value : Values) {
    if (Value.Given && Value.Text == nullptr) {
      PrintConsole(Value.Message);
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

// Every value of a write must be stored exactly as given, so each is checked before the device
// is asked anything; the first that cannot be is reported.
ToolStatus CheckWriteValues(const CliOptions &Options) {
  const ValueOption Texts[] = {
      {Options.ModuleSerialGiven, Options.ModuleSerialText, u"Pylon Serial #"},
      {Options.MmGiven, Options.MmText, u"MM #"},
      {Options.CarrierSerialGiven, Options.CarrierSerialText, u"Sandrel Serial #"},
  };
  for (const ValueOption &Value : Texts) {
    if (!Value.Given)
      continue;
    switch (CheckStorableText(Value.Text)) {
    case TextFault::None:
      continue;
    case TextFault::Empty:
      PrintConsole(u"ERROR: %s is empty!\n", Value.Words);
      break;
    case TextFault::Unprintable:
      PrintConsole(u"ERROR: %s \"%s\" can hold only printable ASCII characters other than "
                   u"'$'!\n",
                   Value.Words, Value.Text);
      break;
    case TextFault::TooLong:
      PrintConsole(u"ERROR: %s \"%s\" is longer than %d characters!\n", Value.Words, Value.Text,
                   static_cast<int>(RecordTextFieldSize));
      break;
    }
    return ToolInvalidParameter;
  }
  const ValueOption Ids[] = {
      {Options.BoardGiven, Options.BoardText, u"Board ID"},
      {Options.BomGiven, Options.BomText, u"BOM ID"},
      {Options.FabGiven, Options.FabText, u"Fab ID"},
  };
  for (const ValueOption &Value : Ids) {
    UINT32 Parsed = 0;
    if (!Value.Given)
      continue;
    IdFault Fault = ParseIdValue(Value.Text, &Parsed);
    if (Fault == IdFault::None)
      continue;
    ReportIdFault(Fault, Value.Words, Value.Text);
    return ToolInvalidParameter;
  }
  return ToolSuccess;
}

} // namespace

VOID ParseCommandLine(UINTN Argc, CHAR16 **Argv, CliOptions *Options) {
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
    const OptionWord *Match = nullptr;
    for (const OptionWord &Option : OptionWords) {
      if (CompareWideStrings(Entry, Option.Word) == 0) {
        Match = &Option;
        break;
      }
    }
    if (Match == nullptr) {
      PrintConsole(u"Unknown! - Argv[%d]: \"%s\"\n", static_cast<int>(I), Entry);
      if (Options->FirstUnknownIndex == 0) {
        Options->FirstUnknownIndex = I;
        Options->FirstUnknownText = Entry;
      }
      continue;
    }
    Options->*(Match->Flag) = 1;
    if (Match->Text == nullptr)
      continue;
    // The next entry is the value unless it looks like an option; a value is never lowered.
    if (I + 1 < Argc && Argv[I + 1] != nullptr && Argv[I + 1][0] != u'-') {
      Options->*(Match->Text) = Argv[I + 1];
      I++;
    }
  }
}

VOID PrintHelp() {
  for (const ConsoleFormat<> &Line : HelpLines)
    PrintConsole(Line);
}

ToolStatus ToolMain(UINTN Argc, CHAR16 **Argv) {
  CliOptions Options;
  ZeroBytes(&Options, sizeof(Options));
  // Every invocation starts with debug output off, also when the host runs several in one process.
  DebugEnabled = 0;
  if (Argv == nullptr) {
    ReportInternalError(InternalCheck::ToolMainVector);
    return ToolInvalidParameter;
  }
  ParseCommandLine(Argc, Argv, &Options);

  PrintConsole(u"Kestrel for Tarnm - Version #%s\n", ToolVersion);
  PrintConsole(u"Board record tool for Tarn boards, eMMC GPP1 block 0; first released %s.\n\n",
               ToolYear);

  ToolStatus Status;
  if (Options.HelpRequested) {
    PrintHelp();
    Status = ToolSuccess;
  } else if (Options.ClearRequested) {
    Status = CheckNoUnknownEntry(Options, u"cleared");
    if (Status == ToolSuccess)
      Status = ClearCommand();
  } else if (!Options.WriteRequested) {
    if (Options.ReadRequested) {
      Status = ReadCommand(&Options);
    } else {
      PrintConsole(u"ERROR: Invalid CLI option(s)!\n");
      Status = ToolInvalidParameter;
    }
  } else {
    Status = CheckWriteRequired(Options);
    if (Status == ToolSuccess)
      Status = CheckWriteOptional(Options);
    if (Status == ToolSuccess)
      Status = CheckNoUnknownEntry(Options, u"written");
    if (Status == ToolSuccess)
      Status = CheckWriteValues(Options);
    if (Status == ToolSuccess)
      Status = WriteCommand(&Options);
  }

  if (Status == ToolSuccess)
    PrintConsole(u"Operation successful!\n");
  return Status;
}
