#include "host/host_board.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "hosted/linux_files.h"
#include "hosted/text.h"
#include "host/interruption.h"
#include "main/kestrel.h"
#include "shell/shell_connection.h"

namespace {

// Partitions of a card without general purpose partitions: user area, two boot areas, RPMB.
constexpr uint8_t PartitionsBeforeGpp = 4;
// Where the harness's firmware finds its two disks.
constexpr uint8_t BootVolumePciDevice = 3;
constexpr uint8_t Gpp1DiskPciDevice = 5;
constexpr const char *ProgramName = "kestrel";

// The board whose tool is running: the keyboard's firmware entry has no other way to find it.
HostBoard *RunningBoard = nullptr;
EFI_INPUT_READ_KEY FirmwareReadKeyStroke = nullptr;

} // namespace

// The keyboard of a Linux run: its standard input, one byte a key. A terminal is put in
// character mode without echo at the first read (the tool echoes what it takes, as on a firmware
// console) and put back when the tool is done, or by the signal that ends the run.
class HostKeyboard {
public:
  explicit HostKeyboard(int Fd) : Fd(Fd) {}
  ~HostKeyboard() {
    if (Raw) {
      tcsetattr(Fd, TCSANOW, &Saved);
      ForgetTerminal();
    }
  }
  EFI_STATUS Read(EFI_INPUT_KEY *Key);

private:
  // A byte within Milliseconds: 1 and the byte, 0 for none yet, -1 at the end of the input.
  int Next(int Milliseconds, unsigned char *Byte);
  int Fd;
  bool Started = false;
  bool Raw = false;
  bool Ended = false;
  termios Saved{};
};

namespace {

// How long a key is waited for at one call: the tool's own polling interval, so that its count of
// polls keeps time on Linux too.
constexpr int KeyWaitMilliseconds = 10;
// The rest of a terminal's escape sequence (an arrow key, a function key) follows within this.
constexpr int SequenceMilliseconds = 50;
constexpr UINT16 SCAN_NULL = 0;
constexpr UINT16 SCAN_UNKNOWN_KEY = 0x01; // a key without a character, passed over

} // namespace

int HostKeyboard::Next(int Milliseconds, unsigned char *Byte) {
  pollfd Poll = {Fd, POLLIN, 0};
  int Ready = poll(&Poll, 1, Milliseconds);
  if (Ready < 0 && errno == EINTR)
    return 0;
  if (Ready == 0)
    return 0;
  ssize_t N = Ready > 0 ? read(Fd, Byte, 1) : -1;
  if (N < 0 && (errno == EINTR || errno == EAGAIN))
    return 0;
  return N == 1 ? 1 : -1;
}

EFI_STATUS HostKeyboard::Read(EFI_INPUT_KEY *Key) {
  if (!Started) {
    Started = true;
    termios Mode;
    if (isatty(Fd) && tcgetattr(Fd, &Saved) == 0) {
      Mode = Saved;
      Mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      Mode.c_cc[VMIN] = 1;
      Mode.c_cc[VTIME] = 0;
      RememberTerminal(Fd, Saved);
      Raw = tcsetattr(Fd, TCSANOW, &Mode) == 0;
      if (!Raw)
        ForgetTerminal();
    }
  }
  // A signal held at a prompt ends the typing as Esc does; the front end then ends the run.
  if (HeldInterrupt() != 0) {
    *Key = {SCAN_ESC, 0};
    return EFI_SUCCESS;
  }
  if (Ended)
    return EFI_DEVICE_ERROR;
  unsigned char Byte = 0;
  int Got = Next(KeyWaitMilliseconds, &Byte);
  if (Got == 0)
    return EFI_NOT_READY;
  if (Got < 0) {
    // The end of the input ends the line being typed, once; then there are no more keys.
    Ended = true;
    *Key = {SCAN_NULL, CHAR_CARRIAGE_RETURN};
    return EFI_SUCCESS;
  }
  if (Byte != 0x1B) {
    *Key = {SCAN_NULL, static_cast<CHAR16>(Byte)};
    return EFI_SUCCESS;
  }
  unsigned char Follow = 0;
  if (Next(SequenceMilliseconds, &Follow) != 1) {
    *Key = {SCAN_ESC, 0};
    return EFI_SUCCESS;
  }
  // ESC [ ... or ESC O ...: one key without a character, up to the sequence's final byte.
  for (int I = 0; (Follow == '[' || Follow == 'O' || I > 0) && I < 16; I++) {
    if (Next(SequenceMilliseconds, &Follow) != 1 || (Follow >= 0x40 && Follow <= 0x7E))
      break;
  }
  *Key = {SCAN_UNKNOWN_KEY, 0};
  return EFI_SUCCESS;
}

