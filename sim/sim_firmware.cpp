#include "sim/sim_firmware.h"

#include <cstdlib>
#include <cstring>

#include "shell/platform_context.h"

void InstallHandleServices(EFI_BOOT_SERVICES &Bs);

namespace {

SimFirmware *ActiveSim = nullptr;

EFI_STATUS EFIAPI NotSimulated() {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SimAllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  SimFirmware &Sim = SimFirmware::Active();
  Sim.CountCall("AllocatePool");
  if (Buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  void *P = Sim.PoolAllocate(Size);
  if (P == nullptr)
    return EFI_OUT_OF_RESOURCES;
  *Buffer = P;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFreePool(VOID *Buffer) {
  SimFirmware &Sim = SimFirmware::Active();
  Sim.CountCall("FreePool");
  Sim.PoolFree(Buffer);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimCalculateCrc32(const VOID *Data, UINTN DataSize, UINT32 *Crc32) {
  SimFirmware::Active().CountCall("CalculateCrc32");
  // The firmware refuses an empty or missing buffer and leaves the result alone.
  if (Data == nullptr || DataSize == 0 || Crc32 == nullptr)
    return EFI_INVALID_PARAMETER;
  uint32_t Crc = 0xFFFFFFFFu;
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  for (UINTN I = 0; I < DataSize; I++) {
    Crc ^= Bytes[I];
    for (int Bit = 0; Bit < 8; Bit++)
      Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
  }
  *Crc32 = ~Crc;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  SimFirmware &Sim = SimFirmware::Active();
  Sim.CountCall("OutputString");
  if (String == nullptr)
    return EFI_INVALID_PARAMETER;
  Sim.ConsoleCalls.emplace_back(String);
  return Sim.ConsoleStatus;
}

} // namespace

void FillNotSimulated(void *First, size_t Count) {
  void **Slots = static_cast<void **>(First);
  for (size_t I = 0; I < Count; I++)
    Slots[I] = reinterpret_cast<void *>(&NotSimulated);
}

SimFirmware::SimFirmware() {
  if (ActiveSim != nullptr) {
    fprintf(stderr, "sim: only one simulated firmware at a time\n");
    abort();
  }
  ActiveSim = this;

  FillNotSimulated(&BootServices.RaiseTPL,
                   (sizeof(EFI_BOOT_SERVICES) - sizeof(EFI_TABLE_HEADER)) / sizeof(void *));
  BootServices.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  BootServices.Hdr.Revision = 0x00020046;
  BootServices.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  BootServices.AllocatePool = SimAllocatePool;
  BootServices.FreePool = SimFreePool;
  BootServices.CalculateCrc32 = SimCalculateCrc32;
  InstallHandleServices(BootServices);

  FillNotSimulated(&ConOut, sizeof(ConOut) / sizeof(void *));
  ConOut.OutputString = SimOutputString;
  ConOut.Mode = nullptr;

  SystemTable.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  SystemTable.Hdr.Revision = 0x00020046;
  SystemTable.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  SystemTable.ConOut = &ConOut;
  SystemTable.StdErr = &ConOut;
  SystemTable.BootServices = &BootServices;
  ImageHandle = Handles.CreateHandle();
}

SimFirmware::~SimFirmware() {
  for (auto &Entry : Pool)
    free(const_cast<void *>(Entry.first));
  if (PlatformContext.BootServices == &BootServices)
    PlatformContext = {nullptr, nullptr, nullptr};
  ActiveSim = nullptr;
}

SimFirmware &SimFirmware::Active() {
  if (ActiveSim == nullptr) {
    fprintf(stderr, "sim: firmware service called with no simulated firmware\n");
    abort();
  }
  return *ActiveSim;
}

void SimFirmware::InstallInPlatformContext() {
  PlatformContext.SystemTable = &SystemTable;
  PlatformContext.BootServices = &BootServices;
  PlatformContext.HobList = nullptr;
  for (const auto &Entry : ConfigTable) {
    if (GuidsEqual(&Entry.VendorGuid, &EfiHobListGuid)) {
      PlatformContext.HobList = Entry.VendorTable;
      break;
    }
  }
}

void SimFirmware::FailAllocationNumber(size_t N) {
  FailAt = N == 0 ? 0 : AllocationCount + N;
}

void *SimFirmware::PoolAllocate(size_t Size) {
  AllocationCount++;
  if (FailAt != 0 && AllocationCount == FailAt)
    return nullptr;
  // Fill fresh pool with a pattern so code that forgets to zero a buffer shows it.
  void *P = malloc(Size == 0 ? 1 : Size);
  if (P == nullptr)
    return nullptr;
  memset(P, 0xAF, Size);
  Pool[P] = Size;
  return P;
}

void SimFirmware::PoolFree(void *Buffer) {
  auto It = Pool.find(Buffer);
  if (It == Pool.end()) {
    // Freeing something the pool never handed out is a firmware-crashing bug on a board; make
    // it loud here.
    fprintf(stderr, "sim: FreePool of unknown buffer %p\n", Buffer);
    abort();
  }
  Pool.erase(It);
  free(Buffer);
}

std::string SimFirmware::ConsoleText() const {
  std::string Out;
  for (const auto &Call : ConsoleCalls)
    Out += NarrowText(Call);
  return Out;
}

void SimFirmware::AddConfigurationTable(const EFI_GUID &Guid, void *Table) {
  ConfigTable.push_back(EFI_CONFIGURATION_TABLE{Guid, Table});
  SystemTable.NumberOfTableEntries = ConfigTable.size();
  SystemTable.ConfigurationTable = ConfigTable.data();
}

size_t SimFirmware::TotalCalls() const {
  size_t Total = 0;
  for (const auto &Entry : Calls)
    Total += Entry.second;
  return Total;
}

std::string NarrowText(const std::u16string &Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (char16_t C : Text)
    Out.push_back(static_cast<char>(C & 0xFF));
  return Out;
}

std::u16string WideText(const std::string &Text) {
  std::u16string Out;
  for (unsigned char C : Text)
    Out.push_back(C);
  return Out;
}

std::vector<std::u16string> WideTexts(const std::vector<std::string> &Texts) {
  std::vector<std::u16string> Out;
  for (const auto &Text : Texts)
    Out.push_back(WideText(Text));
  return Out;
}
