// An ID option's value over arbitrary UCS-2 texts (bytes widened; see DecodeWide for others).
//
// The rule, written from the tool's usage and not from its code: an ID is one whole hexadecimal
// number (an optional 0x or 0X, at least one digit, nothing else) of at most 64 bits; a value
// above FFFFFFFF is refused as too large for the record's 32-bit field. Properties: ParseIdValue
// follows the rule and leaves the value untouched when it refuses; ParseHexId gives the same
// value for every text the rule takes as a number, and says when one does not fit 64 bits.
#include "app/board_record.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr uint32_t Untouched32 = 0x5A5AA5A5;
constexpr uint64_t Untouched64 = 0x5A5A5A5AA5A5A5A5ULL;

// The rule's verdict; Wide gets the number when the text is one, Wider whether it needs more
// than 64 bits.
IdFault Rule(const std::u16string &Text, uint64_t *Wide, bool *Wider) {
  const std::u16string Hex = u"0123456789abcdef0123456789ABCDEF";
  const bool Prefix = Text.size() >= 2 && Text[0] == u'0' && (Text[1] == u'x' || Text[1] == u'X');
  const std::u16string Digits = Text.substr(Prefix ? 2 : 0);
  uint64_t Value = 0;
  *Wider = false;
  if (Digits.empty() || Digits.find_first_not_of(Hex) != std::u16string::npos)
    return IdFault::NotANumber;
  for (char16_t C : Digits) {
    *Wider = *Wider || (Value >> 60) != 0;
    Value = Value << 4 | Hex.find(C) % 16;
  }
  *Wide = Value;
  if (*Wider)
    return IdFault::NotANumber;
  return Value > 0xFFFFFFFFull ? IdFault::TooLarge : IdFault::None;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  std::u16string Text = DecodeWide(std::vector<uint8_t>(Data, Data + Size));
  // The parsers read up to the first NUL; the copy ends there, at the end of its allocation.
  Text = Text.substr(0, Text.find(u'\0'));
  ExactText<CHAR16> Copy(Text);

  uint64_t Wide = 0;
  bool Wider = false;
  const IdFault Expected = Rule(Text, &Wide, &Wider);
  uint32_t Value = Untouched32;
  FUZZ_CHECK(ParseIdValue(Copy.Get(), &Value) == Expected);
  FUZZ_CHECK(Value == (Expected == IdFault::None ? static_cast<uint32_t>(Wide) : Untouched32));

  uint64_t Got = Untouched64;
  const EFI_STATUS Status = ParseHexId(Copy.Get(), &Got);
  if (Expected != IdFault::NotANumber)
    FUZZ_CHECK(Status == EFI_SUCCESS && Got == Wide);
  else if (Wider)
    FUZZ_CHECK(Status == EFI_DEVICE_ERROR);
  if (Status != EFI_SUCCESS)
    FUZZ_CHECK(Got == Untouched64);
  FUZZ_CHECK(ParseHexId(Copy.Get(), nullptr) == EFI_INVALID_PARAMETER);
  FUZZ_CHECK(ParseIdValue(Copy.Get(), nullptr) == IdFault::NotANumber);
  return 0;
}
