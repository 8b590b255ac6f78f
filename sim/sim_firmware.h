// The hosted firmware as the tests drive it: the same tables and services, with the faults a
// board's firmware can show and the inputs a test gives. Lookups and the handle search can be
// told to fail, the Nth pool allocation refused, the console made to fail; keys are typed ahead
// or arrive after a while, and every ResetSystem call is kept (and returns here). The faults sit
// in front of the hosted services, in their slots, so what the tool meets is one firmware. Every
// console text is kept, and every service call counted by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "hosted/firmware.h"

class SimFirmware : public HostedFirmware {
public:
  SimFirmware();
  static SimFirmware &Active() { return static_cast<SimFirmware &>(HostedFirmware::Active()); }

  // A key stroke that arrives once this much time has passed (none when 0), and keys typed
  // ahead, read one a call; Type() queues a text's characters, ESC (0x1B) as the Esc key's scan
  // code, as a serial terminal's firmware reports it.
  uint64_t KeyAt = 0;
  std::deque<EFI_INPUT_KEY> Keys;
  void Type(const std::u16string &Text);
  std::vector<EFI_RESET_TYPE> Resets;

  size_t AllocationCount = 0; // pool allocations made so far, failed ones included
  // Makes the Nth pool allocation from now (1-based) fail with EFI_OUT_OF_RESOURCES; 0 clears.
  void FailAllocationNumber(size_t N);
  void *PoolAllocate(size_t Size) override;

  // HandleProtocol/OpenProtocol of Guid on Handle (null: on every handle) answer Status.
  void FailLookup(EFI_HANDLE Handle, const EFI_GUID &Guid, EFI_STATUS Status) {
    Faults.push_back({Handle, Guid, Status});
  }
  const EFI_STATUS *LookupFault(EFI_HANDLE Handle, const EFI_GUID &Guid) const;
  EFI_STATUS LocateHandleBufferStatus = EFI_SUCCESS; // forced failure when an error
  EFI_STATUS ConsoleStatus = EFI_SUCCESS;            // what OutputString returns

  std::vector<std::u16string> ConsoleCalls; // every OutputString text, in order
  std::string ConsoleText() const;          // all calls joined, narrowed to 8 bits
  std::vector<std::u16string> ErrorCalls;   // the same of StdErr
  std::string ErrorText() const;
  void ClearConsole() {
    ConsoleCalls.clear();
    ErrorCalls.clear();
  }

  std::map<std::string, size_t> Calls; // boot-service name -> number of calls
  size_t TotalCalls() const {
    return std::accumulate(Calls.begin(), Calls.end(), size_t{0},
                           [](size_t Sum, const auto &Entry) { return Sum + Entry.second; });
  }
  void CountCall(const char *Name) override { Calls[Name]++; }

  // The hosted services the faults stand in front of.
  EFI_BOOT_SERVICES Hosted{};
  EFI_TEXT_STRING HostedOutputString = nullptr;
  EFI_TEXT_STRING HostedErrorString = nullptr;

private:
  size_t FailAt = 0; // absolute AllocationCount value that fails, 0 for none
  struct Fault {
    EFI_HANDLE Handle;
    EFI_GUID Guid;
    EFI_STATUS Status;
  };
  std::vector<Fault> Faults;
};
