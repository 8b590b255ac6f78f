#include "sim/sim_block.h"

#include <cstring>
#include <map>

#include "sim/sim_firmware.h"

namespace {

std::map<EFI_BLOCK_IO_PROTOCOL *, SimBlockDevice *> &Registry() {
  static std::map<EFI_BLOCK_IO_PROTOCOL *, SimBlockDevice *> Devices;
  return Devices;
}

// ReadBlocks and WriteBlocks: the injected fault first, then the request checked the way a
// firmware block driver checks it before touching the medium, then the medium.
template <bool Write>
EFI_STATUS EFIAPI Transfer(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId, EFI_LBA Lba,
                           UINTN BufferSize, VOID *Buffer) {
  SimFirmware::Active().CountCall(Write ? "WriteBlocks" : "ReadBlocks");
  SimBlockDevice *Dev = Registry().at(This);
  const EFI_BLOCK_IO_MEDIA &Media = Dev->Media;
  (Write ? Dev->WriteCalls : Dev->ReadCalls)++;
  if (EFI_STATUS Fault = Write ? Dev->Faults.WriteStatus : Dev->Faults.ReadStatus; EFI_ERROR(Fault))
    return Fault;
  if (Buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  if (Media.IoAlign > 1 && reinterpret_cast<uintptr_t>(Buffer) % Media.IoAlign != 0)
    return EFI_INVALID_PARAMETER;
  if (!Media.MediaPresent)
    return EFI_NO_MEDIA;
  if (MediaId != Media.MediaId)
    return EFI_MEDIA_CHANGED;
  if (Media.BlockSize == 0 || BufferSize % Media.BlockSize != 0)
    return EFI_BAD_BUFFER_SIZE;
  if (Lba > Media.LastBlock || BufferSize / Media.BlockSize > Media.LastBlock + 1 - Lba)
    return EFI_INVALID_PARAMETER;
  const uint64_t Offset = Lba * Media.BlockSize;
  if (!Write) {
    if (!Dev->Backend->Read(Offset, Buffer, BufferSize))
      return EFI_DEVICE_ERROR;
    int Bit = Dev->Faults.FlipBitOnRead;
    if (Bit >= 0 && static_cast<size_t>(Bit) < BufferSize * 8)
      static_cast<uint8_t *>(Buffer)[Bit / 8] ^= static_cast<uint8_t>(1u << (Bit % 8));
    return EFI_SUCCESS;
  }
  if (Media.ReadOnly)
    return EFI_WRITE_PROTECTED;
  Dev->WrittenLbas.push_back(Lba);
  if (Dev->Faults.DropWrites)
    return EFI_SUCCESS;
  size_t Length = BufferSize;
  if (Dev->Faults.PartialWriteBytes != 0 && Dev->Faults.PartialWriteBytes < Length)
    Length = Dev->Faults.PartialWriteBytes;
  return Dev->Backend->Write(Offset, Buffer, Length) ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

EFI_STATUS EFIAPI SimFlushBlocks(EFI_BLOCK_IO_PROTOCOL *This) {
  SimFirmware::Active().CountCall("FlushBlocks");
  SimBlockDevice *Dev = Registry().at(This);
  Dev->FlushCalls++;
  return Dev->Faults.FlushStatus;
}

} // namespace

bool SimMemoryBackend::Read(uint64_t Offset, void *Buffer, size_t Length) {
  bool Inside = Offset <= Bytes.size() && Length <= Bytes.size() - Offset;
  if (Inside)
    memcpy(Buffer, Bytes.data() + Offset, Length);
  return Inside;
}

bool SimMemoryBackend::Write(uint64_t Offset, const void *Buffer, size_t Length) {
  bool Inside = Offset <= Bytes.size() && Length <= Bytes.size() - Offset;
  if (Inside)
    memcpy(Bytes.data() + Offset, Buffer, Length);
  return Inside;
}

SimBlockDevice::SimBlockDevice(SimBlockBackend *Backend, uint32_t BlockSize,
                               EFI_BLOCK_IO_PROTOCOL *Placed)
    : Interface(Placed != nullptr ? Placed : &OwnInterface), Backend(Backend) {
  static uint32_t NextMediaId = 0x4B10;
  Media.MediaId = NextMediaId++;
  Media.MediaPresent = 1;
  Media.BlockSize = BlockSize;
  uint64_t Blocks = BlockSize == 0 ? 0 : Backend->Size() / BlockSize;
  Media.LastBlock = Blocks == 0 ? 0 : Blocks - 1;
  Interface->Revision = EFI_BLOCK_IO_PROTOCOL_REVISION3;
  Interface->Media = &Media;
  FillNotSimulated(&Interface->Reset, 1);
  Interface->ReadBlocks = Transfer<false>;
  Interface->WriteBlocks = Transfer<true>;
  Interface->FlushBlocks = SimFlushBlocks;
  Registry()[Interface] = this;
}

SimBlockDevice::~SimBlockDevice() {
  Registry().erase(Interface);
}
