#include "app/station_job.h"

#include "app/request_checks.h"
#include "app/tool_options.h"
#include "shell/console.h"
#include "shell/console_input.h"
#include "shell/memory.h"

namespace {

// What a job takes: its name, the values it is given in order and the counts of them it accepts.
// Lead words come before the record's fields: a rework's OLD-SERIAL, an inspection's SERIAL.
struct JobShape {
  ToolOperation Job;
  const CHAR16 *Name;
  const CHAR16 *Usage;
  UINTN Lead;
  UINTN Counts[3];
  Gpp1Guard Guard;
  const CHAR16 *LeadLabel;
};
constexpr JobShape Shapes[] = {
    {ToolOperation::Provision,
     u"--provision",
     u"SERIAL MM [CARRIER|none [BOARD FAB BOM]]",
     0,
     {2, 3, 6},
     Gpp1Guard::Blank,
     nullptr},
    {ToolOperation::Rework,
     u"--rework",
     u"OLD-SERIAL SERIAL MM [CARRIER|none [BOARD FAB BOM]]",
     1,
     {3, 4, 7},
     Gpp1Guard::Serial,
     u"Old Pylon Serial #"},
    {ToolOperation::Inspect,
     u"--inspect",
     u"SERIAL",
     1,
     {1, 1, 1},
     Gpp1Guard::Serial,
     u"Pylon Serial #"},
};

const JobShape &ShapeOf(ToolOperation Job) {
  for (const JobShape &Shape : Shapes) {
    if (Shape.Job == Job)
      return Shape;
  }
  return Shapes[0];
}

// The record's fields in the order a job's values give them after its lead words.
constexpr const ToolOption *FieldOptions[] = {&ModuleSerialOption, &MmOption,  &CarrierSerialOption,
                                              &BoardOption,        &FabOption, &BomOption};
constexpr UINTN CarrierField = 2;
constexpr UINTN FirstIdField = 3;
constexpr UINTN FieldCount = sizeof(FieldOptions) / sizeof(FieldOptions[0]);

// The word a carrier is given as when the board has none.
constexpr const CHAR16 *NoCarrier = u"none";
// A refused value at a prompt is asked for again, up to this many times.
constexpr UINTN MaxPromptAttempts = 100;

// Characters that a FAT or Linux file name cannot hold, or that would put SERIAL.bin in another
// folder or on another volume.
bool NamesAFile(const CHAR16 *Text) {
  for (; *Text != 0; Text++) {
    for (const CHAR16 *Bad = u"\\/:*?\"<>|"; *Bad != 0; Bad++) {
      if (*Text == *Bad)
        return false;
    }
  }
  return true;
}

bool HoldsSpace(const CHAR16 *Text) {
  for (; *Text != 0; Text++) {
    if (*Text == u' ')
      return true;
  }
  return false;
}

// The word that names a job's files: the serial it writes, or the one it inspects.
const CHAR16 *NamingSerial(const JobShape &Shape, const JobValues &Values) {
  const UINTN At = Shape.Job == ToolOperation::Inspect ? 0 : Shape.Lead;
  return At < Values.Count && At < MaxJobValues ? Values.Words[At] : nullptr;
}

// What the value at Position is: its label, and whether it names the job's files, is the
// carrier or an ID.
struct ValueRole {
  const CHAR16 *Label;
  bool Serial;
  bool Carrier;
  bool Id;
};
ValueRole RoleOf(const JobShape &Shape, UINTN Position) {
  if (Position < Shape.Lead)
    return {Shape.LeadLabel, Shape.Job == ToolOperation::Inspect, false, false};
  const UINTN Field = Position - Shape.Lead;
  return {FieldOptions[Field]->Label, Field == 0, Field == CarrierField, Field >= FirstIdField};
}

// One value of a job: given at all, never an option, a single word, and storable as given. An ID
// is read once, here, into Id when asked for.
bool CheckJobValue(const ValueRole &Role, const CHAR16 *Text, UINT32 *Id = nullptr) {
  if (*Text == 0) {
    PrintConsole(u"ERROR: %s is empty!\n", Role.Label);
    return false;
  }
  if (*Text == u'-') {
    PrintConsole(u"ERROR: %s \"%s\" starts with '-': a job's values are never options, which "
                 u"come before the job!\n",
                 Role.Label, Text);
    return false;
  }
  if (HoldsSpace(Text)) {
    PrintConsole(u"ERROR: %s \"%s\" holds a space!\n", Role.Label, Text);
    return false;
  }
  if (Role.Carrier && SameWithoutCase(Text, NoCarrier))
    return true;
  if (Role.Id) {
    UINT32 Number = 0;
    const IdFault Fault = ParseIdValue(Text, Id != nullptr ? Id : &Number);
    if (Fault != IdFault::None)
      ReportIdFault(Fault, Role.Label, Text);
    return Fault == IdFault::None;
  }
  if (!CheckStorable(Role.Label, Text))
    return false;
  if (Role.Serial && !NamesAFile(Text)) {
    PrintConsole(u"ERROR: %s \"%s\" can't name a file: it holds one of \\ / : * ? \" < > |!\n",
                 Role.Label, Text);
    return false;
  }
  return true;
}

// Serial and an extension into a job's file name.
VOID NameJobFile(const CHAR16 *Serial, const CHAR16 *Extension, CHAR16 *Name) {
  UINTN At = 0;
  if (Serial == nullptr || *Serial == 0)
    return;
  for (; Serial[At] != 0 && At + 6 < JobFileNameSize; At++)
    Name[At] = Serial[At];
  for (UINTN I = 0; Extension[I] != 0; I++)
    Name[At++] = Extension[I];
  Name[At] = 0;
}

// One prompt of a job without values, and what it asks for.
struct Prompt {
  ConsoleFormat<> Text;
  UINTN Position; // of the value it gives
  bool Optional;  // an empty line gives none
};

// Why typing ended before the values were there: the line, and the reason the log gives.
ToolStatus TypingEnded(TypedEnd End, RunStory &Story) {
  if (End == TypedEnd::Escaped) {
    PrintConsole(u"ERROR: Esc at the prompt: nothing was done!\n");
    Story.Reason = "ended at a prompt, nothing written";
  } else if (End == TypedEnd::TimedOut) {
    PrintConsole(u"ERROR: No value was typed within %d seconds: nothing was done!\n",
                 static_cast<int>(PromptSeconds));
    Story.Reason = "no value typed in time, nothing written";
  } else {
    PrintConsole(u"ERROR: There is no console to type the values on: nothing was done!\n");
    Story.Reason = "no console to type on, nothing written";
  }
  return ToolBadCommandLine;
}

// The values a board's labels carry, asked for one at a time on the console and each checked as
// it comes; a refused one is asked for again. The IDs keep their defaults.
ToolStatus AskForValues(const JobShape &Shape, JobValues *Values, RunStory &Story) {
  // An inspection's one value is its lead word; a rework's lead is the serial the board holds.
  const UINTN L = Shape.Job == ToolOperation::Inspect ? 0 : Shape.Lead;
  const Prompt Old = {u"Old Pylon serial: ", 0, false};
  const Prompt Labels[] = {{u"Pylon serial: ", L, false},
                           {u"MM: ", L + 1, false},
                           {u"Sandrel serial (Enter for none): ", L + 2, true}};
  const Prompt *Asked[MaxTypedValues] = {};
  UINTN Count = 0;
  if (Shape.Job == ToolOperation::Rework)
    Asked[Count++] = &Old;
  const UINTN LabelCount = Shape.Job == ToolOperation::Inspect ? 1 : 3;
  for (UINTN I = 0; I < LabelCount; I++)
    Asked[Count++] = &Labels[I];
  TypedConsole Console;
  for (UINTN I = 0; I < Count; I++) {
    const Prompt &P = *Asked[I];
    const ValueRole Role = RoleOf(Shape, P.Position);
    CHAR16 *Line = Values->Typed[I];
    bool Taken = false;
    for (UINTN Attempt = 0; Attempt < MaxPromptAttempts && !Taken; Attempt++) {
      PrintPrompt(P.Text);
      bool Overflowed = false;
      const TypedEnd End = ReadTypedLine(Console, Line, TypedValueSize, &Overflowed, PromptSeconds);
      if (End != TypedEnd::Entered)
        return TypingEnded(End, Story);
      if (*Line == 0 && P.Optional)
        return ToolSuccess;
      if (*Line == 0) {
        Values->Words[Values->Count++] = Line;
        return CheckJobValue(Role, Line) ? ToolSuccess : ToolBadCommandLine;
      }
      Taken = CheckJobValue(Role, Line);
    }
    if (!Taken)
      return ToolBadCommandLine;
    Values->Words[Values->Count++] = Line;
  }
  return ToolSuccess;
}

} // namespace

