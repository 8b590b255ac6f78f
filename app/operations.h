// The operations a command line can select, one row each: the option that selects it, the name
// the run log gives it, whether it writes GPP1 and whether it is a station job, its own checks,
// and the command that runs it once those and the checks every operation on GPP1 shares have
// passed.
#pragma once

#include "app/command_line.h"
#include "app/run_story.h"
#include "app/backup_files.h"
#include "app/run_log.h"
#include "app/station_job.h"

// The one operation a command line selects: help over a station job, a job over restore, restore
// over clear, clear over edit, edit over write, write over read. (The operations' checks then
// refuse a job, a clear, a restore or an edit given with another operation, and the help given
// with anything else.)
ToolOperation OperationOf(const CliOptions &Options);
// Whether the operation may write GPP1.
bool OperationWrites(ToolOperation Operation);
// The station's jobs: one run each from the values to the proof, its log line and its banner.
bool IsStationJob(ToolOperation Operation);

// What the run's line says besides its outcome: the values asked as typed (into Asked, room for
// ToolOptionCount), the guard and the files named; a job's from its Values.
RunLogEntry LogEntryOf(const CliOptions &Options, ToolOperation Operation, const JobValues &Values,
                       LoggedValue *Asked);
// Checks the command line for Operation and runs it, telling Story what it did.
ToolStatus RunOperation(ToolOperation Operation, const CliOptions &Options, const JobValues &Values,
                        RunStory &Story);
