// The board the Linux front end presents to the tool: the hosted firmware with an eMMC card on
// PCI device 28 whose partition 4 (GPP1) is the given medium, a HOB list whose platform block
// carries the write-protect flag, and a Shell 2.0 that starts the application with an argument
// vector.
//
// Its Block I/O handles are those of the board as the end-to-end harness boots it under OVMF:
// first the volume the shell started the tool from (PCI device 3) and the disk that holds GPP1
// (PCI device 5), then the card's eight partitions. The tool's --debug lines count the handles,
// so a session gives the same console text here and under the firmware.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/tool_main.h"
#include "hosted/emmc_card.h"
#include "hosted/firmware.h"
#include "hosted/hob_list.h"
#include "hosted/shell.h"

class HostKeyboard;

class HostBoard {
public:
  // A null Gpp1 gives a card without general purpose partitions: the user area, the boot
  // partitions and RPMB only, as on a board whose eMMC was never partitioned; there is then no
  // GPP1 disk either.
  HostBoard(BlockBackend *Gpp1, uint32_t BlockSize, bool WriteProtected);
  ~HostBoard();

  // Runs the tool with Request (which the front end parsed from its words) as the image does:
  // its start-up, the tool, its tear-down; the run's result. One run per board: the shell that
  // started it stays installed on the image handle.
  RunResult Run(const ToolRequest &Request);

  // Runs Work as the image would after its tool has run (the amendment of the run's log line), or
  // instead of it (the line of a run that never reached GPP1), with this board's firmware in the
  // platform context and its shell connected. The console reaches Firmware's sinks, as the tool's
  // does while it runs, and its prompts' keys come from KeyboardFd.
  void Attend(const std::function<void()> &Work);

  // The console reaches the user through Firmware.ConsoleSink (and StdErr, where the tool's
  // prompts and what is typed at them go, through Firmware.ErrorSink) as the tool prints it.
  // The descriptor the console's keys are read from (the front end's standard input), or -1 for
  // none: the hosted console's (none) then. A terminal there is put in character mode without
  // echo while the tool reads it, as a firmware console is, and put back afterwards.
  int KeyboardFd = -1;
  std::unique_ptr<HostKeyboard> KeyReader; // made at the first key read

  HostedFirmware Firmware;
  EmmcCardDriver Card;
  HobListBuilder Hobs;

private:
  void StartShell(); // the shell that starts the tool, its files the Linux ones
  std::unique_ptr<PlainDisk> BootVolume;
  DevicePathBuilder Gpp1DiskPath;
  std::unique_ptr<HostedBlockDevice> Gpp1Disk;
  std::unique_ptr<HostedShell20> Shell;
};

// Console text as a Linux terminal wants it: UTF-8, "\r\n" as "\n". Characters that would steer
// a terminal (C0 controls other than tab and line feed, DEL, C1 controls) and lone surrogates
// come out as '?': a record can hold any bytes, and the display must not let them act.
// Fed one OutputString text at a time; a carriage return that ends a text is held until the next
// one shows whether a line feed follows it. A prompt's console (Backspace true) also passes the
// backspaces with which a typed character is taken back.
class ConsoleConverter {
public:
  explicit ConsoleConverter(bool Backspace = false) : Backspace(Backspace) {}
  std::string Feed(const std::u16string &Text);
  // What is still held, at the end of the console.
  std::string Finish();

private:
  bool Backspace;
  bool PendingReturn = false;
};

// The whole console at once, through a ConsoleConverter.
std::string ConsoleToUnix(const std::vector<std::u16string> &Calls);
