#include "host/front_end.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "app/operations.h"
#include "app/tool_main.h"
#include "app/version.h"
#include "hosted/descriptor.h"
#include "host/front_end_options.h"
#include "hosted/gpp1_medium.h"
#include "host/host_board.h"
#include "host/interruption.h"
#include "hosted/text.h"
#include "host/record_json.h"
#include "host/stick_maker.h"

namespace {

constexpr int LargestExitStatus = 255;

int FrontEndError(FILE *Err, const std::string &Message, int Status = FrontEndErrorExit) {
  Warn(Message, Err);
  return Status;
}

// What the run did, in words, for a report that the result could not be shown.
std::string OutcomeOf(ToolOperation Operation, int Status, size_t Writes) {
  // A dry run or a read succeeds without a write; only an operation that writes can have written.
  if (Status == 0 && Writes == 0)
    return "the tool succeeded and wrote nothing";
  if (Status == 0)
    return Operation == ToolOperation::Clear     ? "the record was cleared and verified"
           : Operation == ToolOperation::Restore ? "the block was restored and verified"
                                                 : "the record was written and verified";
  std::string Failed = "the tool failed with status " + std::to_string(Status);
  return Failed + (Writes != 0 ? " after writing to GPP1" : " and wrote nothing");
}

// Writes Text to Stream and flushes it; false with errno set when any of it did not arrive.
bool Emit(FILE *Stream, const std::string &Text) {
  if (!Text.empty() && fwrite(Text.data(), 1, Text.size(), Stream) != Text.size())
    return false;
  return fflush(Stream) == 0 && !ferror(Stream);
}

// Standard output or error as the run writes to it while it goes: after the first failure
// nothing more is sent there, and the failure is reported at the end on the other stream.
struct OutputStream {
  FILE *File;
  bool Failed = false;
  int Errno = 0;
  void Send(const std::string &Text) {
    if (Failed || Text.empty())
      return;
    if (!Emit(File, Text)) {
      Failed = true;
      Errno = errno;
    }
  }
};

// Why a stop is a front-end error (2) or a GPP1 that is not there to use (7).
struct OpenFailure {
  std::string Message;
  int Status = FrontEndErrorExit;
};

std::unique_ptr<Gpp1Medium> OpenNamedDevice(const FrontEndOptions &Options,
                                            const FrontEndPlatform &Platform, FILE *Err,
                                            OpenFailure *Failure) {
  MediumError OpenError;
  std::unique_ptr<Gpp1Medium> Medium =
      Gpp1Medium::OpenDevice(Options.DevicePath, Platform.SysfsRoot, &OpenError);
  if (Medium == nullptr) {
    // As the default search finding nothing: there is no GPP1 at that name.
    if (OpenError.Missing)
      *Failure = {OpenError.Message + "; GPP1 cannot be found", ToolNoGpp1};
    else
      *Failure = {OpenError.Message, FrontEndErrorExit};
    return nullptr;
  }
  if (IsBoardGpp1(Medium->Identity()))
    return Medium;
  std::string What =
      Options.DevicePath + " is not eMMC GPP1 (" + DescribeIdentity(Medium->Identity()) + ")";
  if (!Options.Force) {
    *Failure = {What + "; nothing was read or written", ToolNoGpp1};
    return nullptr;
  }
  Warn("warning: " + What + "; used as GPP1 because of --force", Err);
  return Medium;
}

// The default search: the lowest-numbered mmcblkNgp0 that the kernel places on the board's
// controller, as the firmware tool takes the GPP1 on PCI device 28 and no other. Candidates
// that are something else are named and skipped; with none left the card is presented without
// GPP1 and the tool says so itself. A candidate that cannot be opened stops the run, as before
// the rule, with the system's reason.
std::unique_ptr<Gpp1Medium> SearchGpp1(const FrontEndPlatform &Platform, FILE *Err,
                                       OpenFailure *Failure) {
  for (const std::string &Candidate : FindGpp1Candidates(Platform.DeviceDirectory)) {
    MediumError OpenError;
    std::unique_ptr<Gpp1Medium> Medium =
        Platform.DefaultMayBeFile
            ? Gpp1Medium::OpenImage(Candidate, DefaultImageBlockSize, &OpenError)
            : Gpp1Medium::OpenDevice(Candidate, Platform.SysfsRoot, &OpenError);
    if (Medium == nullptr) {
      *Failure = {OpenError.Message, FrontEndErrorExit};
      return nullptr;
    }
    if (Platform.DefaultMayBeFile || IsBoardGpp1(Medium->Identity()))
      return Medium;
    Warn("skipped " + Candidate + ": not eMMC GPP1 of the board (" +
             DescribeIdentity(Medium->Identity()) + ")",
         Err);
  }
  return nullptr;
}

std::unique_ptr<Gpp1Medium> OpenMedium(const FrontEndOptions &Options,
                                       const FrontEndPlatform &Platform, FILE *Err,
                                       OpenFailure *Failure) {
  if (Options.ImagePath.empty())
    return Options.DevicePath.empty() ? SearchGpp1(Platform, Err, Failure)
                                      : OpenNamedDevice(Options, Platform, Err, Failure);
  MediumError OpenError;
  uint32_t BlockSize = Options.BlockSize != 0 ? Options.BlockSize : DefaultImageBlockSize;
  std::unique_ptr<Gpp1Medium> Medium =
      Gpp1Medium::OpenImage(Options.ImagePath, BlockSize, &OpenError);
  if (Medium == nullptr)
    *Failure = {OpenError.Message, FrontEndErrorExit};
  return Medium;
}

// The tool's own command line, parsed once by the tool's parser: its words as the shell would
// hand them over (UCS-2; the parse lowers option words in place), the request the run is given,
// and the files it names as Linux paths (empty when not given). It stays where it was made: the
// request points into its words.
struct ToolCommand {
  ToolCommand() = default;
  ToolCommand(const ToolCommand &) = delete;
  std::vector<std::u16string> Words;
  std::vector<CHAR16 *> Argv;
  ToolRequest Request;
  std::string Log;
  std::string Restore;
};

// The shell hands the tool UCS-2; a Linux command line is UTF-8. A front-end option among the
// tool's words (before a station job's values, which are the tool's to refuse and log) is out of
// place. A board's screen and power (--wait, --then) are the firmware's: on Linux they would
// silently do nothing, and are refused.
bool ReadToolCommand(const std::vector<std::string> &Args, ToolCommand *Command,
                     std::string *Error) {
  Command->Words = {u"kestrel"};
  std::string NotText;
  for (const std::string &Arg : Args) {
    std::u16string Wide;
    if (!DecodeUtf8Argument(Arg, &Wide) && NotText.empty())
      NotText = Arg.empty() ? " " : Arg;
    Command->Words.push_back(Wide);
  }
  for (std::u16string &Word : Command->Words)
    Command->Argv.push_back(Word.data());
  Command->Argv.push_back(nullptr);
  ToolRequest &Request = Command->Request;
  ParseToolRequest(Command->Argv.size() - 1, Command->Argv.data(), &Request);
  const size_t Options = Request.Options.JobIndex != 0 ? Request.Options.JobIndex : Args.size();
  for (size_t I = 0; I < Options && I < Args.size(); I++) {
    if (LooksLikeFrontEndWord(Args[I])) {
      *Error = Args[I] + " is a front-end option: it must come before the tool's options";
      return false;
    }
  }
  if (!NotText.empty()) {
    *Error = "argument \"" + ConsoleToUnix({WideText(NotText)}) +
             "\" is not UTF-8 text of characters up to U+FFFF";
    return false;
  }
  if (Request.Options.WaitGiven != 0 || Request.Options.ThenGiven != 0) {
    *Error = "--wait and --then end a run on the board; they have no meaning on Linux";
    return false;
  }
  const auto Path = [](const CHAR16 *Text) {
    return Text == nullptr ? std::string() : EncodeUtf8(Text);
  };
  Command->Log = Path(Request.LogPath);
  Command->Restore = Path(Request.Options.RestoreText);
  return true;
}

// Whether Path names the medium's own file or device, or the file Other names.
bool SameFile(const std::string &Path, const Gpp1Medium *Medium, const std::string &Other) {
  struct stat Named, That;
  if (Path.empty() || stat(Path.c_str(), &Named) != 0)
    return false;
  if (Medium != nullptr && Medium->SameFileAs(Named))
    return true;
  return !Other.empty() && stat(Other.c_str(), &That) == 0 && Named.st_dev == That.st_dev &&
         Named.st_ino == That.st_ino;
}

// A line appended to the medium would change it behind the tool's back, and one appended to the
// block to restore would spoil the only copy kept.
bool CheckLogPath(const ToolCommand &Command, const Gpp1Medium *Medium, std::string *Error) {
  if (!SameFile(Command.Log, Medium, Command.Restore))
    return true;
  *Error = "--log " + Command.Log + " is " +
           (SameFile(Command.Log, Medium, "") ? "the medium itself" : "the file to restore") +
           "; nothing was read or written";
  return false;
}

// The tool run on Board, its console reaching Console as it is printed (also what the board says
// afterwards, in AmendLog) and its prompts Errors, its keys from standard input; the run's result.
RunResult RunOnBoard(HostBoard &Board, const ToolCommand &Command, OutputStream &Console,
                     OutputStream &Errors) {
  auto Converter = std::make_shared<ConsoleConverter>();
  auto Prompts = std::make_shared<ConsoleConverter>(true);
  Board.Firmware.ConsoleSink = [Converter, &Console](const std::u16string &Text) {
    Console.Send(Converter->Feed(Text));
  };
  Board.Firmware.ErrorSink = [Prompts, &Errors](const std::u16string &Text) {
    Errors.Send(Prompts->Feed(Text));
  };
  Board.KeyboardFd = STDIN_FILENO;
  const RunResult Result = Board.Run(Command.Request);
  Console.Send(Converter->Finish());
  Errors.Send(Prompts->Finish());
  return Result;
}

// The tool's line in its log made to say Reason and Status, the run's exit status, when the run
// ends otherwise than the tool said (a signal, output that failed). The amendment's own failure is
// the exit status then.
int AmendLog(HostBoard &Board, const RunResult &Result, int Status, const std::string &Reason) {
  ToolStatus Amended = ToolSuccess;
  Board.Attend([&] {
    Amended = AmendStationLog(Result.Line, Result.WriteReached, static_cast<ToolStatus>(Status),
                              Reason.c_str());
  });
  return Amended == ToolSuccess ? Status : ExitStatusOf(Amended);
}

// A run that may not touch the medium (held by another run, or a signal before it began): with a
// log, its line is put by the log's own code, saying why, and GPP1 is never asked for anything.
int LogRefusedRun(const ToolCommand &Command, OutputStream &Console, int Status,
                  const std::string &Reason) {
  if (Command.Log.empty())
    return Status;
  HostBoard Board(nullptr, DefaultImageBlockSize, false);
  auto Converter = std::make_shared<ConsoleConverter>();
  Board.Firmware.ConsoleSink = [Converter, &Console](const std::u16string &Text) {
    Console.Send(Converter->Feed(Text));
  };
  ToolStatus Logged = ToolSuccess;
  Board.Attend([&] {
    Logged = LogRunWithoutGpp1(Command.Request, static_cast<ToolStatus>(Status), Reason.c_str());
  });
  Console.Send(Converter->Finish());
  return ExitStatusOf(Logged);
}

// The medium's lock, shared for a read and exclusive for a change, waited for a while; a signal
// held before the write stops the wait. False with the run's exit status in *Exit when the run may
// not go on.
bool LockMedium(Gpp1Medium &Medium, const ToolCommand &Command, const FrontEndPlatform &Platform,
                OutputStream &Console, OutputStream &Errors, int *Exit) {
  LockResult Locked =
      Medium.Lock(OperationWrites(Command.Request.Operation), Platform.LockWaitMilliseconds,
                  [] { return HeldInterrupt() != 0; });
  if (Locked == LockResult::Locked && HeldInterrupt() != 0)
    Locked = LockResult::Interrupted;
  if (Locked == LockResult::Locked) {
    Medium.SetBeforeWrite(BeginWrite);
    return true;
  }
  const std::string Signal = InterruptName(HeldInterrupt());
  if (Locked == LockResult::Interrupted) {
    FrontEndError(Errors.File, Signal + " ended the run; nothing was written");
    *Exit = LogRefusedRun(Command, Console, SignalExitBase + HeldInterrupt(),
                          "interrupted by " + Signal + ", nothing written");
    return false;
  }
  FrontEndError(Errors.File, (Locked == LockResult::Busy
                                  ? std::string("GPP1 is in use by another process")
                                  : "cannot lock " + Medium.Path() + ": " + strerror(errno)) +
                                 "; nothing was read or written");
  *Exit = LogRefusedRun(Command, Console, ToolNoGpp1,
                        "GPP1 in use by another process, nothing written");
  return false;
}

// The record as block 0 holds it now, for --json: after a read that found it (valid or not), or
// after a write or an edit verified or found in place already; the tool saw it last.
void ShowRecordJson(const ToolCommand &Command, const RunResult &Result, OutputStream &StdOut) {
  const ToolOperation Op = Command.Request.Operation;
  const ToolStatus ToolExit = Result.Status;
  const bool Changed = Op == ToolOperation::Write || Op == ToolOperation::Edit ||
                       Op == ToolOperation::Provision || Op == ToolOperation::Rework;
  const bool Shown =
      (Op == ToolOperation::Inspect && ToolExit == ToolSuccess) ||
      (Op == ToolOperation::Read && (ToolExit == ToolSuccess || ToolExit == ToolRecordFailsCrc)) ||
      (Changed && ToolExit == ToolSuccess && !Command.Request.Options.DryRunRequested);
  if (Shown && Result.Record.Known)
    StdOut.Send(RecordJson(Result.Record) + "\n");
}

// How the run ends once the tool is done: its own status, unless an output failed or a signal is
// held, each said on stderr (on stdout when stderr failed, unless stdout is the JSON object's
// alone) and in the log's line.
int ExitAfterRun(HostBoard &Board, const ToolCommand &Command, const Gpp1Medium *Medium,
                 const RunResult &Result, const OutputStream &StdOut, const OutputStream &StdErr,
                 bool Json) {
  const int ToolExit = ExitStatusOf(Result.Status);
  auto Report = [&](const std::string &Line) {
    if (!Emit(StdErr.File, Line) && !Json)
      Emit(StdOut.File, Line);
  };
  const bool Wrote = Medium != nullptr && Medium->OpenedForWriting();
  const std::string Outcome =
      OutcomeOf(Command.Request.Operation, ToolExit, Wrote ? Medium->WritesAttempted() : 0);
  const std::string ToolReason = Result.Reason != nullptr ? Result.Reason : "failed";
  int Exit = ToolExit;
  std::string Reason;
  if (StdOut.Failed || StdErr.Failed) {
    const std::string Stream = StdOut.Failed ? "output" : "error";
    Report("kestrel: " + Outcome + ", but standard " + Stream +
           " failed: " + strerror(StdOut.Failed ? StdOut.Errno : StdErr.Errno) + "\n");
    Exit = ToolOutputFailed;
    Reason = "standard " + Stream + " failed: " + ToolReason;
  }
  // A signal held while GPP1 was written ends the run now that the write's outcome is out; one
  // held before kept the write from beginning.
  if (int Signal = Medium != nullptr ? HeldInterrupt() : 0) {
    const std::string Name = InterruptName(Signal);
    Report("kestrel: " + Name +
           (Wrote ? " arrived after the write began; " + Outcome + ", and the run ends here\n"
                  : " ended the run; nothing was written\n"));
    Exit = SignalExitBase + Signal;
    Reason = Wrote ? "ended by " + Name + " after the write: " + ToolReason
                   : "interrupted by " + Name + ", nothing written";
  }
  return Exit != ToolExit && !Command.Log.empty() ? AmendLog(Board, Result, Exit, Reason) : Exit;
}

int ShowVersion(const FrontEndOptions &Options, FILE *Out, FILE *Err) {
  if (!Options.ToolArgs.empty() || Options.Json)
    return FrontEndError(Err, "--version takes no other options");
  std::u16string Version(ToolVersion);
  if (Emit(Out, "kestrel " + std::string(Version.begin(), Version.end()) + "\n"))
    return 0;
  Warn(std::string("standard output failed: ") + strerror(errno), Err);
  return ToolOutputFailed;
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
    Descriptor Null(open("/dev/null", O_RDWR));
    if (Null.Get() != Fd)
      return false;
    Null.Release();
  }
  return true;
}

