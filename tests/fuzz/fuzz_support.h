// Shared pieces of the fuzz targets: a reader that takes fields off the front of an input,
// arguments decoded from bytes into UCS-2, exact-size heap copies (so AddressSanitizer sees a
// read one past the end), the record's validity rule, what every run of the tool keeps, and a
// loud stop for a broken property.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/board_record.h"
#include "tests/support/board_fixture.h"
#include "uefi/uefi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size);

// A property of the code under test does not hold: report it and stop, so libFuzzer keeps the
// input as a crash and the corpus replay fails.
#define FUZZ_CHECK(Condition)                                                                      \
  do {                                                                                             \
    if (!(Condition)) {                                                                            \
      fprintf(stderr, "fuzz property failed: %s (%s:%d)\n", #Condition, __FILE__, __LINE__);       \
      abort();                                                                                     \
    }                                                                                              \
  } while (0)

class FuzzReader {
public:
  FuzzReader(const uint8_t *Data, size_t Size) : Data(Data), Size(Size) {}

  // Fields past the end of the input read as zeros.
  uint8_t Byte() { return Used < Size ? Data[Used++] : 0; }
  template <typename T> T Le() { // a little-endian field of sizeof(T) bytes
    T Value = 0;
    for (size_t I = 0; I < sizeof(T); I++)
      Value |= static_cast<T>(static_cast<T>(Byte()) << (8 * I));
    return Value;
  }
  std::vector<uint8_t> Rest() {
    std::vector<uint8_t> Out(Data + Used, Data + Size);
    Used = Size;
    return Out;
  }

private:
  const uint8_t *Data;
  size_t Size;
  size_t Used = 0;
};

// Little-endian fields of firmware tables and of the record, as the targets' own rules read them.
template <typename T> T LoadLe(const uint8_t *P) {
  return FuzzReader(P, sizeof(T)).Le<T>();
}
inline void PutLe32(uint8_t *P, uint32_t Value) {
  for (int I = 0; I < 4; I++)
    P[I] = static_cast<uint8_t>(Value >> (8 * I));
}

// The board record's validity, written out from its rule and not taken from the tool: the CRC-32
// (IEEE 802.3, reflected) of the stored length with the CRC field zeroed; a length of 0 covers
// nothing and is valid only for the all-zero block of a clear.
inline uint32_t Crc32(const uint8_t *Data, size_t Length) {
  uint32_t Crc = 0xFFFFFFFFu;
  for (size_t I = 0; I < Length; I++) {
    Crc ^= Data[I];
    for (int Bit = 0; Bit < 8; Bit++)
      Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1u)));
  }
  return ~Crc;
}
inline bool RecordIsValid(const uint8_t *Record) {
  const uint32_t Length = LoadLe<uint32_t>(Record + RecordOffset::RecordLength);
  if (Length > BoardRecordSize)
    return false;
  if (Length == 0)
    return std::all_of(Record, Record + BoardRecordSize, [](uint8_t B) { return B == 0; });
  uint8_t Copy[BoardRecordSize];
  memcpy(Copy, Record, sizeof(Copy));
  PutLe32(Copy + RecordOffset::Crc32, 0);
  return Crc32(Copy, Length) == LoadLe<uint32_t>(Record + RecordOffset::Crc32);
}

// A byte text as UCS-2: every byte widened, except that 0x01 followed by two bytes (low, high)
// stands for one arbitrary 16-bit unit, so seeds stay readable and any character can occur.
constexpr uint8_t WideEscape = 0x01;
inline std::u16string DecodeWide(const std::vector<uint8_t> &Bytes) {
  std::u16string Out;
  for (size_t I = 0; I < Bytes.size(); I++) {
    if (Bytes[I] == WideEscape && I + 2 < Bytes.size()) {
      Out.push_back(static_cast<char16_t>(Bytes[I + 1] | Bytes[I + 2] << 8));
      I += 2;
    } else {
      Out.push_back(Bytes[I]);
    }
  }
  return Out;
}

// Splits at each 0x00 byte.
inline std::vector<std::vector<uint8_t>> SplitAtNul(const std::vector<uint8_t> &Bytes) {
  std::vector<std::vector<uint8_t>> Parts(1);
  for (uint8_t B : Bytes) {
    if (B == 0)
      Parts.emplace_back();
    else
      Parts.back().push_back(B);
  }
  return Parts;
}

// An exact-size heap copy of a text and its NUL terminator, ending where the allocation ends.
template <typename Unit> class ExactText {
public:
  template <typename Container> explicit ExactText(const Container &Text) {
    Units = std::make_unique<Unit[]>(Text.size() + 1);
    for (size_t I = 0; I < Text.size(); I++)
      Units[I] = static_cast<Unit>(Text[I]);
    Units[Text.size()] = 0;
  }
  Unit *Get() const { return Units.get(); }

private:
  std::unique_ptr<Unit[]> Units;
};

// Firmware data (a HOB list, a device path) placed in memory followed by a region filled with
// Fill. Firmware gives no list length, only its end marker; a walk that trusts a block's own
// length may land anywhere up to 64 KiB further on. With a fill that reads as an end marker,
// every such landing lies inside this allocation, so the sanitizers judge the walk and not the
// harness. The start is 8-byte aligned, as firmware places its tables.
class PaddedRegion {
public:
  static constexpr size_t PadBytes = 0x10000 + 64;
  PaddedRegion(const std::vector<uint8_t> &Bytes, uint8_t Fill)
      : Storage((Bytes.size() + PadBytes + 7) / 8) {
    auto *P = reinterpret_cast<uint8_t *>(Storage.data());
    memset(P, Fill, Storage.size() * 8);
    if (!Bytes.empty())
      memcpy(P, Bytes.data(), Bytes.size());
  }
  uint8_t *Data() { return reinterpret_cast<uint8_t *>(Storage.data()); }

private:
  std::vector<uint64_t> Storage;
};

// What every run of the tool keeps, whatever it was given: nothing left behind (Leftovers), no
// console message longer than ConsoleLineLimit, and "Operation successful!" exactly when the
// status is 0, any other status coming with an "ERROR: " line (see HasMessage).
constexpr size_t ConsoleLineLimit = 320;
inline void CheckRunKeepsItsPromises(const SimFirmware &Sim, uint64_t Status) {
  FUZZ_CHECK(Leftovers(Sim).empty());
  for (const auto &Call : Sim.ConsoleCalls)
    FUZZ_CHECK(Call.size() <= ConsoleLineLimit);
  FUZZ_CHECK(HasMessage(Sim.ConsoleCalls, "Operation successful!\r\n") == (Status == 0));
  if (Status != 0)
    FUZZ_CHECK(HasMessage(Sim.ConsoleCalls, "ERROR: ", true));
}
