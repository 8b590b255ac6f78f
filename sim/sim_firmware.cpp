#include "sim/sim_firmware.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "shell/platform_context.h"
#include "sim/sim_board.h"

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

EFI_HANDLE SimHandleDatabase::CreateHandle() {
  Handles.push_back(std::make_unique<Protocols>());
  return Handles.back().get();
}

void **SimHandleDatabase::Slot(EFI_HANDLE Handle, const EFI_GUID &Guid) {
  for (auto &[Installed, Interface] : *static_cast<Protocols *>(Handle)) {
    if (GuidsEqual(&Installed, &Guid))
      return &Interface;
  }
  return nullptr;
}

bool SimHandleDatabase::Exists(EFI_HANDLE Handle) const {
  return std::any_of(Handles.begin(), Handles.end(), [&](auto &H) { return H.get() == Handle; });
}

void SimHandleDatabase::Install(EFI_HANDLE Handle, const EFI_GUID &Guid, void *Interface) {
  if (void **Installed = Slot(Handle, Guid))
    *Installed = Interface;
  else
    static_cast<Protocols *>(Handle)->push_back({Guid, Interface});
}

void *SimHandleDatabase::Find(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  void **Installed = Exists(Handle) ? Slot(Handle, Guid) : nullptr;
  return Installed != nullptr ? *Installed : nullptr;
}

std::vector<EFI_HANDLE> SimHandleDatabase::HandlesWith(const EFI_GUID &Guid) const {
  std::vector<EFI_HANDLE> Out;
  for (const auto &H : Handles) {
    if (Slot(H.get(), Guid) != nullptr)
      Out.push_back(H.get());
  }
  return Out;
}

EFI_STATUS SimHandleDatabase::LookUp(EFI_HANDLE Handle, const EFI_GUID &Guid,
                                     void **Interface) const {
  for (const auto &F : Faults) {
    if ((F.Handle == nullptr || F.Handle == Handle) && GuidsEqual(&F.Guid, &Guid))
      return F.Status;
  }
  void *Found = Find(Handle, Guid);
  if (Found == nullptr)
    return EFI_UNSUPPORTED;
  *Interface = Found;
  return EFI_SUCCESS;
}

SimDevicePath &SimDevicePath::RawNode(uint8_t Type, uint8_t SubType, uint16_t Length,
                                      const std::vector<uint8_t> &Payload) {
  Bytes.insert(Bytes.end(), {Type, SubType, uint8_t(Length), uint8_t(Length >> 8)});
  Bytes.insert(Bytes.end(), Payload.begin(), Payload.end());
  return *this;
}

SimDevicePath &SimDevicePath::Acpi(uint32_t Hid, uint32_t Uid) {
  return Node(ACPI_DEVICE_PATH, ACPI_DP, LeBytes({Hid, Uid}));
}

SimDevicePath &SimDevicePath::Controller(uint32_t Number) {
  return Node(HARDWARE_DEVICE_PATH, board::HW_CONTROLLER_DP, LeBytes({Number}));
}

// ---- Boot services over the active firmware's handle database ----------------------------
namespace {

SimHandleDatabase &Db() {
  return SimFirmware::Active().Handles;
}

EFI_STATUS EFIAPI SimHandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface) {
  SimFirmware::Active().CountCall("HandleProtocol");
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

EFI_STATUS EFIAPI SimLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol,
                                        VOID *, UINTN *NoHandles, EFI_HANDLE **Buffer) {
  SimFirmware &Sim = SimFirmware::Active();
  Sim.CountCall("LocateHandleBuffer");
  if (NoHandles == nullptr || Buffer == nullptr || SearchType != ByProtocol || Protocol == nullptr)
    return EFI_INVALID_PARAMETER;
  if (EFI_ERROR(Db().LocateHandleBufferStatus))
    return Db().LocateHandleBufferStatus;
  std::vector<EFI_HANDLE> Found;
  if (EFI_STATUS Status = Search(Protocol, &Found); EFI_ERROR(Status))
    return Status;
  // The firmware takes the array from pool; the caller releases it with FreePool.
  auto *Array = static_cast<EFI_HANDLE *>(Sim.PoolAllocate(Found.size() * sizeof(EFI_HANDLE)));
  if (Array == nullptr)
    return EFI_OUT_OF_RESOURCES;
  std::copy(Found.begin(), Found.end(), Array);
  *NoHandles = Found.size();
  *Buffer = Array;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimLocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol,
                                  VOID *, UINTN *BufferSize, EFI_HANDLE *Buffer) {
  SimFirmware::Active().CountCall("LocateHandle");
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

EFI_STATUS EFIAPI SimOpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                  EFI_HANDLE AgentHandle, EFI_HANDLE, UINT32 Attributes) {
  SimFirmware::Active().CountCall("OpenProtocol");
  // Interface may be null only for a test of the protocol's presence (attribute 0x4).
  if (Protocol == nullptr || (Interface == nullptr && Attributes != 0x4) || !Db().Exists(Handle))
    return EFI_INVALID_PARAMETER;
  EFI_STATUS Status = Db().LookUp(Handle, *Protocol, Interface);
  if (EFI_ERROR(Status))
    return Status;
  Db().Opens.push_back({Handle, *Protocol, AgentHandle});
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimCloseProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                   EFI_HANDLE AgentHandle, EFI_HANDLE) {
  SimFirmware::Active().CountCall("CloseProtocol");
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

EFI_STATUS EFIAPI SimLocateProtocol(const EFI_GUID *Protocol, VOID *, VOID **Interface) {
  SimFirmware::Active().CountCall("LocateProtocol");
  if (Interface == nullptr)
    return EFI_INVALID_PARAMETER;
  std::vector<EFI_HANDLE> Found;
  EFI_STATUS Status = Search(Protocol, &Found);
  if (!EFI_ERROR(Status))
    *Interface = Db().Find(Found.front(), *Protocol);
  return Status;
}

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

// OutputString of ConOut or StdErr: the text kept in Calls, in order.
EFI_STATUS KeepOutput(std::vector<std::u16string> SimFirmware::*Calls, const CHAR16 *String) {
  SimFirmware &Sim = SimFirmware::Active();
  Sim.CountCall("OutputString");
  if (String == nullptr)
    return EFI_INVALID_PARAMETER;
  (Sim.*Calls).emplace_back(String);
  return Sim.ConsoleStatus;
}

EFI_STATUS EFIAPI SimOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  return KeepOutput(&SimFirmware::ConsoleCalls, String);
}