VOID GatherJobValues(const CliOptions &Options, ToolOperation *Job, JobValues *Values,
                     RunStory &Story, bool Ask) {
  ZeroBytes(Values, sizeof(*Values));
  UINTN Count = Options.JobValueCount;
  // A shell hands no null entry; one that did has its run refused, as the parser refuses it.
  bool NullEntry = false;
  for (UINTN I = 0; I < Count; I++)
    NullEntry = NullEntry || Options.JobValues[I] == nullptr;
  if (NullEntry) {
    ReportInternalError(InternalCheck::ParseNullEntry);
    Values->Refused = ToolBadCommandLine;
    return;
  }
  if (Options.FromScriptRequested) {
    // Each position a script hands over in quotes is one word, however empty; a value of its
    // own that was quoted and held a space arrives as two, and moves every value after it.
    if (Count != ScriptPositions) {
      PrintConsole(u"ERROR: The script's values came as %d words, not %d: a value holds a space "
                   u"or a quote!\n",
                   static_cast<int>(Count), static_cast<int>(ScriptPositions));
      Values->Refused = ToolBadCommandLine;
    } else {
      while (Count > 0 && Options.JobValues[Count - 1][0] == 0)
        Count--;
    }
  }
  UINTN First = 0;
  if (Options.FromScriptRequested && *Job == ToolOperation::Provision && Count > 0 &&
      SameWithoutCase(Options.JobValues[0], u"rework")) {
    *Job = ToolOperation::Rework;
    First = 1;
  }
  Values->Count = Count - First;
  for (UINTN I = 0; I < Values->Count && I < MaxJobValues; I++)
    Values->Words[I] = Options.JobValues[First + I];
  const JobShape &Shape = ShapeOf(*Job);
  if (Values->Count == 0 && Values->Refused == ToolSuccess && Ask)
    Values->Refused = AskForValues(Shape, Values, Story);
  const CHAR16 *Serial = NamingSerial(Shape, *Values);
  if (*Job == ToolOperation::Inspect)
    NameJobFile(Serial, u".json", Values->Saved);
  else
    NameJobFile(Serial, u".bin", Values->Backup);
}

