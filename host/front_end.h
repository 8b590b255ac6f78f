// The Linux front end: reads its own options, opens GPP1 (an image file, a block device, or the
// board's first /dev/mmcblkNgp0), runs the tool on the simulated board over it and turns the
// console and the status into stdout and an exit status.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Exit status of a front-end error (usage, a medium that cannot be used); nothing is written.
constexpr int FrontEndErrorExit = 2;

// Args without the program name. DeviceDirectory is where the default GPP1 is looked for.
int RunFrontEnd(const std::vector<std::string> &Args, FILE *Out, FILE *Err,
                const std::string &DeviceDirectory = "/dev");

// The image's 64-bit exit status as a process exit status: the tool's small codes unchanged,
// anything that does not fit a byte (such as -1) as 255, never as 0.
int ExitStatusOf(uint64_t Status);
