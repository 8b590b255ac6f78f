// The tool's options in one table, which drives the parser, the help text, the checks and the
// run log's record of what was asked.
#pragma once

#include "app/cli_options.h"
#include "shell/console.h"

// What an option is besides its value: most are plain; a few say only how the run is logged and
// how it ends (no request of their own: they may stand beside the help and before a job); a
// station job's name ends the options (every word after it is one of the job's values), and a few
// options belong to the jobs alone.
enum class OptionKind : UINT8 { Plain, OfTheRun, JobName, JobOption };

// Reads an option's text into the number the run uses: 0 when it was read, else a fault of the
// parser's own (an IdFault for the IDs). Each is called once, by the parse, for a given option.
using ValueParser = UINT8 (*)(const CHAR16 *Text, UINT32 *Number);
UINT8 ParseIdOption(const CHAR16 *Text, UINT32 *Id);
// --wait's seconds: a whole decimal number up to MaxWaitSeconds.
constexpr UINT32 MaxWaitSeconds = 3600;
UINT8 ParseWaitOption(const CHAR16 *Text, UINT32 *Seconds);
// --then's word, without regard to case, as a RunEnd.
UINT8 ParseThenOption(const CHAR16 *Text, UINT32 *Then);

// One option: its two words, where it records itself, what the help and the messages say about
// it, and, for a value the run uses as a number, the parser that reads it and where the number
// goes. Value is null for a switch.
struct ToolOption {
  const CHAR16 *Short;
  const CHAR16 *Long;
  UINT8 CliOptions::*Given;
  const CHAR16 *CliOptions::*Value;
  const CHAR16 *ValueHelp;   // the help's name for the value ("ID"), empty for a switch
  const CHAR16 *Description; // the help's text
  ConsoleFormat<> MoreHelp;  // further help lines, or empty
  const CHAR16 *Label;       // how a message names the value ("Board ID"), or null
  OptionKind Kind = OptionKind::Plain;
  ValueParser Parse = nullptr;
  ParsedValue CliOptions::*Parsed = nullptr;
};

// The options, in the order the help lists them: first those with a short form, then those
// with a long form only.
constexpr UINTN ToolOptionCount = 25;
inline constexpr ToolOption ToolOptions[ToolOptionCount] = {
    {u"-b", u"--board", &CliOptions::BoardGiven, &CliOptions::BoardText, u"ID",
     u"Programs the Pylon Board ID", u"", u"Board ID", OptionKind::Plain, ParseIdOption,
     &CliOptions::Board},
    {u"-c", u"--clear", &CliOptions::ClearRequested, nullptr, u"", u"Clears the GPP1 data", u"",
     nullptr},
    {u"-f", u"--fab", &CliOptions::FabGiven, &CliOptions::FabText, u"ID",
     u"Programs the Pylon Fab ID", u"", u"Fab ID", OptionKind::Plain, ParseIdOption,
     &CliOptions::Fab},
    {u"-h", u"--help", &CliOptions::HelpRequested, nullptr, u"", u"Prints this", u"", nullptr},
    {u"-p", u"--pylon", &CliOptions::ModuleSerialGiven, &CliOptions::ModuleSerialText, u"Serial #",
     u"Programs the Pylon serial #", u"", u"Pylon Serial #"},
    {u"-m", u"--mm", &CliOptions::MmGiven, &CliOptions::MmText, u"MM #", u"Programs the Pylon MM #",
     u"", u"MM #"},
    {u"-o", u"--bom", &CliOptions::BomGiven, &CliOptions::BomText, u"ID",
     u"Programs the Pylon BOM ID", u"", u"BOM ID", OptionKind::Plain, ParseIdOption,
     &CliOptions::Bom},
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
     u"Appends one JSON line about the run to File", u"", nullptr, OptionKind::OfTheRun},
    {nullptr, u"--wait", &CliOptions::WaitGiven, &CliOptions::WaitText, u"Seconds",
     u"Keeps the outcome on the screen, or to a key",
     u"                                   0: none; 10 when started without a shell.\n", nullptr,
     OptionKind::OfTheRun, ParseWaitOption, &CliOptions::Wait},
    {nullptr, u"--then", &CliOptions::ThenGiven, &CliOptions::ThenText, u"return|reset|off",
     u"Returns, resets or powers off when done", u"", nullptr, OptionKind::OfTheRun,
     ParseThenOption, &CliOptions::Then},
    {nullptr, u"--debug", &CliOptions::DebugRequested, nullptr, u"",
     u"Adds progress lines and hex dumps", u"", nullptr, OptionKind::OfTheRun},
    {nullptr, u"--provision", &CliOptions::ProvisionRequested, nullptr, u"SERIAL MM [...]",
     u"Provisions a blank board, kept and logged",
     u"                                   [CARRIER|none [BOARD FAB BOM]]\n", nullptr,
     OptionKind::JobName},
    {nullptr, u"--rework", &CliOptions::ReworkRequested, nullptr, u"OLD SERIAL MM ...",
     u"The same over the record of Pylon # OLD", u"", nullptr, OptionKind::JobName},
    {nullptr, u"--inspect", &CliOptions::InspectRequested, nullptr, u"SERIAL",
     u"Saves the record of SERIAL in SERIAL.json", u"", nullptr, OptionKind::JobName},
    {nullptr, u"--from-script", &CliOptions::FromScriptRequested, nullptr, u"",
     u"The values are a script's nine %1 to %9", u"", nullptr, OptionKind::JobOption},
};

