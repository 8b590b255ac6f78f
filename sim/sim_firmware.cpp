#include "sim/sim_firmware.h"

namespace {

EFI_STATUS EFIAPI FaultyHandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                       VOID **Interface) {
  SimFirmware &Sim = SimFirmware::Active();
  const EFI_STATUS *Fault =
      Protocol != nullptr && Interface != nullptr ? Sim.LookupFault(Handle, *Protocol) : nullptr;
  if (Fault == nullptr)
    return Sim.Hosted.HandleProtocol(Handle, Protocol, Interface);
  Sim.CountCall("HandleProtocol");
  return *Fault;
}

EFI_STATUS EFIAPI FaultyOpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                     EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  SimFirmware &Sim = SimFirmware::Active();
  // A fault answers only a call the firmware would otherwise look up.
  const bool Valid = Protocol != nullptr && (Interface != nullptr || Attributes == 0x4) &&
                     Sim.Handles.Exists(Handle);
  const EFI_STATUS *Fault = Valid ? Sim.LookupFault(Handle, *Protocol) : nullptr;
  if (Fault == nullptr)
    return Sim.Hosted.OpenProtocol(Handle, Protocol, Interface, Agent, Controller, Attributes);
  Sim.CountCall("OpenProtocol");
  return *Fault;
}

EFI_STATUS EFIAPI FaultyLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType,
                                           const EFI_GUID *Protocol, VOID *Key, UINTN *NoHandles,
                                           EFI_HANDLE **Buffer) {
  SimFirmware &Sim = SimFirmware::Active();
  const bool Valid =
      NoHandles != nullptr && Buffer != nullptr && SearchType == ByProtocol && Protocol != nullptr;
  if (!Valid || !EFI_ERROR(Sim.LocateHandleBufferStatus))
    return Sim.Hosted.LocateHandleBuffer(SearchType, Protocol, Key, NoHandles, Buffer);
  Sim.CountCall("LocateHandleBuffer");
  return Sim.LocateHandleBufferStatus;
}

// The console's text is kept whatever it answers.
EFI_STATUS Answer(EFI_STATUS Kept) {
  return EFI_ERROR(Kept) ? Kept : SimFirmware::Active().ConsoleStatus;
}
EFI_STATUS EFIAPI FaultyOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *Text) {
  return Answer(SimFirmware::Active().HostedOutputString(This, Text));
}
EFI_STATUS EFIAPI FaultyErrorString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *Text) {
  return Answer(SimFirmware::Active().HostedErrorString(This, Text));
}

EFI_STATUS EFIAPI TypedKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *Key) {
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

VOID EFIAPI KeptResetSystem(EFI_RESET_TYPE Type, EFI_STATUS, UINTN, VOID *) {
  SimFirmware::Active().Resets.push_back(Type);
}

} // namespace

SimFirmware::SimFirmware() : Hosted(BootServices) {
  BootServices.HandleProtocol = FaultyHandleProtocol;
  BootServices.OpenProtocol = FaultyOpenProtocol;
  BootServices.LocateHandleBuffer = FaultyLocateHandleBuffer;
  HostedOutputString = ConOut.OutputString;
  ConOut.OutputString = FaultyOutputString;
  HostedErrorString = StdErr.OutputString;
  StdErr.OutputString = FaultyErrorString;
  ConIn.ReadKeyStroke = TypedKeyStroke;
  RuntimeServices.ResetSystem = KeptResetSystem;
  ConsoleSink = [this](const std::u16string &Text) { ConsoleCalls.push_back(Text); };
  ErrorSink = [this](const std::u16string &Text) { ErrorCalls.push_back(Text); };
}

const EFI_STATUS *SimFirmware::LookupFault(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  for (const auto &F : Faults) {
    if ((F.Handle == nullptr || F.Handle == Handle) && GuidsEqual(&F.Guid, &Guid))
      return &F.Status;
  }
  return nullptr;
}

void SimFirmware::FailAllocationNumber(size_t N) {
  FailAt = N == 0 ? 0 : AllocationCount + N;
}

void *SimFirmware::PoolAllocate(size_t Size) {
  AllocationCount++;
  if (FailAt != 0 && AllocationCount == FailAt)
    return nullptr;
  return HostedFirmware::PoolAllocate(Size);
}

void SimFirmware::Type(const std::u16string &Text) {
  constexpr UINT16 EscScanCode = 0x17;
  for (char16_t C : Text)
    Keys.push_back(C == 0x1B ? EFI_INPUT_KEY{EscScanCode, 0} : EFI_INPUT_KEY{0, C});
}

namespace {
std::string Joined(const std::vector<std::u16string> &Calls) {
  std::string Text;
  for (const auto &Call : Calls)
    Text += NarrowText(Call);
  return Text;
}
} // namespace

std::string SimFirmware::ConsoleText() const {
  return Joined(ConsoleCalls);
}

std::string SimFirmware::ErrorText() const {
  return Joined(ErrorCalls);
}
