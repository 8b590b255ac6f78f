// Simulated firmware for the host: a real EFI_SYSTEM_TABLE and EFI_BOOT_SERVICES whose slots are
// host functions with the firmware calling convention, so the product code runs unchanged.
// One instance is active at a time; constructing it installs it in PlatformContext.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/sim_handles.h"
#include "uefi/uefi.h"

class SimFirmware {
public:
  SimFirmware();
  ~SimFirmware();
  SimFirmware(const SimFirmware &) = delete;
  SimFirmware &operator=(const SimFirmware &) = delete;

  static SimFirmware &Active();

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL ConOut{};

  // Points PlatformContext at these tables (HobList from the configuration table, if any).
  void InstallInPlatformContext();

  // --- Pool -------------------------------------------------------------------------------
  size_t LiveAllocations() const { return Pool.size(); }
  size_t AllocationCount = 0; // AllocatePool calls made so far, failed ones included
  // Makes the Nth AllocatePool call from now (1-based) fail with EFI_OUT_OF_RESOURCES; 0 clears.
  void FailAllocationNumber(size_t N);
  // Allocates from and returns to the simulated pool, for AllocatePool and FreePool and on behalf
  // of a simulated service (e.g. LocateHandleBuffer).
  void *PoolAllocate(size_t Size);
  void PoolFree(void *Buffer);

  // --- Console ----------------------------------------------------------------------------
  std::vector<std::u16string> ConsoleCalls; // every OutputString text, in order
  EFI_STATUS ConsoleStatus = EFI_SUCCESS;   // what OutputString returns
  std::string ConsoleText() const;          // all calls joined, narrowed to 8 bits
  void ClearConsole() { ConsoleCalls.clear(); }

  // --- Handles and protocols -------------------------------------------------------------
  SimHandleDatabase Handles;
  EFI_HANDLE ImageHandle = nullptr; // the loaded image of the application under test

  // --- Configuration table ----------------------------------------------------------------
  void AddConfigurationTable(const EFI_GUID &Guid, void *Table);

  // --- Call accounting --------------------------------------------------------------------
  std::map<std::string, size_t> Calls; // boot-service name -> number of calls
  size_t TotalCalls() const;
  void CountCall(const char *Name) { Calls[Name]++; }

private:
  std::map<const void *, size_t> Pool;
  size_t FailAt = 0; // absolute AllocationCount value that fails, 0 for none
  std::vector<EFI_CONFIGURATION_TABLE> ConfigTable;
};

// Fills Count function slots from First with a service that answers EFI_UNSUPPORTED, so that a
// call the simulation does not serve fails instead of crashing the caller.
void FillNotSimulated(void *First, size_t Count);

// Text helpers for tests and the host front end.
std::string NarrowText(const std::u16string &Text);
std::u16string WideText(const std::string &Text);
std::vector<std::u16string> WideTexts(const std::vector<std::string> &Texts);