// Not defined: a lookup of an option the table lacks fails the build.
const ToolOption &NoSuchOption();

// The table's row for the option that records itself in Given.
constexpr const ToolOption &OptionRecordedIn(UINT8 CliOptions::*Given) {
  for (const ToolOption &Option : ToolOptions) {
    if (Option.Given == Given)
      return Option;
  }
  return NoSuchOption();
}

// Rows of the table by what the checks need of them.
inline constexpr const ToolOption &ModuleSerialOption =
    OptionRecordedIn(&CliOptions::ModuleSerialGiven);
inline constexpr const ToolOption &MmOption = OptionRecordedIn(&CliOptions::MmGiven);
inline constexpr const ToolOption &BoardOption = OptionRecordedIn(&CliOptions::BoardGiven);
inline constexpr const ToolOption &FabOption = OptionRecordedIn(&CliOptions::FabGiven);
inline constexpr const ToolOption &BomOption = OptionRecordedIn(&CliOptions::BomGiven);
inline constexpr const ToolOption &CarrierSerialOption =
    OptionRecordedIn(&CliOptions::CarrierSerialGiven);
inline constexpr const ToolOption &IfSerialOption = OptionRecordedIn(&CliOptions::IfSerialGiven);
inline constexpr const ToolOption &BackupOption = OptionRecordedIn(&CliOptions::BackupGiven);
inline constexpr const ToolOption &RestoreOption = OptionRecordedIn(&CliOptions::RestoreGiven);
inline constexpr const ToolOption &LogOption = OptionRecordedIn(&CliOptions::LogGiven);
inline constexpr const ToolOption &WaitOption = OptionRecordedIn(&CliOptions::WaitGiven);
inline constexpr const ToolOption &ThenOption = OptionRecordedIn(&CliOptions::ThenGiven);
inline constexpr const ToolOption &HelpOption = OptionRecordedIn(&CliOptions::HelpRequested);

// The options beyond the record's fields (the guard's serial and the files) take their value as
// GNU's required arguments do: the next entry, whatever it starts with, so "--if-serial -h"
// guards on "-h" and a file name may start with '-'.
constexpr bool TakesAnyValue(const ToolOption &Option) {
  return Option.Short == nullptr && Option.Value != nullptr;
}
