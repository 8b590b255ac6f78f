// The station's jobs, each a whole step of the factory line in one run: --provision (a blank
// board gets its record), --rework (a board holding OLD-SERIAL's record gets a new one) and
// --inspect (SERIAL's record saved to SERIAL.json). Every word after the job's name is a value,
// never an option; a job given without values asks for them on the console, as a barcode scanner
// types them. A job that writes keeps the block it replaces in SERIAL.bin, proves the record by
// reading the whole block back, puts one line in the station's log and ends with a PASS or FAIL
// banner that a person reads across the room.
#pragma once

#include "app/command_line.h"
#include "app/backup_files.h"
#include "app/run_log.h"
#include "app/write_command.h"

// The log a job puts its line in when no --log names one, in the current folder.
inline constexpr const CHAR16 *DefaultJobLog = u"provision.log";
// A shell script hands a job all nine of its positions %1 to %9, each in quotes
// (--from-script).
constexpr UINTN ScriptPositions = 9;
// A rework's seven values are the most a job has.
constexpr UINTN MaxJobValues = 7;
// Room for a value typed at a prompt: one longer than a record's field is refused, not cut.
constexpr UINTN TypedValueSize = 64;
// A prompt waits this long for a value before the run ends.
constexpr UINT32 PromptSeconds = 3600;
// A job's files are named after its serial: SERIAL.bin, SERIAL.json.
constexpr UINTN JobFileNameSize = RecordTextFieldSize + 6;
// The most values typed at a job's prompts (a rework's OLD-SERIAL, SERIAL, MM and CARRIER).
constexpr UINTN MaxTypedValues = 4;

// A job's values as the command line gave them or the prompts took them.
struct JobValues {
  const CHAR16 *Words[MaxJobValues];
  UINTN Count;        // values given; those beyond MaxJobValues are counted, not kept
  ToolStatus Refused; // ToolSuccess, or why the values could not be had (said already)
  CHAR16 Typed[MaxTypedValues][TypedValueSize];
  CHAR16 Backup[JobFileNameSize]; // SERIAL.bin for a job that writes, else empty
  CHAR16 Saved[JobFileNameSize];  // SERIAL.json for an inspection, else empty
};

// Before the run's log line is put: the job's values from the command line, or typed at the
// prompts when it gave none. With --from-script they are a script's nine positions, the empty
// ones at the end not given, and a first word "rework" makes a --provision a rework (the form
// "provision.nsh rework OLD-SERIAL SERIAL MM ..."); *Job says which job it is then. Without
// Ask, a job without values is not asked for them (a run that is only logged).
VOID GatherJobValues(const CliOptions &Options, ToolOperation *Job, JobValues *Values,
                     RunStory &Story, bool Ask = true);

// The job's command line checked: only --log, --wait, --then, --debug and --from-script before
// its name, the values' count, and every value storable as given (none empty, none starting with
// '-', none holding a space, serials fit to name a file). Request and Record then hold what the
// job writes and what GPP1 must hold first.
ToolStatus CheckJobRequest(const CliOptions &Options, ToolOperation Job, const JobValues &Values,
                           WriteRequest *Request, RecordJob *Record);

// What the job's log line says besides its outcome (Operation its name in the log; Asked has room
// for MaxJobValues values).
RunLogEntry JobLogEntry(ToolOperation Job, const CHAR8 *Operation, const JobValues &Values,
                        LoggedValue *Asked);

// The job's last word on the console: PASS or FAIL, its serial, the reason and the status.
VOID PrintJobBanner(ToolOperation Job, const JobValues &Values, ToolStatus Status,
                    const CHAR8 *Reason);
