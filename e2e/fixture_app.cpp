// Fixture.efi: a small shell application that stands in for the tool when the runner itself is
// tested. It prints its arguments, and on request looks at the simulated board the way the tool
// does (Block I/O handles on PCI device 0x1C, partition numbers from the eMMC driver's layout,
// the PlatformInfoHob flag), stamps a text into GPP1's block 0, shows or sets the CMOS bytes
// that hold the tool's debug word, hangs, or exits with a status:
//   --exit=N   return N          --hang     never return (the runner's time-out must end it)
//   --probe    describe GPP1     --stamp=T  write T at the start of GPP1's block 0, rest zero
//   --cmos     show CMOS bytes 0x40-0x43    --cmos=HHHHHHHH  set them (0x40 first), then show
//   --leak     open the parameters protocol on its image handle and never close it (the
//              launcher's close check must see it; a close of another protocol comes first)
#include "e2e/app_support.h"
#include "e2e/board_logic.h"
#include "platform/hardware.h"

namespace {

using namespace board;
using namespace e2e;

constexpr UINTN DevicePathLimit = 4096;
constexpr UINTN DumpBytes = 16;
constexpr UINTN BlockMax = 4096; // the runner's largest block

EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
// One block of GPP1, on any I/O alignment its media may ask for (U-Boot's disks ask for their
// block size, OVMF's for none).
alignas(BlockMax) UINT8 gBlock[BlockMax];

// The number Text starts with in Base (10 or 16); *Digits, if asked for, counts its digits.
UINT64 NumberOf(const CHAR16 *Text, UINT32 Base, UINTN *Digits = nullptr) {
  UINT64 Value = 0;
  UINTN Count = 0;
  for (; DigitValue(Text[Count]) < Base; Count++)
    Value = Value * Base + DigitValue(Text[Count]);
  if (Digits != nullptr)
    *Digits = Count;
  return Value;
}

// The PlatformInfoHob's write-protect flag, or -1 when the HOB list holds no such block.
INT32 PlatformWriteProtectFlag() {
  const auto *Hob = static_cast<const UINT8 *>(ConfigurationTable(gST, EfiHobListGuid));
  for (UINTN Walked = 0; Hob != nullptr && Walked < HobListLimit;) {
    const auto *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
    if (Header->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST ||
        Header->HobLength < sizeof(EFI_HOB_GENERIC_HEADER))
      break;
    const auto *Guided = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Hob);
    if (Header->HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        GuidsEqual(&Guided->Name, &PlatformInfoHobGuid))
      return Hob[sizeof(EFI_HOB_GUID_TYPE) + PlatformInfoGpp1WriteProtect];
    Walked += Header->HobLength;
    Hob += Header->HobLength;
  }
  return -1;
}

// The first Block I/O handle on PCI device 0x1C whose partition number is 4, if its blocks fit
// gBlock.
EFI_BLOCK_IO_PROTOCOL *FindGpp1(bool Verbose) {
  EFI_BLOCK_IO_PROTOCOL *Found = nullptr;
  ForEachHandle(gBS, EfiBlockIoProtocolGuid, [&](EFI_HANDLE Handle, VOID *Interface) {
    auto *BlockIo = static_cast<EFI_BLOCK_IO_PROTOCOL *>(Interface);
    VOID *Path = nullptr;
    UINT8 Device = 0;
    if (EFI_ERROR(gBS->HandleProtocol(Handle, &EfiDevicePathProtocolGuid, &Path)) ||
        !FirstPciDevice(static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Path), DevicePathLimit, &Device) ||
        Device != EmmcPciDevice)
      return false;
    const UINT64 Partition = PartitionNumberOf(BlockIo);
    if (Verbose)
      Say(gST, u"fixture: handle on device 0x1C, partition %ld\n", Partition);
    if (Partition == Gpp1Partition && BlockIo->Media->BlockSize <= BlockMax &&
        BlockIo->Media->IoAlign <= BlockMax)
      Found = BlockIo;
    return Found != nullptr;
  });
  return Found;
}

EFI_STATUS Probe() {
  EFI_BLOCK_IO_PROTOCOL *Gpp1 = FindGpp1(true);
  if (Gpp1 == nullptr) {
    Say(gST, u"fixture: no GPP1\n");
    return EFI_NOT_FOUND;
  }
  const EFI_BLOCK_IO_MEDIA *Media = Gpp1->Media;
  Say(gST, u"fixture: GPP1 block size %d, last block %ld, write-protect flag %d\n",
      Media->BlockSize, Media->LastBlock, PlatformWriteProtectFlag());
  const EFI_STATUS Status = Gpp1->ReadBlocks(Gpp1, Media->MediaId, 0, Media->BlockSize, gBlock);
  TextLine Dump;
  Dump.Add(u"fixture: block 0:");
  for (UINTN I = 0; I < DumpBytes && !EFI_ERROR(Status); I++)
    Dump.Add(u" 0x%X", gBlock[I]);
  Say(gST, u"%s\n", Dump.Text);
  return Status;
}