int RunFrontEnd(const std::vector<std::string> &Args, FILE *Out, FILE *Err,
                const FrontEndPlatform &Platform) {
  // The stick maker, also kestrel-stick: the rest of the words are its own.
  if (!Args.empty() && Args[0] == MakeStickWord)
    return MakeStick(std::vector<std::string>(Args.begin() + 1, Args.end()), Out, Err);
  FrontEndOptions Options;
  std::string Error;
  if (!ParseFrontEndOptions(Args, &Options, &Error))
    return FrontEndError(Err, Error + " (" + FrontEndUsage + ")");
  if (Options.Version)
    return ShowVersion(Options, Out, Err);
  ToolCommand Command;
  if (!ReadToolCommand(Options.ToolArgs, &Command, &Error))
    return FrontEndError(Err, Error);
  OpenFailure Failure;
  std::unique_ptr<Gpp1Medium> Medium = OpenMedium(Options, Platform, Err, &Failure);
  if (Medium == nullptr && !Failure.Message.empty())
    return FrontEndError(Err, Failure.Message, Failure.Status);
  if (!CheckLogPath(Command, Medium.get(), &Error))
    return FrontEndError(Err, Error);

  // The console reaches the user as the tool prints it, so that whatever ends the run later, what
  // was done so far has been said. With --json stdout carries the object alone and the console
  // goes to stderr.
  OutputStream StdOut{Out}, StdErr{Err};
  OutputStream &Console = Options.Json ? StdErr : StdOut;
  int Exit = 0;
  if (Medium != nullptr && !LockMedium(*Medium, Command, Platform, Console, StdErr, &Exit))
    return Exit;
  bool WriteProtected = Options.WriteProtect || (Medium != nullptr && Medium->KernelReadOnly());
  HostBoard Board(Medium.get(), Medium != nullptr ? Medium->BlockSize() : DefaultImageBlockSize,
                  WriteProtected);
  const RunResult Result = RunOnBoard(Board, Command, Console, StdErr);
  if (Command.Request.Operation == ToolOperation::Help && Result.Status == ToolSuccess)
    Console.Send(FrontEndHelp);
  if (Options.Json && Medium != nullptr)
    ShowRecordJson(Command, Result, StdOut);
  return ExitAfterRun(Board, Command, Medium.get(), Result, StdOut, StdErr, Options.Json);
}
