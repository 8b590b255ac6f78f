#include "hosted/firmware.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "shell/platform_context.h"
#include "hosted/board.h"

namespace {

std::vector<uint8_t> LeBytes(std::initializer_list<uint32_t> Words) {
  std::vector<uint8_t> Bytes;
  for (uint32_t Word : Words) {
    for (int I = 0; I < 4; I++)
      Bytes.push_back(static_cast<uint8_t>(Word >> (8 * I)));
  }
  return Bytes;
}

} // namespace

EFI_HANDLE HandleDatabase::CreateHandle() {
  Handles.push_back(std::make_unique<Protocols>());
  return Handles.back().get();
}

void **HandleDatabase::Slot(EFI_HANDLE Handle, const EFI_GUID &Guid) {
  for (auto &[Installed, Interface] : *static_cast<Protocols *>(Handle)) {
    if (GuidsEqual(&Installed, &Guid))
      return &Interface;
  }
  return nullptr;
}

bool HandleDatabase::Exists(EFI_HANDLE Handle) const {
  return std::any_of(Handles.begin(), Handles.end(), [&](auto &H) { return H.get() == Handle; });
}

void HandleDatabase::Install(EFI_HANDLE Handle, const EFI_GUID &Guid, void *Interface) {
  if (void **Installed = Slot(Handle, Guid))
    *Installed = Interface;
  else
    static_cast<Protocols *>(Handle)->push_back({Guid, Interface});
}

void *HandleDatabase::Find(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  void **Installed = Exists(Handle) ? Slot(Handle, Guid) : nullptr;
  return Installed != nullptr ? *Installed : nullptr;
}

std::vector<EFI_HANDLE> HandleDatabase::HandlesWith(const EFI_GUID &Guid) const {
  std::vector<EFI_HANDLE> Out;
  for (const auto &H : Handles) {
    if (Slot(H.get(), Guid) != nullptr)
      Out.push_back(H.get());
  }
  return Out;
}

EFI_STATUS HandleDatabase::LookUp(EFI_HANDLE Handle, const EFI_GUID &Guid, void **Interface) const {
  void *Found = Find(Handle, Guid);
  if (Found == nullptr)
    return EFI_UNSUPPORTED;
  *Interface = Found;
  return EFI_SUCCESS;
}

DevicePathBuilder &DevicePathBuilder::RawNode(uint8_t Type, uint8_t SubType, uint16_t Length,
                                              const std::vector<uint8_t> &Payload) {
  Bytes.insert(Bytes.end(), {Type, SubType, uint8_t(Length), uint8_t(Length >> 8)});
  Bytes.insert(Bytes.end(), Payload.begin(), Payload.end());
  return *this;
}

DevicePathBuilder &DevicePathBuilder::Acpi(uint32_t Hid, uint32_t Uid) {
  return Node(ACPI_DEVICE_PATH, ACPI_DP, LeBytes({Hid, Uid}));
}

DevicePathBuilder &DevicePathBuilder::Controller(uint32_t Number) {
  return Node(HARDWARE_DEVICE_PATH, board::HW_CONTROLLER_DP, LeBytes({Number}));
}

// Boot services over the active firmware's handle database.
namespace {

HandleDatabase &Db() {
  return HostedFirmware::Active().Handles;
}

EFI_STATUS EFIAPI ServeHandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                      VOID **Interface) {
  HostedFirmware::Active().CountCall("HandleProtocol");
  if (Protocol == nullptr || Interface == nullptr)
    return EFI_INVALID_PARAMETER;
  return Db().LookUp(Handle, *Protocol, Interface);
}

