// SimBoard.efi: a UEFI boot-service driver that turns a QEMU/OVMF machine into a simulated Tarn
// board for the end-to-end runs. Started with the shell's `load`, it
//   - publishes the eight partitions of an eMMC card on PCI device 0x1C as Block I/O handles,
//     laid out in 136-byte per-partition records as the platform's eMMC driver keeps them;
//     GPP1 (partition 4) forwards to a raw disk that QEMU attaches (found by its size, whatever
//     kind of device path the firmware gives it), and takes that disk's block size, the others
//     are small blocks of pool memory;
//   - republishes the firmware's HOB list (or, where the firmware has none, a list of its own)
//     with a PlatformInfoHob holding the GPP1 write-protect flag.
// Its settings come from SimBoard.cfg at the root of the volume it was loaded from. Loaded by the
// boot manager (a Driver#### entry) before the disks are connected, it connects them itself. It
// only publishes software interfaces: the real PCI slot 0x1C is never touched.
#include "e2e/app_support.h"
#include "e2e/board_logic.h"

namespace {

using namespace board;
using namespace e2e;

constexpr UINTN SettingsFileMax = 4096;
constexpr UINTN MemoryPartitionBlocks = 16;

EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EmmcCard Card;
CHAR8 SettingsText[SettingsFileMax + 1];

void Fail(const CHAR16 *What, EFI_STATUS Status) {
  Say(gST, u"SimBoard: ERROR: %s (%r)\n", What, Status);
}

// --- Block I/O of the partitions ----------------------------------------------------------

EmmcPartitionRecord *RecordOf(EFI_BLOCK_IO_PROTOCOL *This) {
  return reinterpret_cast<EmmcPartitionRecord *>(reinterpret_cast<UINT8 *>(This) -
                                                 offsetof(EmmcPartitionRecord, BlockIo));
}

EFI_STATUS EFIAPI PartitionReset(EFI_BLOCK_IO_PROTOCOL *, BOOLEAN) {
  return EFI_SUCCESS;
}

// GPP1 forwards to its disk; the others copy to or from their pool memory. Only the write
// reaches the disk: a flush is the caller's to ask for, so that a disk whose flush fails shows
// that failure where the caller flushes.
template <bool Write>
EFI_STATUS EFIAPI PartitionTransfer(EFI_BLOCK_IO_PROTOCOL *This, UINT32 MediaId, EFI_LBA Lba,
                                    UINTN Size, VOID *Buffer) {
  const EFI_BLOCK_IO_MEDIA *Media = This->Media;
  if (MediaId != Media->MediaId)
    return EFI_MEDIA_CHANGED;
  if (Buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  if (Size % Media->BlockSize != 0)
    return EFI_BAD_BUFFER_SIZE;
  if (Lba > Media->LastBlock || Size / Media->BlockSize > Media->LastBlock - Lba + 1)
    return EFI_INVALID_PARAMETER;
  if (Size == 0)
    return EFI_SUCCESS;
  EmmcPartitionRecord *Record = RecordOf(This);
  if (EFI_BLOCK_IO_PROTOCOL *Disk = Record->Backing)
    return (Write ? Disk->WriteBlocks : Disk->ReadBlocks)(Disk, Disk->Media->MediaId, Lba, Size,
                                                          Buffer);
  UINT8 *Blocks = Record->Storage + Lba * Media->BlockSize;
  __builtin_memcpy(Write ? Blocks : Buffer, Write ? Buffer : Blocks, Size);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI PartitionFlush(EFI_BLOCK_IO_PROTOCOL *This) {
  EFI_BLOCK_IO_PROTOCOL *Disk = RecordOf(This)->Backing;
  return Disk != nullptr ? Disk->FlushBlocks(Disk) : EFI_SUCCESS;
}

// --- Settings -----------------------------------------------------------------------------

// The settings the runner leaves in SimBoard.cfg on the volume the driver was loaded from
// (OwnVolume), which is never GPP1's disk.
bool LoadSettings(EFI_HANDLE ImageHandle, EFI_HANDLE *OwnVolume, BoardSettings *Settings) {
  EFI_FILE_PROTOCOL *Root = nullptr;
  UINTN Length = 0;
  EFI_STATUS Status = OpenImageVolume(gBS, ImageHandle, OwnVolume, &Root);
  if (!EFI_ERROR(Status)) {
    Status = ReadWholeFile(Root, u"\\SimBoard.cfg", SettingsText, SettingsFileMax, &Length);
    Root->Close(Root);
  }
  if (EFI_ERROR(Status)) {
    Fail(u"cannot read SimBoard.cfg", Status);
    return false;
  }
  *Settings = DefaultBoardSettings;
  UINTN ErrorLine = 0;
  if (!ParseBoardSettings(SettingsText, Length, Settings, &ErrorLine)) {
    Say(gST, u"SimBoard: ERROR: SimBoard.cfg line %ld is not a known \"key = value\" setting\n",
        ErrorLine);
    return false;
  }
  return true;
}

// --- The disk behind GPP1 -----------------------------------------------------------------

// The one whole-disk Block I/O of the size the settings give, other than the volume the driver
// was loaded from; null when none or more than one matches (Matches says how many). A partition
// the firmware may have found inside the image is passed over.
EFI_BLOCK_IO_PROTOCOL *FindBackingDisk(const BoardSettings &Settings, EFI_HANDLE OwnVolume,
                                       UINTN *Matches) {
  *Matches = 0;
  EFI_BLOCK_IO_PROTOCOL *Found = nullptr;
  ForEachHandle(gBS, EfiBlockIoProtocolGuid, [&](EFI_HANDLE Handle, VOID *Interface) {
    auto *Disk = static_cast<EFI_BLOCK_IO_PROTOCOL *>(Interface);
    const EFI_BLOCK_IO_MEDIA *Media = Disk->Media;
    if (Handle != OwnVolume && Media != nullptr && !Media->LogicalPartition &&
        Media->MediaPresent && Media->BlockSize == Settings.Gpp1BlockSize &&
        Media->LastBlock + 1 == Settings.Gpp1Blocks) {
      Found = Disk;
      ++*Matches;
    }
    return false;
  });
  return *Matches == 1 ? Found : nullptr;
}

typedef EFI_STATUS(EFIAPI *ConnectControllerFn)(EFI_HANDLE Controller, EFI_HANDLE *Drivers,
                                                EFI_DEVICE_PATH_PROTOCOL *Remaining,
                                                BOOLEAN Recursive);
static_assert(offsetof(EFI_BOOT_SERVICES, ConnectController) == 264, "ConnectController slot");

VOID ConnectEverything() {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &Handles)))
    return;
  auto Connect = reinterpret_cast<ConnectControllerFn>(gBS->ConnectController);
  for (UINTN I = 0; I < Count; I++)
    Connect(Handles[I], nullptr, nullptr, 1);
  gBS->FreePool(Handles);
}