ToolStatus CheckJobRequest(const CliOptions &Options, ToolOperation Job, const JobValues &Values,
                           WriteRequest *Request, RecordJob *Record) {
  if (Values.Refused != ToolSuccess)
    return Values.Refused;
  const JobShape &Shape = ShapeOf(Job);
  // Before the job's name only what says how the run is logged and how it ends.
  bool Others = Options.FirstUnknownIndex != 0;
  for (const ToolOption &Option : ToolOptions) {
    const bool Allowed = Option.Kind != OptionKind::Plain;
    Others = Others || (!Allowed && Options.*Option.Given);
  }
  if (Others) {
    PrintConsole(u"ERROR: Only --log, --wait, --then and --from-script may come before %s!\n",
                 Shape.Name);
    return ToolBadCommandLine;
  }
  ToolStatus Status = CheckRunOptions(Options);
  if (Status != ToolSuccess)
    return Status;
  if (Values.Count != Shape.Counts[0] && Values.Count != Shape.Counts[1] &&
      Values.Count != Shape.Counts[2]) {
    PrintConsole(u"ERROR: %s takes %s, not %d values!\n", Shape.Name, Shape.Usage,
                 static_cast<int>(Values.Count));
    return ToolBadCommandLine;
  }
  *Request = {nullptr, nullptr, nullptr, AbsentId, AbsentId, AbsentId};
  UINT32 *const Ids[] = {&Request->BoardId, &Request->FabId, &Request->BomId};
  for (UINTN I = 0; I < Values.Count; I++) {
    const ValueRole Role = RoleOf(Shape, I);
    if (!CheckJobValue(Role, Values.Words[I],
                       Role.Id ? Ids[I - Shape.Lead - FirstIdField] : nullptr))
      return ToolBadCommandLine;
  }
  for (UINTN Field = 0; Shape.Job != ToolOperation::Inspect && Field < FieldCount; Field++) {
    const UINTN At = Shape.Lead + Field;
    const CHAR16 *Text = At < Values.Count ? Values.Words[At] : nullptr;
    if (Field == 0)
      Request->ModuleSerial = Text;
    else if (Field == 1)
      Request->Mm = Text;
    else if (Field == CarrierField)
      Request->CarrierSerial =
          Text != nullptr && !SameWithoutCase(Text, NoCarrier) ? Text : nullptr;
  }
  *Record = {Shape.Guard, Shape.Guard == Gpp1Guard::Serial ? Values.Words[0] : nullptr, false,
             Values.Backup[0] != 0 ? Values.Backup : nullptr, true};
  return ToolSuccess;
}

