// The fault sweep: for each operation, every firmware call it makes that can fail is made to
// fail in turn (each pool allocation, LocateHandleBuffer, HandleProtocol, ReadBlocks,
// WriteBlocks, FlushBlocks, OutputString), and a device that lies (drops the write, flips a bit on
// read-back, writes only part of the block) is swept over every bit and every partial length. Every
// run must either succeed with the intended block on the device or fail with a non-zero status and
// an "ERROR: " line; each run starts the image as the firmware does (AppEntry under UEFI Shell
// 2.0, and for some operations under the EFI 1.1 shell, whose set-up searches handles); none may
// report "Operation successful!" with any other block; nothing may stay allocated, open or
// connected. A console line whose own buffer or OutputString failed is merely lost: such a run
// must otherwise be the fault-free run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <map>

#include "app/board_record.h"
#include "tests/support/board_fixture.h"
#include "tests/support/expected_texts.h"

namespace {

using Args = std::vector<std::string>;

const Args Example = {"-w", "-p", "12345678", "-s", "87654321", "-m", "09876"};
const Args DebugWriteAll = {"--debug", "-w", "-p", "PY-0001", "-m", "Mm42", "-s",
                            "SD7",     "-b", "1b", "-f",      "C",  "-o",   "12345678"};

// Every operation, the device-changing ones with and without their debug lines.
const std::vector<Args> Operations = {{"-r"}, {"--debug", "-r"}, Example, DebugWriteAll,
                                      {"-c"}, {"--debug", "-c"}, {"-h"},  {"-w", "-r"}};

// The lines of a write and a clear after the banner, and those of a verify that found another
// block.
const std::string Writing = "- Creating binary image...\n- Writing binary image...\n";
const std::string Written = Writing + "- Verifying binary image...\n";
const std::string Clearing = "- Clearing GPP1 data...\n";
const std::string VerifyFailed =
    "ERROR: Failed to verify GPP1!\nERROR: Failed to verify binary data!\n";

// Firmware calls that the sweep fails one at a time. Pool allocations use the simulated pool's
// own failure injection; the others go through wrappers placed in the firmware's tables.
enum class Call {
  Pool,
  LocateHandleBuffer,
  HandleProtocol,
  ReadBlocks,
  WriteBlocks,
  FlushBlocks,
  OutputString
};
constexpr size_t CallKinds = 7;
constexpr const char *CallNames[CallKinds] = {
    "AllocatePool", "LocateHandleBuffer", "HandleProtocol", "ReadBlocks",
    "WriteBlocks",  "FlushBlocks",        "OutputString"};

// The wrappers are plain firmware-convention functions, so their state is process-wide; one
// board exists at a time.
struct Injection {
  Call Target = Call::Pool;
  size_t FailAt = 0; // 1-based number of the Target call that fails; 0: none
  std::array<size_t, CallKinds> Seen = {};