EFI_STATUS Stamp(const CHAR16 *Text) {
  EFI_BLOCK_IO_PROTOCOL *Gpp1 = FindGpp1(false);
  if (Gpp1 == nullptr)
    return EFI_NOT_FOUND;
  const UINT32 BlockSize = Gpp1->Media->BlockSize;
  __builtin_memset(gBlock, 0, BlockSize);
  for (UINTN I = 0; I < BlockSize && Text[I] != u'\0'; I++)
    gBlock[I] = static_cast<UINT8>(Text[I]);
  const EFI_STATUS Status = Gpp1->WriteBlocks(Gpp1, Gpp1->Media->MediaId, 0, BlockSize, gBlock);
  return EFI_ERROR(Status) ? Status : Gpp1->FlushBlocks(Gpp1);
}

// The real-time clock's CMOS: an index port, then the data port.
constexpr UINT16 CmosIndexPort = 0x70;
constexpr UINT16 CmosDataPort = 0x71;
constexpr UINT8 DebugCmosFirst = 0x40;
constexpr UINTN DebugCmosBytes = 4;

// Setting: null to only show the bytes, or two hexadecimal digits per byte, 0x40 first. Each
// byte is read back after its write: the index port keeps its selection.
EFI_STATUS Cmos(const CHAR16 *Setting) {
  UINTN Digits = 0;
  const UINT64 Value = Setting != nullptr ? NumberOf(Setting, 16, &Digits) : 0;
  if (Setting != nullptr && (Digits != 2 * DebugCmosBytes || Setting[Digits] != u'\0'))
    return EFI_INVALID_PARAMETER;
  UINT8 Shown[DebugCmosBytes];
  for (UINTN I = 0; I < DebugCmosBytes; I++) {
    PortOut8(CmosIndexPort, static_cast<UINT8>(DebugCmosFirst + I));
    if (Setting != nullptr)
      PortOut8(CmosDataPort, static_cast<UINT8>(Value >> 8 * (DebugCmosBytes - 1 - I)));
    Shown[I] = PortIn8(CmosDataPort);
  }
  Say(gST, u"fixture: cmos 0x40-0x43: 0x%X 0x%X 0x%X 0x%X\n", Shown[0], Shown[1], Shown[2],
      Shown[3]);
  return EFI_SUCCESS;
}

EFI_STATUS Leak(EFI_HANDLE ImageHandle) {
  VOID *Interface = nullptr;
  const EFI_STATUS Status = gBS->OpenProtocol(ImageHandle, &EfiLoadedImageProtocolGuid, &Interface,
                                              ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR(Status))
    return Status;
  gBS->CloseProtocol(ImageHandle, &EfiLoadedImageProtocolGuid, ImageHandle, nullptr);
  return gBS->OpenProtocol(ImageHandle, &EfiShellParametersProtocolGuid, &Interface, ImageHandle,
                           nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
}

} // namespace

extern "C" EFI_STATUS EFIAPI FixtureMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  VOID *Interface = nullptr;
  if (EFI_ERROR(gBS->HandleProtocol(ImageHandle, &EfiShellParametersProtocolGuid, &Interface)))
    return EFI_UNSUPPORTED;
  const auto *Parameters = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(Interface);

  Say(gST, u"fixture: argc %ld\n", Parameters->Argc);
  EFI_STATUS Result = EFI_SUCCESS;
  for (UINTN I = 1; I < Parameters->Argc; I++) {
    const CHAR16 *Argument = Parameters->Argv[I];
    Say(gST, u"argv[%ld] <%s>\n", I, Argument);
    const CHAR16 *Rest = nullptr;
    if (StartsWith(Argument, u"--exit=", &Rest))
      Result = NumberOf(Rest, 10);
    else if (StartsWith(Argument, u"--hang", &Rest))
      for (;;)
        __asm__ volatile("pause");
    else if (StartsWith(Argument, u"--probe", &Rest))
      Result = Probe();
    else if (StartsWith(Argument, u"--stamp=", &Rest))
      Result = Stamp(Rest);
    else if (StartsWith(Argument, u"--leak", &Rest))
      Result = Leak(ImageHandle);
    else if (StartsWith(Argument, u"--cmos=", &Rest))
      Result = Cmos(Rest);
    else if (StartsWith(Argument, u"--cmos", &Rest))
      Result = Cmos(nullptr);
  }
  return Result;
}
