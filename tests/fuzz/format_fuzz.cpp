// The format engine with arbitrary formats, argument slots and buffer sizes.
//
// Input: a flag byte (bit 0 UCS-2 output, bit 1 UCS-2 format), the buffer size in characters
// (16 bits), the number of argument slots (one byte, at most 16), each slot as a kind byte and a
// 64-bit value, then the format up to the first 0x00, then a pool of texts separated by 0x00.
// A slot of a pointer kind points at pool entry (value mod entries), or is null when bit 63 of
// its value is set. Every text, GUID and time sits in its own exact-size allocation, the output
// buffer too.
//
// Properties: the result is below the buffer size and the NUL sits right behind it; a size of 0
// writes nothing; the same call with 8-bit instead of UCS-2 output (or the other way round)
// gives the same characters, each narrowed; an 8-bit format widened to UCS-2 gives the same
// output.
#include "shell/format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr size_t MaxSlots = 16;
constexpr size_t MaxBufferCharacters = 4096;
constexpr uint64_t NullSlotBit = 1ULL << 63;
constexpr uint8_t Canary = 0xC5;

// Each text of the pool in every pointer kind: both widths, and a GUID and a time made of its
// leading bytes (zeros after).
struct Pools {
  std::vector<ExactText<CHAR8>> Narrow;
  std::vector<ExactText<CHAR16>> Wide;
  std::vector<std::unique_ptr<EFI_GUID>> Guids;
  std::vector<std::unique_ptr<EFI_TIME>> Times;
};

template <typename T> std::unique_ptr<T> Overlay(const std::vector<uint8_t> &Text) {
  auto Value = std::make_unique<T>();
  if (!Text.empty())
    memcpy(Value.get(), Text.data(), std::min(Text.size(), sizeof(T)));
  return Value;
}

std::vector<FormatArg> BuildSlots(FuzzReader &In, size_t Count, Pools &P,
                                  const std::vector<std::vector<uint8_t>> &Texts) {
  for (const auto &Text : Texts) {
    P.Narrow.emplace_back(Text);
    P.Wide.emplace_back(DecodeWide(Text));
    P.Guids.push_back(Overlay<EFI_GUID>(Text));
    P.Times.push_back(Overlay<EFI_TIME>(Text));
  }
  std::vector<FormatArg> Slots;
  for (size_t I = 0; I < Count; I++) {
    const auto Kind = static_cast<FormatArgKind>(In.Byte() % 6);
    const uint64_t Value = In.Le<uint64_t>();
    const size_t Pick = Value % Texts.size();
    // A pointer slot as the engine's own slot maker gives it, null when bit 63 says so.
    const auto Pointer = [&](auto *Target) {
      return MakeFormatArg((Value & NullSlotBit) != 0 ? nullptr : Target);
    };
    if (Kind == FormatArgKind::NarrowText)
      Slots.push_back(Pointer(P.Narrow[Pick].Get()));
    else if (Kind == FormatArgKind::WideText)
      Slots.push_back(Pointer(P.Wide[Pick].Get()));
    else if (Kind == FormatArgKind::Guid)
      Slots.push_back(Pointer(P.Guids[Pick].get()));
    else if (Kind == FormatArgKind::Time)
      Slots.push_back(Pointer(P.Times[Pick].get()));
    else
      Slots.push_back({Value, Kind});
  }
  return Slots;
}

// Runs the engine into an exact-size buffer of Characters characters and checks the bounds.
std::vector<uint16_t> Run(bool WideOut, bool WideFormat, const void *Format, size_t Characters,
                          const std::vector<FormatArg> &Slots) {
  const UINT64 Flags = (WideOut ? FormatWideOutput : 0) | (WideFormat ? FormatWideFormat : 0);
  const size_t Step = WideOut ? 2 : 1;
  const FormatArgList Args{Slots.data(), Slots.size()};
  if (Characters == 0) {
    uint8_t Guard[2] = {Canary, Canary};
    FUZZ_CHECK(FormatEngine(Guard, 0, Flags, Format, Args) == 0);
    FUZZ_CHECK(Guard[0] == Canary && Guard[1] == Canary);
    FUZZ_CHECK(FormatEngine(nullptr, 0, Flags, Format, Args) == 0);
    return {};
  }
  auto Buffer = std::make_unique<uint8_t[]>(Characters * Step);
  memset(Buffer.get(), Canary, Characters * Step);
  const UINT64 Count = FormatEngine(Buffer.get(), Characters, Flags, Format, Args);
  FUZZ_CHECK(Count < Characters);
  std::vector<uint16_t> Out;
  for (size_t I = 0; I <= Count; I++) {
    uint16_t C = Buffer[I * Step];
    if (WideOut)
      C = static_cast<uint16_t>(C | Buffer[I * Step + 1] << 8);
    Out.push_back(C);
  }
  FUZZ_CHECK(Out.back() == 0);
  Out.pop_back();
  return Out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzReader In(Data, Size);
  const uint8_t Mode = In.Byte();
  const bool WideOut = Mode & 1, WideFormat = Mode & 2;
  const size_t Characters = In.Le<uint16_t>() % (MaxBufferCharacters + 1);
  const size_t SlotCount = In.Byte() % (MaxSlots + 1);
  // Slots come before the format in the input but take their pointers from the pool behind it.
  std::vector<uint8_t> SlotBytes;
  for (size_t I = 0; I < SlotCount * 9; I++)
    SlotBytes.push_back(In.Byte());
  auto Parts = SplitAtNul(In.Rest());
  const std::vector<uint8_t> FormatBytes = Parts.front();
  std::vector<std::vector<uint8_t>> Texts(Parts.begin() + 1, Parts.end());
  if (Texts.empty())
    Texts.emplace_back();

  Pools P;
  FuzzReader SlotIn(SlotBytes.data(), SlotBytes.size());
  const std::vector<FormatArg> Slots = BuildSlots(SlotIn, SlotCount, P, Texts);

  ExactText<CHAR8> NarrowFormat(FormatBytes);
  const std::u16string WideUnits =
      WideFormat ? DecodeWide(FormatBytes) : std::u16string(FormatBytes.begin(), FormatBytes.end());
  ExactText<CHAR16> WideFormatText(WideUnits);
  const void *Format = WideFormat ? static_cast<const void *>(WideFormatText.Get())
                                  : static_cast<const void *>(NarrowFormat.Get());

  const std::vector<uint16_t> Out = Run(WideOut, WideFormat, Format, Characters, Slots);
  // The output width changes only how each character is stored.
  const std::vector<uint16_t> Other = Run(!WideOut, WideFormat, Format, Characters, Slots);
  FUZZ_CHECK(Out.size() == Other.size());
  for (size_t I = 0; I < Out.size(); I++)
    FUZZ_CHECK((Out[I] & 0xFF) == (Other[I] & 0xFF));
  // The format's width changes only how it is read: the same 8-bit format given as UCS-2.
  if (!WideFormat)
    FUZZ_CHECK(Run(WideOut, true, WideFormatText.Get(), Characters, Slots) == Out);
  return 0;
}
