#include "host/front_end.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "app/tool_status.h"
#include "app/version.h"
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

// What the run did, in words, for a report that the result could not be shown.
std::string OutcomeOf(ToolOperation Operation, int Status, size_t Writes) {
  if (Status == 0 && (Operation == ToolOperation::Write || Operation == ToolOperation::Edit))
    return "the record was written and verified";
  if (Status == 0 && Operation == ToolOperation::Clear)
    return "the record was cleared and verified";
  if (Status == 0)
    return "the tool succeeded and wrote nothing";
  std::string Failed = "the tool failed with status " + std::to_string(Status);
  return Failed + (Writes != 0 ? " after writing to GPP1" : " and wrote nothing");
}

// Writes Text to Stream and flushes it; false with errno set when any of it did not arrive.
bool Emit(FILE *Stream, const std::string &Text) {
  if (!Text.empty() && fwrite(Text.data(), 1, Text.size(), Stream) != Text.size())
    return false;
  return fflush(Stream) == 0 && !ferror(Stream);
}

std::unique_ptr<Gpp1Medium> OpenMedium(const FrontEndOptions &Options,
                                       const FrontEndPlatform &Platform, std::string *Error) {
  MediumError OpenError;
  std::unique_ptr<Gpp1Medium> Medium;
  if (!Options.ImagePath.empty()) {
    uint32_t BlockSize = Options.BlockSize != 0 ? Options.BlockSize : DefaultImageBlockSize;
    Medium = Gpp1Medium::OpenImage(Options.ImagePath, BlockSize, &OpenError);
  } else {
    std::string Device = Options.DevicePath;
    bool Default = Device.empty();
    if (Default)
      Device = FindDefaultGpp1(Platform.DeviceDirectory);
    // No device at all: the card is presented without GPP1 and the tool says so itself.
    if (Device.empty())
      return nullptr;
    if (Default && Platform.DefaultMayBeFile)
      Medium = Gpp1Medium::OpenImage(Device, DefaultImageBlockSize, &OpenError);
    else
      Medium = Gpp1Medium::OpenDevice(Device, &OpenError);
  }
  if (Medium == nullptr)
    *Error = OpenError.Message;
  return Medium;
}

} // namespace

int ExitStatusOf(uint64_t Status) {
  if (Status <= static_cast<uint64_t>(LargestExitStatus))
    return static_cast<int>(Status);
  return LargestExitStatus;
}

bool MakeStandardDescriptorsSafe() {
  for (int Fd = 0; Fd <= 2; Fd++) {
    if (fcntl(Fd, F_GETFD) != -1 || errno != EBADF)
      continue;
    // open() returns the lowest free descriptor, which is this one.
    int Null = open("/dev/null", O_RDWR);
    if (Null != Fd) {
      if (Null >= 0)
        close(Null);
      return false;
    }
  }
  return true;
}

int RunFrontEnd(const std::vector<std::string> &Args, FILE *Out, FILE *Err,
                const FrontEndPlatform &Platform) {
  FrontEndOptions Options;
  std::string Error;
  if (!ParseFrontEndOptions(Args, &Options, &Error))
    return FrontEndError(Err, Error + " (" + FrontEndUsage + ")");
  if (Options.Version) {
    if (!Options.ToolArgs.empty())
      return FrontEndError(Err, "--version takes no tool options");
    std::u16string Version(ToolVersion);
    std::string Line = "kestrel " + std::string(Version.begin(), Version.end()) + "\n";
    if (!Emit(Out, Line)) {
      fprintf(Err, "kestrel: standard output failed: %s\n", strerror(errno));
      return OutputFailedExit;
    }
    return 0;
  }

  // The shell hands the tool UCS-2; a Linux command line is UTF-8.
  std::vector<std::u16string> ToolArgs;
  for (const std::string &Arg : Options.ToolArgs) {
    std::u16string Wide;
    if (!DecodeUtf8Argument(Arg, &Wide))
      return FrontEndError(Err, "argument \"" + ConsoleToUnix({WideText(Arg)}) +
                                    "\" is not UTF-8 text of characters up to U+FFFF");
    ToolArgs.push_back(Wide);
  }
  ToolOperation Operation = OperationOf(Options.ToolArgs);

  std::unique_ptr<Gpp1Medium> Medium = OpenMedium(Options, Platform, &Error);
  if (Medium == nullptr && !Error.empty())
    return FrontEndError(Err, Error);

  bool WriteProtected = Options.WriteProtect || (Medium != nullptr && Medium->KernelReadOnly());
  HostBoard Board(Medium.get(), Medium != nullptr ? Medium->BlockSize() : DefaultImageBlockSize,
                  WriteProtected);
  int Status = ExitStatusOf(Board.Run(ToolArgs));
  size_t Writes = Medium != nullptr ? Medium->WritesAttempted() : 0;

  std::string Console = ConsoleToUnix(Board.Sim.ConsoleCalls);
  if (Operation == ToolOperation::Help && Status == 0)
    Console += FrontEndHelp;
  std::string Json;
  if (Options.Json && Medium != nullptr) {
    // The record as block 0 holds it now: after a read that found it (valid or not), or after a
    // verified write.
    bool Shown = (Operation == ToolOperation::Read &&
                  (Status == ToolSuccess || Status == ToolVolumeCorrupted)) ||
                 ((Operation == ToolOperation::Write || Operation == ToolOperation::Edit) &&
                  Status == ToolSuccess && Medium->WritesAttempted() != 0);
    std::vector<uint8_t> Block(Medium->BlockSize());
    if (Shown && Medium->Read(0, Block.data(), Block.size())) {
      Board.Sim.InstallInPlatformContext();
      Json = RecordJson(Block.data()) + "\n";
    }
  }

  // With --json stdout carries the object alone and the console goes to stderr.
  bool OutOk = Emit(Out, Options.Json ? Json : Console);
  int OutErrno = errno;
  bool ErrOk = Emit(Err, Options.Json ? Console : "");
  int ErrErrno = errno;
  if (OutOk && ErrOk)
    return Status;
  std::string Report = "kestrel: " + OutcomeOf(Operation, Status, Writes) + ", but standard " +
                       (OutOk ? "error" : "output") +
                       " failed: " + strerror(OutOk ? ErrErrno : OutErrno) + "\n";
  // Said on whichever stream still works.
  if (!Emit(Err, Report))
    Emit(Out, Report);
  return OutputFailedExit;
}