EFI_STATUS EFIAPI SimErrorString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *String) {
  return KeepOutput(&SimFirmware::ErrorCalls, String);
}

} // namespace

void FillNotSimulated(void *First, size_t Count) {
  void **Slots = static_cast<void **>(First);
  for (size_t I = 0; I < Count; I++)
    Slots[I] = reinterpret_cast<void *>(&NotSimulated);
}

namespace {

EFI_STATUS EFIAPI SimStall(UINTN Microseconds) {
  SimFirmware::Active().CountCall("Stall");
  SimFirmware::Active().Microseconds += Microseconds;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *Key) {
  SimFirmware &Sim = SimFirmware::Active();
  if (!Sim.Keys.empty()) {
    *Key = Sim.Keys.front();
    Sim.Keys.pop_front();
    return EFI_SUCCESS;
  }
  if (Sim.KeyAt == 0 || Sim.Microseconds < Sim.KeyAt)
    return EFI_NOT_READY;
  Sim.KeyAt = 0;
  *Key = {0, u' '};
  return EFI_SUCCESS;
}

VOID EFIAPI SimResetSystem(EFI_RESET_TYPE Type, EFI_STATUS, UINTN, VOID *) {
  SimFirmware::Active().Resets.push_back(Type);
}

} // namespace

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
  BootServices.HandleProtocol = SimHandleProtocol;
  BootServices.LocateHandleBuffer = SimLocateHandleBuffer;
  BootServices.LocateHandle = SimLocateHandle;
  BootServices.OpenProtocol = SimOpenProtocol;
  BootServices.CloseProtocol = SimCloseProtocol;
  BootServices.LocateProtocol = SimLocateProtocol;
  BootServices.Stall = SimStall;

  FillNotSimulated(&RuntimeServices.GetTime,
                   (sizeof(EFI_RUNTIME_SERVICES) - sizeof(EFI_TABLE_HEADER)) / sizeof(void *));
  RuntimeServices.ResetSystem = SimResetSystem;
  FillNotSimulated(&ConIn, sizeof(ConIn) / sizeof(void *));
  ConIn.ReadKeyStroke = SimReadKeyStroke;

  FillNotSimulated(&ConOut, sizeof(ConOut) / sizeof(void *));
  ConOut.OutputString = SimOutputString;
  ConOut.Mode = nullptr;
  FillNotSimulated(&StdErr, sizeof(StdErr) / sizeof(void *));
  StdErr.OutputString = SimErrorString;
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
  auto Hobs = std::find_if(ConfigTable.begin(), ConfigTable.end(), [](auto &Entry) {
    return GuidsEqual(&Entry.VendorGuid, &EfiHobListGuid);
  });
  PlatformContext = {&SystemTable, &BootServices,
                     Hobs != ConfigTable.end() ? Hobs->VendorTable : nullptr};
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

void SimFirmware::Type(const std::u16string &Text) {
  constexpr UINT16 EscScanCode = 0x17;
  for (char16_t C : Text)
    Keys.push_back(C == 0x1B ? EFI_INPUT_KEY{EscScanCode, 0} : EFI_INPUT_KEY{0, C});
}

std::string SimFirmware::ErrorText() const {
  std::string Text;
  for (const auto &Call : ErrorCalls)
    Text += NarrowText(Call);
  return Text;
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
