// The Linux front end: reads its own options, opens GPP1 (an image file, a block device, or the
// board's first /dev/mmcblkNgp0), runs the tool on the hosted board over it and turns the
// console and the status into stdout and an exit status.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/tool_status.h"

// Exit status of a front-end error (usage, a medium that cannot be used, an argument that is not
// UTF-8), the tool's own for bad arguments; nothing is written. A GPP1 that cannot be found, is
// not what the kernel calls GPP1, or is in use ends the run with the tool's ToolNoGpp1, and
// an output that failed with ToolOutputFailed, which no outcome of the tool shares, so a script
// can tell "the tool's result is unknown to you" from any result.
constexpr int FrontEndErrorExit = ToolBadCommandLine;
// How long a run waits for another holder of the medium's lock (another run, or udev probing
// the device after a write) before it gives up.
constexpr int DefaultLockWaitMilliseconds = 5000;

// Where the front end looks for the board's GPP1 and asks the kernel about block devices, and
// whether what the default search finds may be a regular file (for tests, which cannot create
// block devices).
struct FrontEndPlatform {
  std::string DeviceDirectory = "/dev";
  bool DefaultMayBeFile = false;
  std::string SysfsRoot = "/sys";
  int LockWaitMilliseconds = DefaultLockWaitMilliseconds;
};

// The first word that makes the front end the stick maker (kestrel-stick).
constexpr const char *MakeStickWord = "--make-stick";

// Args without the program name.
int RunFrontEnd(const std::vector<std::string> &Args, FILE *Out, FILE *Err,
                const FrontEndPlatform &Platform = FrontEndPlatform());

// The image's 64-bit exit status as a process exit status: the tool's small codes unchanged,
// anything that does not fit a byte (such as -1) as 255, never as 0.
int ExitStatusOf(uint64_t Status);

// Descriptors 0, 1 and 2 that are closed are opened on /dev/null, so that no file the front end
// opens later can become one of them and receive console text. Returns false when that fails.
bool MakeStandardDescriptorsSafe();