// The handles that carry Protocol, in creation order, for the three searches.
EFI_STATUS Search(const EFI_GUID *Protocol, std::vector<EFI_HANDLE> *Found) {
  if (Protocol == nullptr)
    return EFI_INVALID_PARAMETER;
  *Found = Db().HandlesWith(*Protocol);
  return Found->empty() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS EFIAPI ServeLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType,
                                          const EFI_GUID *Protocol, VOID *, UINTN *NoHandles,
                                          EFI_HANDLE **Buffer) {
  HostedFirmware &Firmware = HostedFirmware::Active();
  Firmware.CountCall("LocateHandleBuffer");
  if (NoHandles == nullptr || Buffer == nullptr || SearchType != ByProtocol || Protocol == nullptr)
    return EFI_INVALID_PARAMETER;
  std::vector<EFI_HANDLE> Found;
  if (EFI_STATUS Status = Search(Protocol, &Found); EFI_ERROR(Status))
    return Status;
  // The firmware takes the array from pool; the caller releases it with FreePool.
  auto *Array = static_cast<EFI_HANDLE *>(Firmware.PoolAllocate(Found.size() * sizeof(EFI_HANDLE)));
  if (Array == nullptr)
    return EFI_OUT_OF_RESOURCES;
  std::copy(Found.begin(), Found.end(), Array);
  *NoHandles = Found.size();
  *Buffer = Array;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ServeLocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol,
                                    VOID *, UINTN *BufferSize, EFI_HANDLE *Buffer) {
  HostedFirmware::Active().CountCall("LocateHandle");
  if (BufferSize == nullptr || SearchType != ByProtocol)
    return EFI_INVALID_PARAMETER;
  std::vector<EFI_HANDLE> Found;
  if (EFI_STATUS Status = Search(Protocol, &Found); EFI_ERROR(Status))
    return Status;
  UINTN Needed = Found.size() * sizeof(EFI_HANDLE);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (Buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  std::copy(Found.begin(), Found.end(), Buffer);
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ServeOpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                    EFI_HANDLE AgentHandle, EFI_HANDLE, UINT32 Attributes) {
  HostedFirmware::Active().CountCall("OpenProtocol");
  // Interface may be null only for a test of the protocol's presence (attribute 0x4).
  if (Protocol == nullptr || (Interface == nullptr && Attributes != 0x4) || !Db().Exists(Handle))
    return EFI_INVALID_PARAMETER;
  EFI_STATUS Status = Db().LookUp(Handle, *Protocol, Interface);
  if (EFI_ERROR(Status))
    return Status;
  Db().Opens.push_back({Handle, *Protocol, AgentHandle});
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ServeCloseProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                     EFI_HANDLE AgentHandle, EFI_HANDLE) {
  HostedFirmware::Active().CountCall("CloseProtocol");
  if (Protocol == nullptr)
    return EFI_INVALID_PARAMETER;
  auto &Opens = Db().Opens;
  for (auto It = Opens.begin(); It != Opens.end(); ++It) {
    if (It->Handle == Handle && It->Agent == AgentHandle && GuidsEqual(&It->Guid, Protocol)) {
      Opens.erase(It);
      return EFI_SUCCESS;
    }
  }
  Db().UnmatchedCloses++;
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI ServeLocateProtocol(const EFI_GUID *Protocol, VOID *, VOID **Interface) {
  HostedFirmware::Active().CountCall("LocateProtocol");
  if (Interface == nullptr)
    return EFI_INVALID_PARAMETER;
  std::vector<EFI_HANDLE> Found;
  EFI_STATUS Status = Search(Protocol, &Found);
  if (!EFI_ERROR(Status))
    *Interface = Db().Find(Found.front(), *Protocol);
  return Status;
}

HostedFirmware *ActiveFirmware = nullptr;

EFI_STATUS EFIAPI Unsupported() {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ServeAllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  HostedFirmware &Firmware = HostedFirmware::Active();
  Firmware.CountCall("AllocatePool");
  if (Buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  void *P = Firmware.PoolAllocate(Size);
  if (P == nullptr)
    return EFI_OUT_OF_RESOURCES;
  *Buffer = P;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ServeFreePool(VOID *Buffer) {
  HostedFirmware &Firmware = HostedFirmware::Active();
  Firmware.CountCall("FreePool");
  Firmware.PoolFree(Buffer);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ServeCalculateCrc32(const VOID *Data, UINTN DataSize, UINT32 *Crc32) {
  HostedFirmware::Active().CountCall("CalculateCrc32");
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

// OutputString of ConOut or StdErr: the text passed to Sink.
using ConsoleSinkSlot = std::function<void(const std::u16string &)> HostedFirmware::*;
EFI_STATUS PassOutput(ConsoleSinkSlot Sink, const CHAR16 *String) {
  HostedFirmware &Firmware = HostedFirmware::Active();
  Firmware.CountCall("OutputString");
  if (String == nullptr)
    return EFI_INVALID_PARAMETER;
  if (Firmware.*Sink)
    (Firmware.*Sink)(String);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ServeOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  return PassOutput(&HostedFirmware::ConsoleSink, String);
}

EFI_STATUS EFIAPI ServeErrorString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  return PassOutput(&HostedFirmware::ErrorSink, String);
}

} // namespace

void FillUnsupported(void *First, size_t Count) {
  void **Slots = static_cast<void **>(First);
  for (size_t I = 0; I < Count; I++)
    Slots[I] = reinterpret_cast<void *>(&Unsupported);
}

namespace {

EFI_STATUS EFIAPI ServeStall(UINTN Microseconds) {
  HostedFirmware::Active().CountCall("Stall");
  HostedFirmware::Active().Microseconds += Microseconds;
  return EFI_SUCCESS;
}

// A hosted console has no keyboard of its own.
EFI_STATUS EFIAPI ServeReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *) {
  return EFI_NOT_READY;
}

// There is no machine to reset: the run's end is the front end's to act on.
VOID EFIAPI ServeResetSystem(EFI_RESET_TYPE, EFI_STATUS, UINTN, VOID *) {}

} // namespace

HostedFirmware::HostedFirmware() {
  if (ActiveFirmware != nullptr) {
    fprintf(stderr, "hosted: only one firmware at a time\n");
    abort();
  }
  ActiveFirmware = this;

  FillUnsupported(&BootServices.RaiseTPL,
                  (sizeof(EFI_BOOT_SERVICES) - sizeof(EFI_TABLE_HEADER)) / sizeof(void *));
  BootServices.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  BootServices.Hdr.Revision = 0x00020046;
  BootServices.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  BootServices.AllocatePool = ServeAllocatePool;
  BootServices.FreePool = ServeFreePool;
  BootServices.CalculateCrc32 = ServeCalculateCrc32;
  BootServices.HandleProtocol = ServeHandleProtocol;
  BootServices.LocateHandleBuffer = ServeLocateHandleBuffer;
  BootServices.LocateHandle = ServeLocateHandle;
  BootServices.OpenProtocol = ServeOpenProtocol;
  BootServices.CloseProtocol = ServeCloseProtocol;
  BootServices.LocateProtocol = ServeLocateProtocol;
  BootServices.Stall = ServeStall;

  FillUnsupported(&RuntimeServices.GetTime,
                  (sizeof(EFI_RUNTIME_SERVICES) - sizeof(EFI_TABLE_HEADER)) / sizeof(void *));
  RuntimeServices.ResetSystem = ServeResetSystem;
  FillUnsupported(&ConIn, sizeof(ConIn) / sizeof(void *));
  ConIn.ReadKeyStroke = ServeReadKeyStroke;

  FillUnsupported(&ConOut, sizeof(ConOut) / sizeof(void *));
  ConOut.OutputString = ServeOutputString;
  ConOut.Mode = nullptr;
  FillUnsupported(&StdErr, sizeof(StdErr) / sizeof(void *));
  StdErr.OutputString = ServeErrorString;
  StdErr.Mode = nullptr;

  SystemTable.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  SystemTable.Hdr.Revision = 0x00020046;
  SystemTable.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  SystemTable.ConOut = &ConOut;
  SystemTable.StdErr = &StdErr;
  SystemTable.ConIn = &ConIn;
  SystemTable.RuntimeServices = &RuntimeServices;
  SystemTable.BootServices = &BootServices;
  ImageHandle = Handles.CreateHandle();
}

HostedFirmware::~HostedFirmware() {
  for (auto &Entry : Pool)
    free(const_cast<void *>(Entry.first));
  if (PlatformContext.BootServices == &BootServices)
    PlatformContext = {nullptr, nullptr, nullptr};
  ActiveFirmware = nullptr;
}

HostedFirmware &HostedFirmware::Active() {
  if (ActiveFirmware == nullptr) {
    fprintf(stderr, "hosted: firmware service called with no firmware\n");
    abort();
  }
  return *ActiveFirmware;
}

void HostedFirmware::InstallInPlatformContext() {
  auto Hobs = std::find_if(ConfigTable.begin(), ConfigTable.end(), [](auto &Entry) {
    return GuidsEqual(&Entry.VendorGuid, &EfiHobListGuid);
  });
  PlatformContext = {&SystemTable, &BootServices,
                     Hobs != ConfigTable.end() ? Hobs->VendorTable : nullptr};
}

void *HostedFirmware::PoolAllocate(size_t Size) {
  void *P = malloc(Size == 0 ? 1 : Size);
  if (P == nullptr)
    return nullptr;
  memset(P, 0xAF, Size);
  Pool[P] = Size;
  return P;
}

void HostedFirmware::PoolFree(void *Buffer) {
  auto It = Pool.find(Buffer);
  if (It == Pool.end()) {
    // Freeing something the pool never handed out is a firmware-crashing bug on a board; make
    // it loud here.
    fprintf(stderr, "hosted: FreePool of unknown buffer %p\n", Buffer);
    abort();
  }
  Pool.erase(It);
  free(Buffer);
}

void HostedFirmware::AddConfigurationTable(const EFI_GUID &Guid, void *Table) {
  ConfigTable.push_back(EFI_CONFIGURATION_TABLE{Guid, Table});
  SystemTable.NumberOfTableEntries = ConfigTable.size();
  SystemTable.ConfigurationTable = ConfigTable.data();
}

std::string NarrowText(const std::u16string &Text) {
  std::string Out;
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
