// The checks a command line passes before its operation touches GPP1, each with its "ERROR: "
// line(s) and status 2: every operation's own, those every operation on GPP1 shares, and the
// log's, which come first of all.
#pragma once

#include "app/cli_options.h"
#include "app/record_job.h"
#include "app/write_command.h"

// A write: the required options, the values of the optional ones, no unknown entry, then every
// value storable as given. On success Request holds the checked texts and the converted IDs.
ToolStatus CheckWriteRequest(const CliOptions &Options, WriteRequest *Request);
// An edit: at least one field to change, each given with its value, and every value storable;
// Edit says which fields the request gives.
ToolStatus CheckEditRequest(const CliOptions &Options, WriteRequest *Request, RecordEdit *Edit);
// A restore puts back a whole block and nothing else: no fields, no other operation. A clear
// blanks the record and nothing else: asked beside a write, an edit, a read or a field, it is the
// one thing the command line surely did not mean (a value that starts with "-c").
ToolStatus CheckRestoreRequest(const CliOptions &Options);
ToolStatus CheckClearRequest(const CliOptions &Options);
// A text value that the record cannot store as given (CheckStorableText): its one "ERROR: " line
// naming the value by Label, and false.
bool CheckStorable(const CHAR16 *Label, const CHAR16 *Text);
// What every run that touches GPP1 shares: each long option with a value given once, and how the
// run ends (--wait, --then) given soundly.
ToolStatus CheckRunOptions(const CliOptions &Options);
// What every operation on GPP1 shares: each long option with a value given once, how the run
// ends, the backup's file name and the guards. On success Job holds the guard and the files.
ToolStatus CheckSharedOptions(const CliOptions &Options, RecordJob *Job);
// The log is opened before anything else, so it is checked first: named once, with a file that is
// none of the run's other files (a line appended to the block to restore would spoil it), and
// nothing the line names of the run too long for it (a guard's serial a record cannot hold, a file
// name longer than MaxFileNameLength).
constexpr UINTN MaxFileNameLength = 4096;
ToolStatus CheckLogOption(const CliOptions &Options);

// How a run ends once the tool is done (--wait, --then): a return to whoever started the image,
// or a reset or power-off of the board.
enum class RunEnd { Return, Reset, PowerOff };