  bool Fails(Call C) {
    size_t N = ++Seen[static_cast<size_t>(C)];
    return C == Target && N == FailAt;
  }
};
Injection Inject;

// One wrapper per firmware slot, keeping the firmware's own function. The simulated console
// records the text before answering, so a failed OutputString is a line lost.
template <Call C, EFI_STATUS Failure, typename... A> struct Faulty {
  static inline EFI_STATUS(EFIAPI *Original)(A...) = nullptr;
  static EFI_STATUS EFIAPI Run(A... Values) {
    if constexpr (C == Call::OutputString) {
      const EFI_STATUS Status = Original(Values...);
      return Inject.Fails(C) ? Failure : Status;
    }
    return Inject.Fails(C) ? Failure : Original(Values...);
  }
};
template <Call C, EFI_STATUS Failure, typename... A> void Wrap(EFI_STATUS(EFIAPI *&Slot)(A...)) {
  Faulty<C, Failure, A...>::Original = Slot;
  Slot = Faulty<C, Failure, A...>::Run;
}

// GPP1 block 0 holding another record with junk behind it, so that neither a dropped nor a
// partial write can leave what a write or a clear asks for. Made once per block size.
const std::vector<uint8_t> &PriorBlock(uint32_t BlockSize) {
  static std::map<uint32_t, std::vector<uint8_t>> Blocks;
  auto &Block = Blocks[BlockSize];
  if (Block.empty()) {
    Board B(BlockSize);
    EXPECT_EQ(B.Run({"-w", "-p", "PRIOR", "-m", "PRIOR-MM"}).Status, 0u);
    Block = B.Block0();
    std::fill(Block.begin() + 176, Block.end(), 0x5C);
  }
  return Block;
}

// A board with the prior block, the shell that starts the image, and the failing wrappers in its
// firmware tables.
struct SweepBoard {
  SweepBoard(ShellKind Kind, uint32_t BlockSize = 512)
      : Prior(PriorBlock(BlockSize)), B(BlockSize) {
    B.SetBlock0(Prior);
    B.InstallShell(Kind);
    Inject = Injection{};
    EFI_BLOCK_IO_PROTOCOL *Gpp1 = B.Gpp1().Interface;
    Wrap<Call::LocateHandleBuffer, EFI_NOT_FOUND>(B.Sim.BootServices.LocateHandleBuffer);
    Wrap<Call::HandleProtocol, EFI_UNSUPPORTED>(B.Sim.BootServices.HandleProtocol);
    Wrap<Call::ReadBlocks, EFI_DEVICE_ERROR>(Gpp1->ReadBlocks);
    Wrap<Call::WriteBlocks, EFI_DEVICE_ERROR>(Gpp1->WriteBlocks);
    Wrap<Call::FlushBlocks, EFI_DEVICE_ERROR>(Gpp1->FlushBlocks);
    Wrap<Call::OutputString, EFI_DEVICE_ERROR>(B.Sim.ConOut.OutputString);
  }
  const std::vector<uint8_t> &Prior; // made first: its board must be gone before this one
  Board B;
};

struct Outcome {
  uint64_t Status;
  std::vector<std::u16string> Lines; // every console message, in order
  std::vector<uint8_t> Block;
  size_t Allocations; // pool allocations made by the run
  std::string Left;   // what the run left behind (Leftovers)
  std::array<size_t, CallKinds> Seen;
  std::string Text; // the console's text, narrowed, in Unix form
};

// Starts the image with Args as the firmware does.
Outcome RunOnce(SweepBoard &S, const Args &A) {
  SimFirmware &Sim = S.B.Sim;
  const size_t Before = Sim.AllocationCount;
  Inject.Seen = {};
  const BoardRun R = S.B.Start(A);
  return Outcome{R.Status,       Sim.ConsoleCalls, S.B.Block0(), Sim.AllocationCount - Before,
                 Leftovers(Sim), Inject.Seen,      R.Output};
}

// The fault-free run's console with exactly one message taken out.
bool IsOneLineShort(const std::vector<std::u16string> &Lines,
                    const std::vector<std::u16string> &Full) {
  if (Lines.size() + 1 != Full.size())
    return false;
  size_t I = 0;
  while (I < Lines.size() && Lines[I] == Full[I])
    I++;
  return std::equal(Lines.begin() + I, Lines.end(), Full.begin() + I + 1);
}

// What a run of Args on a fresh sweep board must leave on the device when it succeeds.
struct Reference {
  Outcome Clean;
  std::vector<uint8_t> Intended;
  std::vector<uint8_t> Prior;
};

Reference ReferenceFor(const Args &A, ShellKind Kind, uint32_t BlockSize = 512) {
  SweepBoard S(Kind, BlockSize);
  Reference R{{}, S.B.Block0(), S.B.Block0()};
  R.Clean = RunOnce(S, A);
  if (HasMessage(R.Clean.Lines, "- Clearing GPP1 data...\r\n"))
    R.Intended.assign(BlockSize, 0);
  else if (HasMessage(R.Clean.Lines, "- Creating binary image...\r\n"))
    R.Intended = R.Clean.Block; // checked against the record layout in read_write_test
  return R;
}

// The properties every run must have, faulted or not. Returns a description of the first one
// broken, or an empty string.
std::string Judge(const Outcome &O, const Reference &Ref, bool LineMayBeLost) {
  if (!O.Left.empty())
    return O.Left;
  if (HasMessage(O.Lines, "Operation successful!\r\n") && O.Status != 0)
    return "\"Operation successful!\" with a failure status";
  if (O.Status == 0)
    return O.Block == Ref.Intended ? "" : "success with a block other than the one asked for";
  // Every status but these says what block 0 holds: the block as it was, or (0x43) the new one.
  const bool Unknown = O.Status == 27 || O.Status == 0x44 || O.Status == 0x4C;
  if (O.Status == 0x43 && O.Block != Ref.Intended)
    return "status 0x43 without the new block on the device";
  if (!Unknown && O.Status != 0x43 && O.Block != Ref.Prior)
    return "status " + std::to_string(O.Status) +
           " says nothing was written, and the block changed";
  if (HasMessage(O.Lines, "ERROR: ", true))
    return "";
  // A failure without its "ERROR: " line is right only when that line itself was the one lost.
  if (LineMayBeLost && O.Status == Ref.Clean.Status && O.Block == Ref.Clean.Block &&
      IsOneLineShort(O.Lines, Ref.Clean.Lines))
    return "";
  return "failure without an \"ERROR: \" line";
}

std::string Describe(const Args &A, ShellKind Kind) {
  std::string Out;
  for (const auto &W : A)
    Out += W + " ";
  return Out + (Kind == ShellKind::Uefi20 ? "(Shell 2.0) " : "(EFI 1.1 shell) ");
}

TEST(FaultSweep, EveryFailingFirmwareCallOfEveryOperation) {
  // Everything under UEFI Shell 2.0, and the device operations under the EFI 1.1 shell too,
  // whose start-up allocates a handle search buffer of its own.
  std::vector<std::pair<Args, ShellKind>> Runs;
  for (const Args &A : Operations)
    Runs.push_back({A, ShellKind::Uefi20});
  for (const Args &A : {Args{"-r"}, Example, Args{"-c"}})
    Runs.push_back({A, ShellKind::Efi11});
  bool SawReadOutOfMemory = false;
  size_t Injected = 0;
  size_t PerKind[CallKinds] = {};
  for (const auto &[A, Kind] : Runs) {
    const Reference Ref = ReferenceFor(A, Kind);
    ASSERT_EQ(Judge(Ref.Clean, Ref, false), "") << Describe(A, Kind);
    // Only the last operation, a write that also asks for a read, is refused.
    ASSERT_EQ(Ref.Clean.Status, A == Operations.back() ? 2u : 0u) << Describe(A, Kind);

    std::array<size_t, CallKinds> Counts = Ref.Clean.Seen;
    Counts[static_cast<size_t>(Call::Pool)] = Ref.Clean.Allocations;

    for (size_t CallKind = 0; CallKind < CallKinds; CallKind++) {
      const Call C = static_cast<Call>(CallKind);
      for (size_t N = 1; N <= Counts[CallKind]; N++) {
        SweepBoard S(Kind);
        if (C == Call::Pool) {
          S.B.Sim.FailAllocationNumber(N);
        } else {
          Inject.Target = C;
          Inject.FailAt = N;
        }
        const Outcome O = RunOnce(S, A);
        Injected++;
        PerKind[CallKind]++;
        const std::string Where =
            Describe(A, Kind) + CallNames[CallKind] + " #" + std::to_string(N) + " fails";
        if (C == Call::Pool && A == Args{"-r"} && O.Status == 9) {
          SawReadOutOfMemory = true;
          EXPECT_EQ(O.Text, Expected().Banner + "ERROR: Failed to allocate pool!\n"
                                                "ERROR: Failed to read eMMC GPP1!\n");
        }
        // A failed console call, or a failed allocation of a console line, changes nothing but
        // that line.
        ASSERT_EQ(Judge(O, Ref, C == Call::Pool || C == Call::OutputString), "") << Where;
        // A write counts once the device has flushed it; this one holds the block all the same.
        if (C == Call::FlushBlocks)
          EXPECT_EQ(O.Status, 0x43u) << Where;
        if (C == Call::OutputString) {
          EXPECT_EQ(O.Status, Ref.Clean.Status) << Where;
          EXPECT_EQ(O.Block, Ref.Clean.Block) << Where;
        }
      }
    }
  }
  std::string Breakdown;
  for (size_t CallKind = 0; CallKind < CallKinds; CallKind++) {
    Breakdown += std::string(" ") + CallNames[CallKind] + "=" + std::to_string(PerKind[CallKind]);
    // Every kind of call was reached by some operation.
    EXPECT_GT(PerKind[CallKind], 0u) << CallNames[CallKind];
  }
  std::cout << "[ sweep    ] " << Injected << " failing firmware calls over " << Runs.size()
            << " runs of the operations:" << Breakdown << "\n";
  EXPECT_TRUE(SawReadOutOfMemory) << "no allocation of the read's block buffer failed";
}

// Every bit of the block flipped on read-back, every length of a partial write, and a write that
// is dropped: over a read, a write and a clear, on 512-byte blocks and, more sparsely, on
// 4096-byte ones.
TEST(FaultSweep, LyingDeviceNeverPassesForSuccess) {
  size_t Injected = 0;
  size_t Caught = 0;
  for (const auto &[BlockSize, Stride] : {std::pair<uint32_t, size_t>{512, 1}, {4096, 97}}) {
    for (const Args &A : {Args{"-r"}, Example, Args{"-c"}}) {
      const bool Writes = A != Args{"-r"};
      // A read of a record with any one bit flipped shows nothing but the CRC's failure; a write
      // or a clear that the device lied about fails its verify, and says only that.
      const std::string Said = Writes ? (A == Example ? Written : Clearing) + VerifyFailed
                                      : "ERROR: GPP1 data is corrupted! CRC32 fails.\n";
      std::vector<std::pair<std::string, SimBlockFaults>> Lies;
      if (Writes)
        Lies.push_back({"drops the write", {.DropWrites = true}});
      for (size_t Bit = 0; Bit < BlockSize * 8; Bit += Stride)
        Lies.push_back({"flips bit " + std::to_string(Bit), {.FlipBitOnRead = int(Bit)}});
      for (size_t Bytes = 1; Writes && Bytes < BlockSize; Bytes += Stride)
        Lies.push_back(
            {"writes " + std::to_string(Bytes) + " bytes", {.PartialWriteBytes = Bytes}});
      const Reference Ref = ReferenceFor(A, ShellKind::Uefi20, BlockSize);
      for (const auto &[Name, Faults] : Lies) {
        SweepBoard S(ShellKind::Uefi20, BlockSize);
        S.B.Gpp1().Faults = Faults;
        const Outcome O = RunOnce(S, A);
        Injected++;
        const std::string Where = Describe(A, ShellKind::Uefi20) + "device " + Name +
                                  ", blocks of " + std::to_string(BlockSize);
        ASSERT_EQ(Judge(O, Ref, false), "") << Where;
        if (Writes || Faults.FlipBitOnRead < int(BoardRecordSize * 8)) {
          EXPECT_EQ(O.Status, Writes ? 27u : 10u) << Where;
          EXPECT_EQ(O.Text, Expected().Banner + Said) << Where;
        }
        Caught += O.Status != 0;
      }
    }
  }
  std::cout << "[ sweep    ] " << Injected << " lying-device runs, " << Caught
            << " reported as failures, none passed off as success\n";
}

// The exact lines and statuses of the device's failures that the sweeps above judge only by their
// shape.
TEST(FaultSweep, ExactMessagesOfDeviceFaults) {
  const std::string WriteFailed =
      "ERROR: Failed to write GPP1!\nGPP1 device status: Device Error\n";
  const std::string NotWritten = "ERROR: Failed to write binary data!\n";
  struct {
    const char *Name;
    SimBlockFaults Faults;
    Args A;
    uint64_t Status;
    std::string Lines; // after the banner
    EFI_STATUS LocateHandleBuffer = EFI_SUCCESS;
  } Rows[] = {
      // clang-format off
      {"write fails", {.WriteStatus = EFI_DEVICE_ERROR}, Example, 0x42, Writing + WriteFailed +
       "- GPP1 read once more holds the block it held before: nothing was written.\n" + NotWritten},
      {"flush fails", {.FlushStatus = EFI_DEVICE_ERROR}, Example, 0x43, Writing + WriteFailed +
       "- GPP1 read once more holds the new block, unconfirmed by the device.\n" + NotWritten},
      {"torn write, flush fails", {.FlushStatus = EFI_DEVICE_ERROR, .PartialWriteBytes = 100},
       Example, 0x44, Writing + WriteFailed + "ERROR: GPP1 read once more holds neither the block "
       "it held nor the new one!\n" + NotWritten},
      {"reads fail", {.ReadStatus = EFI_DEVICE_ERROR}, Example, 0x41, Writing +
       "ERROR: Failed to read GPP1!\nGPP1 device status: Device Error\n" + NotWritten},
      {"no media", {.ReadStatus = EFI_NO_MEDIA}, {"-r"}, 0x41, "ERROR: Failed to read GPP1!\n"
       "GPP1 device status: No Media\nERROR: Failed to read eMMC GPP1!\n"},
      {"no handle buffer", {}, {"-r"}, 7,
       "ERROR: Cannot Locate BlockIo protocol. Status = Out of Resources\n"
       "ERROR: Failed to open eMMC driver!\nERROR: Failed to read eMMC GPP1!\n",
       EFI_OUT_OF_RESOURCES},
      // clang-format on
  };
  for (const auto &R : Rows) {
    Board B;
    B.SetBlock0(std::vector<uint8_t>(512, 0x11));
    B.Gpp1().Faults = R.Faults;
    B.Sim.LocateHandleBufferStatus = R.LocateHandleBuffer;
    const BoardRun Result = B.Run(R.A);
    EXPECT_EQ(Result.Status, R.Status) << R.Name;
    EXPECT_EQ(Result.Output, Expected().Banner + R.Lines) << R.Name;
  }
}

} // namespace