RunLogEntry JobLogEntry(ToolOperation Job, const CHAR8 *Operation, const JobValues &Values,
                        LoggedValue *Asked) {
  const JobShape &Shape = ShapeOf(Job);
  UINTN AskedCount = 0;
  for (UINTN I = Shape.Lead; I < Values.Count && I < MaxJobValues; I++) {
    if (I - Shape.Lead < FieldCount && Shape.Job != ToolOperation::Inspect)
      Asked[AskedCount++] = {FieldOptions[I - Shape.Lead]->Long + 2, Values.Words[I]};
  }
  const CHAR16 *GuardSerial = Shape.Lead > 0 && Values.Count > 0 ? Values.Words[0] : nullptr;
  return {Operation,   Shape.Guard == Gpp1Guard::Blank ? "if-blank" : "if-serial",
          GuardSerial, Asked,
          AskedCount,  Values.Backup[0] != 0 ? Values.Backup : nullptr,
          nullptr,     Values.Saved[0] != 0 ? Values.Saved : nullptr};
}

VOID PrintJobBanner(ToolOperation Job, const JobValues &Values, ToolStatus Status,
                    const CHAR8 *Reason) {
  constexpr ConsoleFormat<> Pass[] = {
      u"   PPPPPP      AAA      SSSSSS    SSSSSS\n", u"   PP   PP    AA AA    SS        SS\n",
      u"   PPPPPP    AA   AA    SSSSS     SSSSS\n", u"   PP        AAAAAAA        SS        SS\n",
      u"   PP        AA   AA   SSSSSS    SSSSSS\n"};
  constexpr ConsoleFormat<> Fail[] = {
      u"   FFFFFFF     AAA     IIII   LL\n", u"   FF         AA AA     II    LL\n",
      u"   FFFFF     AA   AA    II    LL\n", u"   FF        AAAAAAA    II    LL\n",
      u"   FF        AA   AA   IIII   LLLLLLL\n"};
  const bool Passed = Status == ToolSuccess;
  const JobShape &Shape = ShapeOf(Job);
  const CHAR16 *Serial = NamingSerial(Shape, Values);
  PrintConsole(u"\n  =================================================================\n");
  for (UINTN I = 0; I < sizeof(Pass) / sizeof(Pass[0]); I++)
    PrintConsole(Passed ? Pass[I] : Fail[I]);
  // The job by its name without dashes, and the serial it is for when there is one.
  PrintConsole(u"\n   %a: %s%s%s: %a (status 0x%x)\n", Passed ? "PASS" : "FAIL", Shape.Name + 2,
               Serial != nullptr && *Serial != 0 ? u" of " : u"", Serial != nullptr ? Serial : u"",
               Reason, static_cast<UINT32>(Status));
  PrintConsole(u"  =================================================================\n");
}