namespace {

EFI_STATUS EFIAPI KeyboardReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key) {
  if (RunningBoard == nullptr || RunningBoard->KeyboardFd < 0 || Key == nullptr)
    return FirmwareReadKeyStroke(This, Key);
  if (RunningBoard->KeyReader == nullptr)
    RunningBoard->KeyReader = std::make_unique<HostKeyboard>(RunningBoard->KeyboardFd);
  return RunningBoard->KeyReader->Read(Key);
}

// While it lives, Board's keys come from its KeyboardFd.
class KeyboardAttached {
public:
  explicit KeyboardAttached(HostBoard &Board) : Keys(Board.Firmware.ConIn) {
    FirmwareReadKeyStroke = Keys.ReadKeyStroke;
    Keys.ReadKeyStroke = KeyboardReadKeyStroke;
    RunningBoard = &Board;
  }
  ~KeyboardAttached() {
    RunningBoard = nullptr;
    Keys.ReadKeyStroke = FirmwareReadKeyStroke;
  }

private:
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL &Keys;
};

} // namespace

HostBoard::HostBoard(BlockBackend *Gpp1, uint32_t BlockSize, bool WriteProtected) : Card(Firmware) {
  BootVolume = std::make_unique<PlainDisk>(
      Firmware, DevicePathBuilder().Acpi().Pci(BootVolumePciDevice).End());
  if (Gpp1 != nullptr) {
    // The same medium as GPP1: the tool never picks this handle, being on another PCI device.
    Gpp1DiskPath.Acpi().Pci(Gpp1DiskPciDevice).End();
    Gpp1Disk = std::make_unique<HostedBlockDevice>(Gpp1, BlockSize);
    EFI_HANDLE Disk = Firmware.Handles.CreateHandle();
    Firmware.Handles.Install(Disk, EfiBlockIoProtocolGuid, Gpp1Disk->Interface);
    Firmware.Handles.Install(Disk, EfiDevicePathProtocolGuid, Gpp1DiskPath.Data());
    Card.PublishAll(Gpp1, BlockSize);
  } else {
    for (uint8_t P = 0; P < PartitionsBeforeGpp; P++)
      Card.Publish(P);
  }
  // The platform block is always there, as the board's firmware always publishes it; only its
  // flag varies.
  Hobs.AddFirmwareBlocks().AddPlatformInfo(WriteProtected ? 1 : 0).End();
  Hobs.InstallIn(Firmware);
}

RunResult HostBoard::Run(const ToolRequest &Request) {
  if (Shell != nullptr) {
    Warn("a hosted board runs its tool once");
    abort();
  }
  StartShell();
  KeyboardAttached Keyboard(*this);
  // As the image's entry does, with the request the front end parsed: the start-up (the debug
  // port, the platform context, the shell connection), the tool, the tear-down.
  SetUpEnvironment(Firmware.ImageHandle, &Firmware.SystemTable);
  const RunResult Result = ToolMain(Request);
  DisconnectShell(Firmware.ImageHandle);
  KeyReader.reset();
  return Result;
}

void HostBoard::StartShell() {
  Shell = std::make_unique<HostedShell20>(Firmware, Firmware.ImageHandle,
                                          HostedShell20::Ucs2{{WideText(ProgramName)}});
  ServeLinuxFiles(&Shell->Protocol);
}

HostBoard::~HostBoard() {
  EndLinuxFileRun();
}

void HostBoard::Attend(const std::function<void()> &Work) {
  // A board whose tool never ran still has its shell, and the Linux files behind it.
  if (Shell == nullptr)
    StartShell();
  Firmware.InstallInPlatformContext();
  KeyboardAttached Keyboard(*this);
  EFI_STATUS EnvironmentStatus = EFI_SUCCESS;
  ConnectShell(Firmware.ImageHandle, &EnvironmentStatus);
  Work();
  DisconnectShell(Firmware.ImageHandle);
}

namespace {

bool SteersTerminal(char16_t C) {
  return (C < 0x20 && C != u'\t' && C != u'\n') || (C >= 0x7F && C <= 0x9F) ||
         (C >= 0xD800 && C <= 0xDFFF);
}

} // namespace

std::string ConsoleConverter::Feed(const std::u16string &Text) {
  std::string Out;
  Out.reserve(Text.size() + 1);
  for (char16_t C : Text) {
    if (PendingReturn && C != u'\n')
      Out.push_back('?');
    PendingReturn = C == u'\r';
    if (!PendingReturn)
      AppendUtf8(SteersTerminal(C) && !(Backspace && C == u'\b') ? u'?' : C, &Out);
  }
  return Out;
}

std::string ConsoleConverter::Finish() {
  bool Held = PendingReturn;
  PendingReturn = false;
  return Held ? "?" : "";
}

std::string ConsoleToUnix(const std::vector<std::u16string> &Calls) {
  ConsoleConverter Converter;
  std::string Out;
  for (const auto &Call : Calls)
    Out += Converter.Feed(Call);
  return Out + Converter.Finish();
}
