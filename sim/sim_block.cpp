#include "sim/sim_block.h"

EFI_STATUS SimBlockDevice::Read(UINT32 MediaId, EFI_LBA Lba, UINTN Size, VOID *Buffer) {
  ReadCalls++;
  if (EFI_ERROR(Faults.ReadStatus))
    return Faults.ReadStatus;
  EFI_STATUS Status = HostedBlockDevice::Read(MediaId, Lba, Size, Buffer);
  int Bit = Faults.FlipBitOnRead;
  if (!EFI_ERROR(Status) && Bit >= 0 && static_cast<size_t>(Bit) < Size * 8)
    static_cast<uint8_t *>(Buffer)[Bit / 8] ^= static_cast<uint8_t>(1u << (Bit % 8));
  return Status;
}

EFI_STATUS SimBlockDevice::Write(UINT32 MediaId, EFI_LBA Lba, UINTN Size, const VOID *Buffer) {
  WriteCalls++;
  if (EFI_ERROR(Faults.WriteStatus))
    return Faults.WriteStatus;
  if (EFI_STATUS Status = Check(MediaId, Lba, Size, Buffer, true); EFI_ERROR(Status))
    return Status;
  WrittenLbas.push_back(Lba);
  if (Faults.DropWrites)
    return EFI_SUCCESS;
  size_t Length = Size;
  if (Faults.PartialWriteBytes != 0 && Faults.PartialWriteBytes < Length)
    Length = Faults.PartialWriteBytes;
  return Backend->Write(OffsetOf(Lba), Buffer, Length) ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

EFI_STATUS SimBlockDevice::Flush() {
  FlushCalls++;
  return Faults.FlushStatus;
}
