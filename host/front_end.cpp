#include "host/front_end.h"

#include <algorithm>
#include <memory>
#include <sys/stat.h>

#include "app/board_record.h"
#include "app/read_command.h"
#include "host/front_end_options.h"
#include "host/gpp1_medium.h"
#include "host/host_board.h"
#include "host/record_json.h"

namespace {

constexpr int LargestExitStatus = 255;

int FrontEndError(FILE *Err, const std::string &Message) {
  fprintf(Err, "kestrel: %s\n", Message.c_str());
  return FrontEndErrorExit;
}

// Drops the record's display lines (as ShowBoardRecord prints them for Record) from the console
// calls; the JSON object stands in for them.
void RemoveDisplayLines(SimFirmware &Sim, const uint8_t *Record,
                        std::vector<std::u16string> *Calls) {
  Sim.InstallInPlatformContext();
  Sim.ClearConsole();
  ShowBoardRecord(Record);
  std::vector<std::u16string> Display = Sim.ConsoleCalls;
  Sim.ClearConsole();
  if (Display.empty())
    return;
  auto At = std::search(Calls->begin(), Calls->end(), Display.begin(), Display.end());
  if (At != Calls->end())
    Calls->erase(At, At + static_cast<long>(Display.size()));
}

} // namespace

int ExitStatusOf(uint64_t Status) {
  if (Status <= static_cast<uint64_t>(LargestExitStatus))
    return static_cast<int>(Status);
  return LargestExitStatus;
}

int RunFrontEnd(const std::vector<std::string> &Args, FILE *Out, FILE *Err,
                const std::string &DeviceDirectory) {
  FrontEndOptions Options;
  std::string Error;
  if (!ParseFrontEndOptions(Args, &Options, &Error))
    return FrontEndError(Err, Error + " (" + FrontEndUsage + ")");

  struct stat Existing;
  if (!Options.BackupPath.empty() && lstat(Options.BackupPath.c_str(), &Existing) == 0)
    return FrontEndError(Err, "backup file " + Options.BackupPath +
                                  " exists; a backup is never overwritten");

  std::unique_ptr<Gpp1Medium> Medium;
  MediumError OpenError;
  if (!Options.ImagePath.empty()) {
    uint32_t BlockSize = Options.BlockSize != 0 ? Options.BlockSize : DefaultImageBlockSize;
    Medium = Gpp1Medium::OpenImage(Options.ImagePath, BlockSize, &OpenError);
    if (Medium == nullptr)
      return FrontEndError(Err, OpenError.Message);
  } else {
    std::string Device = Options.DevicePath;
    if (Device.empty())
      Device = FindDefaultGpp1(DeviceDirectory);
    // No device at all: the card is presented without GPP1 and the tool says so itself.
    if (!Device.empty()) {
      Medium = Gpp1Medium::OpenDevice(Device, &OpenError);
      if (Medium == nullptr)
        return FrontEndError(Err, OpenError.Message);
    }
  }
  if (Medium != nullptr)
    Medium->SetBackupPath(Options.BackupPath);

  bool WriteProtected = Options.WriteProtect || (Medium != nullptr && Medium->KernelReadOnly());
  HostBoard Board(Medium.get(), Medium != nullptr ? Medium->BlockSize() : DefaultImageBlockSize,
                  WriteProtected);
  uint64_t Status = Board.Run(Options.ToolArgs);
  std::vector<std::u16string> Calls = Board.Sim.ConsoleCalls;

  if (!Options.Json) {
    std::string Text = ConsoleToUnix(Calls);
    fwrite(Text.data(), 1, Text.size(), Out);
    return ExitStatusOf(Status);
  }
  // With --json stdout carries the record alone; the tool's other lines go to stderr. A record
  // is shown when the run read block 0 and wrote nothing, i.e. for a read.
  bool Read = Medium != nullptr && !Medium->LastBlock0().empty() && Medium->WritesAttempted() == 0;
  std::string Json;
  if (Read) {
    const uint8_t *Record = Medium->LastBlock0().data();
    RemoveDisplayLines(Board.Sim, Record, &Calls);
    Json = RecordJson(Record);
  }
  std::string Text = ConsoleToUnix(Calls);
  fwrite(Text.data(), 1, Text.size(), Err);
  if (Read)
    fprintf(Out, "%s\n", Json.c_str());
  return ExitStatusOf(Status);
}
