#include "app/command_line.h"

#include "shell/memory.h"

namespace {

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
      Options->DebugRequested = 1;
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
