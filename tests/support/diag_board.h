// Building blocks of a simulated board for the diagnostics-channel tests: the devices the
// channel looks for, placed where the board has them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diag/platform_constants.h"
#include "sim/hardware_model.h"

// Compares the accesses Actual made with the expected ones, listing them all on a mismatch.
#define EXPECT_ACCESSES(Actual, ...)                                                               \
  do {                                                                                             \
    const std::vector<SimAccess> Got = (Actual);                                                   \
    EXPECT_EQ(Got, (std::vector<SimAccess>{__VA_ARGS__})) << DescribeAccesses(Got);                \
  } while (0)

namespace diagboard {

// Short builders for expected accesses: R and W for memory reads and writes, In and Out for
// ports, each of the width in its name.
template <SimAccessKind Kind, uint8_t Width>
constexpr SimAccess Access(uint64_t At, uint64_t Value) {
  return {Kind, Width, At, Value};
}
constexpr auto R8 = Access<SimAccessKind::MemRead, 8>, R16 = Access<SimAccessKind::MemRead, 16>,
               R32 = Access<SimAccessKind::MemRead, 32>;
constexpr auto W8 = Access<SimAccessKind::MemWrite, 8>, W16 = Access<SimAccessKind::MemWrite, 16>,
               W32 = Access<SimAccessKind::MemWrite, 32>, W64 = Access<SimAccessKind::MemWrite, 64>;
constexpr auto In8 = Access<SimAccessKind::PortIn, 8>, In16 = Access<SimAccessKind::PortIn, 16>,
               In32 = Access<SimAccessKind::PortIn, 32>;
constexpr auto Out8 = Access<SimAccessKind::PortOut, 8>, Out16 = Access<SimAccessKind::PortOut, 16>,
               Out32 = Access<SimAccessKind::PortOut, 32>;

// Sets of access kinds, for picking accesses out of the log.
constexpr unsigned KindBit(SimAccessKind Kind) {
  return 1u << static_cast<unsigned>(Kind);
}
constexpr unsigned MemReads = KindBit(SimAccessKind::MemRead),
                   MemWrites = KindBit(SimAccessKind::MemWrite),
                   PortWrites = KindBit(SimAccessKind::PortOut),
                   PortAccesses = KindBit(SimAccessKind::PortIn) | PortWrites,
                   MemAccesses = MemReads | MemWrites, WriteAccesses = PortWrites | MemWrites;

// The accesses of Log of the kinds in Set, at addresses (or ports) from Low to High - 1.
inline std::vector<SimAccess> AccessesIn(const std::vector<SimAccess> &Log, unsigned Set,
                                         uint64_t Low = 0, uint64_t High = ~0ull) {
  std::vector<SimAccess> Out;
  for (const SimAccess &Access : Log)
    if ((Set & KindBit(Access.Kind)) != 0 && Access.Address >= Low && Access.Address < High)
      Out.push_back(Access);
  return Out;
}
inline std::vector<SimAccess> Writes(const SimHardware &Hw) {
  return AccessesIn(Hw.Log, WriteAccesses);
}
inline std::vector<SimAccess> MemWritesIn(const SimHardware &Hw, uint64_t Low, uint64_t High) {
  return AccessesIn(Hw.Log, MemWrites, Low, High);
}

constexpr uint64_t Ecam = 0xE0000000;
constexpr uint64_t EcamOf(uint32_t Device, uint32_t Function) {
  return Ecam + (Device << 15) + (Function << 12);
}

// Length letters of the alphabet, over and over: a text of that length.
inline std::string TextOf(size_t Length) {
  std::string Text;
  for (size_t I = 0; I < Length; I++)
    Text.push_back(static_cast<char>('A' + I % 26));
  return Text;
}

// The trace hub (0/0/2) with its software-trace window at TraceWindow.
constexpr uint32_t TraceWindow = 0xFE000000;
constexpr uint64_t TraceChannel = TraceWindow + 0x340;
inline void AddTraceHub(SimHardware &Hw) {
  Hw.Pci.Add(0, 0, 2, PlatformVendorId, 0x1234).Set32(0x18, TraceWindow);
  Hw.AddRegisters(TraceWindow, 0x1000);
}

// The origin GUID of debug records, as the two 64-bit stores that carry it.
constexpr uint64_t GuidLow = 0x4CB975D123A3E7BAull;
constexpr uint64_t GuidHigh = 0x9ED9484EFA568F9Cull;

inline uint64_t Le(const std::string &Text, size_t At, unsigned Size) {
  return SimLoadLe(reinterpret_cast<const uint8_t *>(Text.data()) + At, Size);
}

// The stores of a debug record for Text whose payload goes out in stores of Widths bits, in
// order. The widths are each test's own expectation, written out; nothing here works them out.
inline std::vector<SimAccess> DebugRecord(const std::string &Text,
                                          const std::vector<unsigned> &Widths) {
  std::vector<SimAccess> Seq = {W32(TraceChannel + 0x10, 0x01FF0202), W64(TraceChannel, GuidLow),
                                W64(TraceChannel, GuidHigh), W16(TraceChannel, Text.size())};
  size_t At = 0;
  for (unsigned Bits : Widths) {
    if (At + Bits / 8 > Text.size())
      break; // widths beyond the text: the record cannot match
    Seq.push_back({SimAccessKind::MemWrite, uint8_t(Bits), TraceChannel, Le(Text, At, Bits / 8)});
    At += Bits / 8;
  }
  Seq.push_back(W32(TraceChannel + 0x30, 0));
  return Seq;
}
// Eights 64-bit stores, then Tail.
inline std::vector<unsigned> StoreWidths(size_t Eights, std::initializer_list<unsigned> Tail) {
  std::vector<unsigned> Widths(Eights, 64);
  Widths.insert(Widths.end(), Tail);
  return Widths;
}

// The stores of a record sent with a length of 0: its text goes inline, in three 64-bit stores
// of the first 24 bytes, zeros after Text (which ends at its zero byte or at 24 bytes).
inline std::vector<SimAccess> InlineRecord(std::string Text) {
  Text.resize(24, '\0');
  return {W32(TraceChannel + 0x10, 0x01FF0002), W64(TraceChannel, GuidLow),
          W64(TraceChannel, GuidHigh),          W64(TraceChannel, Le(Text, 0, 8)),
          W64(TraceChannel, Le(Text, 8, 8)),    W64(TraceChannel, Le(Text, 16, 8)),
          W32(TraceChannel + 0x30, 0)};
}

// The level selector (0/13/3): a window whose register 0x1408 holds Selector.
constexpr uint32_t LevelWindow = 0xFE100000;
inline void AddLevelSelector(SimHardware &Hw, uint32_t Selector) {
  Hw.Pci.Add(0, 13, 3, PlatformVendorId, 0x1235).Set32(0x10, LevelWindow);
  Hw.AddRegisters(LevelWindow, 0x2000);
  Hw.Poke32(LevelWindow + 0x1408, Selector);
}

// The debug CMOS word in bytes 0x40-0x43.
inline void SetCmosWord(SimHardware &Hw, uint32_t Word) {
  Hw.SetCmos(0x40, {uint8_t(Word), uint8_t(Word >> 8), uint8_t(Word >> 16), uint8_t(Word >> 24)});
}
inline uint32_t CmosWord(const SimHardware &Hw) {
  return Hw.Cmos(0x40) | Hw.Cmos(0x41) << 8 | Hw.Cmos(0x42) << 16 | uint32_t(Hw.Cmos(0x43)) << 24;
}
// Reading the word Reads times selects its bytes through index port 0x70, high byte first.
inline std::vector<SimAccess> CmosSelects(int Reads = 1) {
  std::vector<SimAccess> Selects;
  for (; Reads > 0; Reads--)
    Selects.insert(Selects.end(),
                   {Out8(0x70, 0x43), Out8(0x70, 0x42), Out8(0x70, 0x41), Out8(0x70, 0x40)});
  return Selects;
}

// The debug UART (0/24/2, serial controller 10) with its memory window at UartBase.
constexpr uint32_t UartBase = 0xFEA10000;
// Its 16550 byte registers, 4 bytes apart; while the line control's latch bit is set, Thr and Ier
// hold the divisor's low and high bytes.
enum UartRegister : uint8_t { Thr = 0x0, Ier = 0x4, Fcr = 0x8, Lcr = 0xC, Mcr = 0x10, Lsr = 0x14 };
constexpr auto UartIn = [](UartRegister Reg, uint8_t Value) { return R8(UartBase + Reg, Value); };
constexpr auto UartOut = [](UartRegister Reg, uint8_t Value) { return W8(UartBase + Reg, Value); };
// Accesses to its registers only.
inline std::vector<SimAccess> UartAccesses(const std::vector<SimAccess> &Log) {
  return AccessesIn(Log, MemAccesses, UartBase, UartBase + 0x20);
}

// The host bridge (0/0/0), by default the platform vendor's, naming a chip series.
inline SimPciFunction &AddHostBridge(SimHardware &Hw, uint16_t DeviceId = HostBridgeIdSeries3,
                                     uint16_t VendorId = PlatformVendorId) {
  return Hw.Pci.Add(0, 0, 0, VendorId, DeviceId);
}

// A supported Tarn board (the host bridge of a supported series) with CMOS saying "output on",
// and the debug UART with its window assigned.
inline SimUart &AddWorkingDebugUart(SimHardware &Hw) {
  AddHostBridge(Hw);
  SetCmosWord(Hw, 0x80000000);
  Hw.Pci.Add(0, 24, 2, PlatformVendorId, 0x1236).Set32(0x10, UartBase);
  return Hw.AddUart(UartBase);
}

// The sideband bridge (0/13/0): its window at Window, memory decoding and bus mastering on, and
// the sideband ports Ports behind it.
constexpr uint32_t BridgeWindow = 0xFD000000;
inline SimPciFunction &AddSidebandBridge(SimHardware &Hw, std::initializer_list<uint8_t> Ports,
                                         uint32_t Window = BridgeWindow) {
  SimPciFunction &Bridge = Hw.Pci.Add(0, 13, 0, PlatformVendorId, 0x1237);
  Bridge.Set32(0x10, Window);
  Bridge.Set16(0x04, 0x0006);
  for (uint8_t Port : Ports)
    Hw.Sideband.AddPort(Port);
  return Bridge;
}

} // namespace diagboard
