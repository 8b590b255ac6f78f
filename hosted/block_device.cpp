#include "hosted/block_device.h"

#include <cstring>
#include <map>

#include "hosted/firmware.h"

namespace {

std::map<EFI_BLOCK_IO_PROTOCOL *, HostedBlockDevice *> &Registry() {
  static std::map<EFI_BLOCK_IO_PROTOCOL *, HostedBlockDevice *> Devices;
  return Devices;
}

EFI_STATUS EFIAPI ServeReadBlocks(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId, EFI_LBA Lba,
                                  UINTN BufferSize, VOID *Buffer) {
  HostedFirmware::Active().CountCall("ReadBlocks");
  return Registry().at(This)->Read(MediaId, Lba, BufferSize, Buffer);
}

EFI_STATUS EFIAPI ServeWriteBlocks(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId, EFI_LBA Lba,
                                   UINTN BufferSize, VOID *Buffer) {
  HostedFirmware::Active().CountCall("WriteBlocks");
  return Registry().at(This)->Write(MediaId, Lba, BufferSize, Buffer);
}

EFI_STATUS EFIAPI ServeFlushBlocks(EFI_BLOCK_IO_PROTOCOL *This) {
  HostedFirmware::Active().CountCall("FlushBlocks");
  return Registry().at(This)->Flush();
}

bool Inside(const std::vector<uint8_t> &Bytes, uint64_t Offset, size_t Length) {
  return Offset <= Bytes.size() && Length <= Bytes.size() - Offset;
}

} // namespace

bool MemoryBackend::Read(uint64_t Offset, void *Buffer, size_t Length) {
  if (!Inside(Bytes, Offset, Length))
    return false;
  memcpy(Buffer, Bytes.data() + Offset, Length);
  return true;
}

bool MemoryBackend::Write(uint64_t Offset, const void *Buffer, size_t Length) {
  if (!Inside(Bytes, Offset, Length))
    return false;
  memcpy(Bytes.data() + Offset, Buffer, Length);
  return true;
}

HostedBlockDevice::HostedBlockDevice(BlockBackend *Backend, uint32_t BlockSize,
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
  FillUnsupported(&Interface->Reset, 1);
  Interface->ReadBlocks = ServeReadBlocks;
  Interface->WriteBlocks = ServeWriteBlocks;
  Interface->FlushBlocks = ServeFlushBlocks;
  Registry()[Interface] = this;
}

HostedBlockDevice::~HostedBlockDevice() {
  Registry().erase(Interface);
}

EFI_STATUS HostedBlockDevice::Check(UINT32 MediaId, EFI_LBA Lba, UINTN Size, const VOID *Buffer,
                                    bool Writing) const {
  if (Buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  if (Media.IoAlign > 1 && reinterpret_cast<uintptr_t>(Buffer) % Media.IoAlign != 0)
    return EFI_INVALID_PARAMETER;
  if (!Media.MediaPresent)
    return EFI_NO_MEDIA;
  if (MediaId != Media.MediaId)
    return EFI_MEDIA_CHANGED;
  if (Media.BlockSize == 0 || Size % Media.BlockSize != 0)
    return EFI_BAD_BUFFER_SIZE;
  if (Lba > Media.LastBlock || Size / Media.BlockSize > Media.LastBlock + 1 - Lba)
    return EFI_INVALID_PARAMETER;
  return Writing && Media.ReadOnly ? EFI_WRITE_PROTECTED : EFI_SUCCESS;
}

EFI_STATUS HostedBlockDevice::Read(UINT32 MediaId, EFI_LBA Lba, UINTN Size, VOID *Buffer) {
  if (EFI_STATUS Status = Check(MediaId, Lba, Size, Buffer, false); EFI_ERROR(Status))
    return Status;
  return Backend->Read(OffsetOf(Lba), Buffer, Size) ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

EFI_STATUS HostedBlockDevice::Write(UINT32 MediaId, EFI_LBA Lba, UINTN Size, const VOID *Buffer) {
  if (EFI_STATUS Status = Check(MediaId, Lba, Size, Buffer, true); EFI_ERROR(Status))
    return Status;
  return Backend->Write(OffsetOf(Lba), Buffer, Size) ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}