// --- Building the board -------------------------------------------------------------------

// The partitions other than GPP1 keep their blocks in one pool block, a share of
// MemoryPartitionBlocks blocks each (GPP1's unused); *Pool is what to free if the board cannot
// be completed.
bool PrepareCard(EFI_BLOCK_IO_PROTOCOL *Disk, VOID **Pool) {
  const EFI_BLOCK_IO_MEDIA &DiskMedia = *Disk->Media;
  const UINTN PartitionBytes = static_cast<UINTN>(DiskMedia.BlockSize) * MemoryPartitionBlocks;
  const UINTN Bytes = PartitionBytes * EmmcPartitionCount;
  const EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, Bytes, Pool);
  if (EFI_ERROR(Status)) {
    Fail(u"no pool for the partitions", Status);
    return false;
  }
  __builtin_memset(*Pool, 0, Bytes);
  InitEmmcCard(&Card);
  for (UINT32 I = 0; I < EmmcPartitionCount; I++) {
    EmmcPartitionRecord &Record = Card.Partitions[I];
    const bool Gpp1 = I == Gpp1Partition;
    Card.Media[I] = {.MediaPresent = 1,
                     .BlockSize = DiskMedia.BlockSize,
                     .IoAlign = Gpp1 ? DiskMedia.IoAlign : 0,
                     .LastBlock = Gpp1 ? DiskMedia.LastBlock : MemoryPartitionBlocks - 1,
                     .LogicalBlocksPerPhysicalBlock = 1};
    if (Gpp1)
      Record.Backing = Disk;
    else
      Record.Storage = static_cast<UINT8 *>(*Pool) + I * PartitionBytes;
    Record.BlockIo = {.Revision = EFI_BLOCK_IO_PROTOCOL_REVISION3,
                      .Media = &Card.Media[I],
                      .Reset = PartitionReset,
                      .ReadBlocks = PartitionTransfer<false>,
                      .WriteBlocks = PartitionTransfer<true>,
                      .FlushBlocks = PartitionFlush};
  }
  return true;
}

