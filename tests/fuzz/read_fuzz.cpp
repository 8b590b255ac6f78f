// The read path (-r, with and without --debug) over an arbitrary block 0 on a device with an
// arbitrary block size.
//
// Input: a flag byte (bit 0 --debug, bit 1 give the record a matching CRC over its stored
// length, bit 2 the read fails with the status in the next byte, bit 3 one bit of the transfer
// reads inverted, at the position in the next 16 bits), the block size the media reports (32
// bits), then the contents of block 0 (zeros after the input's end).
//
// The medium is sized for the reported block size up to 64 KiB; beyond that the media lies about
// its block size, and the pool, like a firmware's, refuses allocations above 1 MiB.
//
// Properties: those of every run (CheckRunKeepsItsPromises); nothing is written and block 0 is
// unchanged; the status follows the record's rule (RecordIsValid): 0 when it holds, 10 when not,
// a failure when the block cannot be read or cannot hold a record.
#include <algorithm>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/board_fixture.h"

namespace {

constexpr uint32_t LargestSimulatedBlock = 0x10000;
constexpr size_t PoolLimit = 1 << 20;

EFI_ALLOCATE_POOL RealAllocatePool = nullptr;

EFI_STATUS EFIAPI LimitedAllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  if (Size > PoolLimit)
    return EFI_OUT_OF_RESOURCES;
  return RealAllocatePool(Type, Size, Buffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzReader In(Data, Size);
  const uint8_t Flags = In.Byte();
  const bool Debug = Flags & 1, FixCrc = Flags & 2, FailRead = Flags & 4, FlipBit = Flags & 8;
  const uint8_t FailCode = In.Byte();
  const uint16_t FlipAt = In.Le<uint16_t>();
  const uint32_t BlockSize = In.Le<uint32_t>();
  std::vector<uint8_t> Contents = In.Rest();

  const uint32_t MediumBlock =
      BlockSize <= LargestSimulatedBlock ? BlockSize : LargestSimulatedBlock;
  Board B(MediumBlock, WriteProtect::Off, 2);
  B.Gpp1().Media.BlockSize = BlockSize;
  RealAllocatePool = B.Sim.BootServices.AllocatePool;
  B.Sim.BootServices.AllocatePool = LimitedAllocatePool;

  Contents.resize(std::max<size_t>(MediumBlock, BoardRecordSize), 0);
  if (FixCrc) {
    const uint32_t Length = LoadLe<uint32_t>(Contents.data() + RecordOffset::RecordLength);
    if (Length <= BoardRecordSize) {
      PutLe32(Contents.data() + RecordOffset::Crc32, 0);
      PutLe32(Contents.data() + RecordOffset::Crc32,
              Length == 0 ? 0 : Crc32(Contents.data(), Length));
    }
  }
  Contents.resize(MediumBlock);
  B.SetBlock0(Contents);
  if (FailRead)
    B.Gpp1().Faults.ReadStatus = EfiErrorBit | FailCode;
  if (FlipBit)
    B.Gpp1().Faults.FlipBitOnRead = FlipAt;

  const std::vector<uint8_t> Before = B.Gpp1Medium.Bytes;
  const BoardRun R =
      B.Run(Debug ? std::vector<std::string>{"--debug", "-r"} : std::vector<std::string>{"-r"});

  FUZZ_CHECK(B.Gpp1().WriteCalls == 0);
  FUZZ_CHECK(B.Gpp1Medium.Bytes == Before);
  CheckRunKeepsItsPromises(B.Sim, R.Status);

  // What the record reads as, once the device has had its say. A block too small for the
  // record, or a failed read, must fail; past 64 KiB the media's block size is a lie whose
  // outcome depends on the pool and the medium, so only the general properties apply.
  if (BlockSize < BoardRecordSize || FailRead) {
    FUZZ_CHECK(R.Status != 0);
  } else if (BlockSize <= LargestSimulatedBlock) {
    std::vector<uint8_t> Seen(Contents.begin(), Contents.begin() + BoardRecordSize);
    if (FlipBit && FlipAt < BoardRecordSize * 8)
      Seen[FlipAt / 8] ^= static_cast<uint8_t>(1u << (FlipAt % 8));
    FUZZ_CHECK(R.Status == (RecordIsValid(Seen.data()) ? 0u : ToolRecordFailsCrc));
  }
  return 0;
}
