// The whole tool from an arbitrary argument vector on a simulated board, started as the firmware
// starts the image: AppEntry under a UEFI Shell 2.0 or an EFI 1.1 shell.
//
// Input: one byte of board set-up, then the arguments separated by 0x00 bytes (see DecodeWide
// for characters beyond 8 bits; an argument of the single byte 0x02 is a null vector entry).
// Set-up bits: 0-1 the platform's write-protect report (none, off, on), 2 block 0 holds a valid
// record beforehand, 3 a 4096-byte block size, 4 the EFI 1.1 shell (environment on handles of
// its own, interface on the image) instead of Shell 2.0, 5 a stick for the run's files (its log,
// backups and a station job's files), 6 keys typed at the console (the arguments' last word, and
// the rest of the vector without it).
//
// Properties: those of every run (CheckRunKeepsItsPromises); a read or the help leaves block 0 as
// it was; a successful write leaves a valid record followed by zeros, and a successful clear
// leaves zeros; nothing is left open on the stick.
#include <algorithm>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/board_fixture.h"

namespace {

constexpr size_t MaxArguments = 64;
constexpr uint8_t NullEntryMark = 0x02;

// Whether Block holds nothing but zeros from byte From on.
bool ZerosFrom(const std::vector<uint8_t> &Block, size_t From) {
  return std::all_of(Block.begin() + From, Block.end(), [](uint8_t V) { return V == 0; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzReader In(Data, Size);
  const uint8_t SetUp = In.Byte();
  const WriteProtect Protect[] = {WriteProtect::NoPlatformHob, WriteProtect::Off, WriteProtect::On,
                                  WriteProtect::Off};
  Board B(SetUp & 8 ? 4096 : 512, Protect[SetUp & 3]);
  if (SetUp & 4)
    B.Run({"-w", "-p", "PRIOR", "-m", "PRIOR-MM"});

  B.InstallShell(SetUp & 16 ? ShellKind::Efi11 : ShellKind::Uefi20);
  SimVolume Stick(B.Sim);
  if (SetUp & 32) {
    if (SetUp & 16)
      Stick.LoadImageFrom(B.Sim.ImageHandle);
    else
      Stick.Serve(&B.Shell20->Protocol);
  }

  // The vector the shell hands the image, which may hold any character or a null entry.
  std::vector<std::u16string> Words;
  for (const auto &Part : SplitAtNul(In.Rest()))
    if (Words.size() < MaxArguments)
      Words.push_back(DecodeWide(Part));
  if (SetUp & 64 && !Words.empty()) {
    B.Sim.Type(Words.back());
    Words.pop_back();
  }
  ArgVector Vector(Words);
  for (size_t I = 0; I < Words.size(); I++)
    if (Words[I] == std::u16string(1, NullEntryMark))
      Vector.Argv()[I + 1] = nullptr; // entry 0 is the tool's name

  const std::vector<uint8_t> Before = B.Block0();
  const EFI_STATUS Status = B.Start(Vector).Status;
  const std::vector<uint8_t> After = B.Block0();

  CheckRunKeepsItsPromises(B.Sim, Status);
  FUZZ_CHECK(Stick.OpenHandles == 0);
  const bool Wrote = HasMessage(B.Sim.ConsoleCalls, "- Creating binary image...\r\n");
  const bool Cleared = HasMessage(B.Sim.ConsoleCalls, "- Clearing GPP1 data...\r\n");
  if (!Wrote && !Cleared)
    FUZZ_CHECK(After == Before);
  if (Status == 0 && Wrote)
    FUZZ_CHECK(RecordIsValid(After.data()) && ZerosFrom(After, BoardRecordSize));
  if (Status == 0 && Cleared)
    FUZZ_CHECK(ZerosFrom(After, 0));
  return 0;
}