bool InstallPartitions() {
  for (EmmcPartitionRecord &Record : Card.Partitions) {
    EFI_STATUS Status = gBS->InstallProtocolInterface(&Record.Handle, &EfiDevicePathProtocolGuid,
                                                      EFI_NATIVE_INTERFACE, Record.DevicePath);
    if (!EFI_ERROR(Status))
      Status = gBS->InstallProtocolInterface(&Record.Handle, &EfiBlockIoProtocolGuid,
                                             EFI_NATIVE_INTERFACE, &Record.BlockIo);
    if (EFI_ERROR(Status)) {
      Fail(u"cannot install a partition's protocols", Status);
      return false;
    }
  }
  return true;
}

// Builds the board's HOB list; published only once everything else is in place.
VOID *PrepareHobList(UINT8 WriteProtect) {
  const VOID *Firmware = ConfigurationTable(gST, EfiHobListGuid);
  UINTN Length = 0;
  if (Firmware == nullptr || !MeasureHobList(Firmware, HobListLimit, &Length)) {
    Say(gST, u"SimBoard: no firmware HOB list with an end block; publishing the board's own\n");
    Firmware = nullptr;
  }
  VOID *List = nullptr;
  const EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, BoardHobListSize(Length), &List);
  if (EFI_ERROR(Status)) {
    Fail(u"no pool for the HOB list", Status);
    return nullptr;
  }
  BuildBoardHobList(Firmware, Length, WriteProtect, List);
  return List;
}

} // namespace

extern "C" EFI_STATUS EFIAPI BoardDriverEntry(EFI_HANDLE ImageHandle,
                                              EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;

  BoardSettings Settings;
  EFI_HANDLE OwnVolume = nullptr;
  if (!LoadSettings(ImageHandle, &OwnVolume, &Settings))
    return EFI_LOAD_ERROR;
  UINTN Matches = 0;
  EFI_BLOCK_IO_PROTOCOL *Disk = FindBackingDisk(Settings, OwnVolume, &Matches);
  // Loaded by the boot manager from a Driver#### entry, before the firmware has connected its
  // disks: every controller is connected, and the disk looked for once more.
  if (Disk == nullptr) {
    ConnectEverything();
    Disk = FindBackingDisk(Settings, OwnVolume, &Matches);
  }
  if (Disk == nullptr) {
    Say(gST,
        u"SimBoard: ERROR: %ld whole disks of %ld blocks of %d bytes for GPP1; there must be "
        u"exactly one\n",
        Matches, Settings.Gpp1Blocks, Settings.Gpp1BlockSize);
    return EFI_NOT_FOUND;
  }
  VOID *Pool = nullptr;
  if (!PrepareCard(Disk, &Pool))
    return EFI_OUT_OF_RESOURCES;
  VOID *HobList = PrepareHobList(Settings.WriteProtect);
  if (HobList == nullptr) {
    gBS->FreePool(Pool);
    return EFI_OUT_OF_RESOURCES;
  }
  // From here on the image must stay resident, since installed interfaces point into it; a
  // failure is reported on the console, where the runner looks for it.
  if (!InstallPartitions())
    return EFI_SUCCESS;
  const EFI_STATUS Status = gBS->InstallConfigurationTable(&EfiHobListGuid, HobList);
  if (EFI_ERROR(Status)) {
    Fail(u"cannot publish the HOB list", Status);
    return EFI_SUCCESS;
  }
  Say(gST,
      u"SimBoard: eMMC on PCI device 0x1C, partitions 0-7; GPP1 = the disk of %ld blocks of %d "
      u"bytes, I/O alignment %d; GPP1 write-protect flag %d\n",
      Disk->Media->LastBlock + 1, Disk->Media->BlockSize, Disk->Media->IoAlign,
      Settings.WriteProtect);
  return EFI_SUCCESS;
}
