// The operations a command line can select, one row each: the name the run log gives it, its own
// checks, and the command that runs it once those and the checks every operation on GPP1 shares
// have passed.
#pragma once

#include "app/command_line.h"
#include "app/run_story.h"
#include "app/backup_files.h"
#include "app/run_log.h"
#include "app/station_job.h"

// What the run's line says besides its outcome: the values asked as typed (into Asked, room for
// ToolOptionCount), the guard and the files named; a job's from its Values.
RunLogEntry LogEntryOf(const CliOptions &Options, ToolOperation Operation, const JobValues &Values,
                       LoggedValue *Asked);
// Checks the command line for Operation and runs it, telling Story what it did.
ToolStatus RunOperation(ToolOperation Operation, const CliOptions &Options, const JobValues &Values,
                        RunStory &Story);
