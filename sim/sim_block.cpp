#include "sim/sim_block.h"

#include <cstring>
#include <map>

#include "sim/sim_firmware.h"

namespace {

std::map<EFI_BLOCK_IO_PROTOCOL *, SimBlockDevice *> &Registry() {
  static std::map<EFI_BLOCK_IO_PROTOCOL *, SimBlockDevice *> Devices;
  return Devices;
}

// Checks a transfer the way a firmware block driver does before touching the medium.
EFI_STATUS CheckTransfer(SimBlockDevice *Dev, UINT32 MediaId, EFI_LBA Lba, UINTN BufferSize,
                         VOID *Buffer) {
  if (Buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  if (Dev->Media.IoAlign > 1 && reinterpret_cast<uintptr_t>(Buffer) % Dev->Media.IoAlign != 0)
    return EFI_INVALID_PARAMETER;
  if (!Dev->Media.MediaPresent)
    return EFI_NO_MEDIA;
  if (MediaId != Dev->Media.MediaId)
    return EFI_MEDIA_CHANGED;
  if (Dev->Media.BlockSize == 0 || BufferSize % Dev->Media.BlockSize != 0)
    return EFI_BAD_BUFFER_SIZE;
  uint64_t Blocks = BufferSize / Dev->Media.BlockSize;
  if (Lba > Dev->Media.LastBlock || Blocks > Dev->Media.LastBlock + 1 - Lba)
    return EFI_INVALID_PARAMETER;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimReadBlocks(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId, EFI_LBA Lba,
                                UINTN BufferSize, VOID *Buffer) {
  SimFirmware::Active().CountCall("ReadBlocks");
  SimBlockDevice *Dev = SimBlockDevice::FromInterface(This);
  if (Dev == nullptr)
    return EFI_INVALID_PARAMETER;
  Dev->ReadCalls++;
  if (EFI_ERROR(Dev->Faults.ReadStatus))
    return Dev->Faults.ReadStatus;
  EFI_STATUS Status = CheckTransfer(Dev, MediaId, Lba, BufferSize, Buffer);
  if (EFI_ERROR(Status))
    return Status;
  if (!Dev->Backend->Read(Lba * Dev->Media.BlockSize, Buffer, BufferSize))
    return EFI_DEVICE_ERROR;
  int Bit = Dev->Faults.FlipBitOnRead;
  if (Bit >= 0 && static_cast<size_t>(Bit) < BufferSize * 8)
    static_cast<uint8_t *>(Buffer)[Bit / 8] ^= static_cast<uint8_t>(1u << (Bit % 8));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimWriteBlocks(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId, EFI_LBA Lba,
                                 UINTN BufferSize, VOID *Buffer) {
  SimFirmware::Active().CountCall("WriteBlocks");
  SimBlockDevice *Dev = SimBlockDevice::FromInterface(This);
  if (Dev == nullptr)
    return EFI_INVALID_PARAMETER;
  Dev->WriteCalls++;
  if (EFI_ERROR(Dev->Faults.WriteStatus))
    return Dev->Faults.WriteStatus;
  EFI_STATUS Status = CheckTransfer(Dev, MediaId, Lba, BufferSize, Buffer);
  if (EFI_ERROR(Status))
    return Status;
  if (Dev->Media.ReadOnly)
    return EFI_WRITE_PROTECTED;
  Dev->WrittenLbas.push_back(Lba);
  if (Dev->Faults.DropWrites)
    return EFI_SUCCESS;
  size_t Length = BufferSize;
  if (Dev->Faults.PartialWriteBytes != 0 && Dev->Faults.PartialWriteBytes < Length)
    Length = Dev->Faults.PartialWriteBytes;
  if (!Dev->Backend->Write(Lba * Dev->Media.BlockSize, Buffer, Length))
    return EFI_DEVICE_ERROR;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimResetBlocks(EFI_BLOCK_IO_PROTOCOL *, BOOLEAN) { return EFI_SUCCESS; }
EFI_STATUS EFIAPI SimFlushBlocks(EFI_BLOCK_IO_PROTOCOL *This) {
  SimFirmware::Active().CountCall("FlushBlocks");
  SimBlockDevice *Dev = SimBlockDevice::FromInterface(This);
  if (Dev == nullptr)
    return EFI_INVALID_PARAMETER;
  Dev->FlushCalls++;
  return Dev->Faults.FlushStatus;
}

} // namespace

bool SimMemoryBackend::Read(uint64_t Offset, void *Buffer, size_t Length) {
  if (Offset > Bytes.size() || Length > Bytes.size() - Offset)
    return false;
  memcpy(Buffer, Bytes.data() + Offset, Length);
  return true;
}

bool SimMemoryBackend::Write(uint64_t Offset, const void *Buffer, size_t Length) {
  if (Offset > Bytes.size() || Length > Bytes.size() - Offset)
    return false;
  memcpy(Bytes.data() + Offset, Buffer, Length);
  return true;
}

SimBlockDevice::SimBlockDevice(SimBlockBackend *Backend, uint32_t BlockSize,
                               EFI_BLOCK_IO_PROTOCOL *Placed)
    : Interface(Placed != nullptr ? Placed : &OwnInterface), Backend(Backend) {
  static uint32_t NextMediaId = 0x4B10;
  Media.MediaId = NextMediaId++;
  Media.MediaPresent = 1;
  Media.BlockSize = BlockSize;
  Media.IoAlign = 0;
  uint64_t Blocks = BlockSize == 0 ? 0 : Backend->Size() / BlockSize;
  Media.LastBlock = Blocks == 0 ? 0 : Blocks - 1;
  Interface->Revision = EFI_BLOCK_IO_PROTOCOL_REVISION3;
  Interface->Media = &Media;
  Interface->Reset = SimResetBlocks;
  Interface->ReadBlocks = SimReadBlocks;
  Interface->WriteBlocks = SimWriteBlocks;
  Interface->FlushBlocks = SimFlushBlocks;
  Registry()[Interface] = this;
}

SimBlockDevice::~SimBlockDevice() { Registry().erase(Interface); }

SimBlockDevice *SimBlockDevice::FromInterface(EFI_BLOCK_IO_PROTOCOL *This) {
  auto It = Registry().find(This);
  return It == Registry().end() ? nullptr : It->second;
}
