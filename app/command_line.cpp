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
// The station's jobs: each one run, with one status, one log line and a PASS or FAIL banner.
constexpr ConsoleFormat<> JobHelpHead[] = {
    u"\n",
    u" Station jobs (options come before the job; every word after it is a value):\n",
};
constexpr ConsoleFormat<> JobHelpTail[] = {
    u"\n",
    u"  Kestrel.efi --provision 12345678 09876 87654321\n",
    u"  - Provisions a blank board: keeps the old block in 12345678.bin, writes,\n",
    u"  - verifies, logs in provision.log and says PASS or FAIL.\n",
    u"  Kestrel.efi --rework 12345678 22222222 09876 none 1A 2 3\n",
    u"  - Re-provisions board 12345678 as 22222222, with IDs and no Sandrel.\n",
    u"  Kestrel.efi --provision --then off\n",
    u"  - Asks for the values on the console, as a barcode scanner types them.\n",
};

VOID LowerInPlace(CHAR16 *Text, UINTN Length) {
  for (UINTN I = 0; I < Length; I++) {
    Text[I] = LowerAscii(Text[I]);
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

// The help's three groups of options: those with a short form, the other plain ones, and the
// station jobs' own.
enum class HelpGroup { Short, Long, Jobs };
HelpGroup GroupOf(const ToolOption &Option) {
  if (Option.Kind == OptionKind::JobName || Option.Kind == OptionKind::JobOption)
    return HelpGroup::Jobs;
  return Option.Short != nullptr ? HelpGroup::Short : HelpGroup::Long;
}

// The help lines of one group of options.
VOID PrintOptionHelp(HelpGroup Group) {
  for (const ToolOption &Option : ToolOptions) {
    if (GroupOf(Option) != Group)
      continue;
    const bool LongOnly = Option.Short == nullptr;
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

namespace {

VOID Note(ParseNotes *Notes, UINTN Entry) {
  if (Notes != nullptr && Notes->Count < MaxParseNotes)
    Notes->Entry[Notes->Count++] = Entry;
}

// The values the run uses as numbers are read here, once; a check that refuses one says the
// fault found now.
VOID ParseValues(CliOptions *Options) {
  for (const ToolOption &Option : ToolOptions) {
    if (Option.Parse != nullptr && Options->*(Option.Given)) {
      ParsedValue &Parsed = Options->*(Option.Parsed);
      Parsed.Fault = Option.Parse(Options->*(Option.Value), &Parsed.Number);
    }
  }
}

} // namespace

VOID SayParseNotes(const ParseNotes &Notes, CHAR16 *const *Argv) {
  for (UINTN I = 0; I < Notes.Count; I++) {
    const UINTN Entry = Notes.Entry[I];
    if (Argv[Entry] == nullptr)
      ReportInternalError(InternalCheck::ParseNullEntry);
    else
      PrintConsole(u"Unknown! - Argv[%d]: \"%s\"\n", static_cast<int>(Entry), Argv[Entry]);
  }
}

VOID ParseCommandLine(UINTN Argc, CHAR16 **Argv, CliOptions *Options, ParseNotes *Notes) {
  if (Options == nullptr) {
    ReportInternalError(InternalCheck::ParseOptionsRecord);
    return;
  }
  if (Argv == nullptr)
    return;
  for (UINTN I = 1; I < Argc; I++) {
    CHAR16 *Entry = Argv[I];
    if (Entry == nullptr) {
      Note(Notes, I);
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
      Note(Notes, I);
      if (Options->FirstUnknownIndex == 0) {
        Options->FirstUnknownIndex = I;
        Options->FirstUnknownText = Entry;
      }
      continue;
    }
    if (TakesAnyValue(*Match) && Options->*(Match->Given) && Options->RepeatedOption == nullptr)
      Options->RepeatedOption = Match->Long;
    Options->*(Match->Given) = 1;
    // Whatever follows a job's name is its values, never lowered or taken for an option.
    if (Match->Kind == OptionKind::JobName) {
      Options->JobIndex = I;
      Options->JobValues = Argv + I + 1;
      Options->JobValueCount = Argc - I - 1;
      break;
    }
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
  ParseValues(Options);
}

VOID PrintHelp() {
  const struct {
    const ConsoleFormat<> *Head;
    UINTN HeadLines;
    HelpGroup Group;
    const ConsoleFormat<> *Tail;
    UINTN TailLines;
  } Sections[] = {
      {HelpHead, sizeof(HelpHead) / sizeof(HelpHead[0]), HelpGroup::Short, HelpTail,
       sizeof(HelpTail) / sizeof(HelpTail[0])},
      {MoreHelpHead, sizeof(MoreHelpHead) / sizeof(MoreHelpHead[0]), HelpGroup::Long, MoreHelpTail,
       sizeof(MoreHelpTail) / sizeof(MoreHelpTail[0])},
      {JobHelpHead, sizeof(JobHelpHead) / sizeof(JobHelpHead[0]), HelpGroup::Jobs, JobHelpTail,
       sizeof(JobHelpTail) / sizeof(JobHelpTail[0])},
  };
  for (const auto &Section : Sections) {
    for (UINTN I = 0; I < Section.HeadLines; I++)
      PrintConsole(Section.Head[I]);
    PrintOptionHelp(Section.Group);
    for (UINTN I = 0; I < Section.TailLines; I++)
      PrintConsole(Section.Tail[I]);
  }
}
