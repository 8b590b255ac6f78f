// ParseHexId over arbitrary UCS-2 texts (bytes widened; see DecodeWide for other characters).
//
// Properties: the text is read only up to its NUL; the result agrees with the rule written out
// here; on any failure the value is left untouched.
#include "app/board_record.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr uint64_t Untouched = 0x5A5A5A5AA5A5A5A5ULL;

bool IsHex(char16_t C) {
  return (C >= u'0' && C <= u'9') || (C >= u'a' && C <= u'f') || (C >= u'A' && C <= u'F');
}

uint64_t HexValue(char16_t C) {
  return C <= u'9' ? C - u'0' : (C | 0x20) - u'a' + 10;
}

// Optional '-', zeros, an 'x' only straight after a '0', then hexadecimal digits up to the
// first NUL or space.
bool Shaped(const char16_t *Text) {
  size_t I = 0;
  if (Text[I] == u'-')
    I++;
  while (Text[I] == u'0')
    I++;
  if (Text[I] == u'x' || Text[I] == u'X') {
    if (I == 0 || Text[I - 1] != u'0')
      return false;
    I++;
  }
  for (; Text[I] != 0 && Text[I] != u' '; I++)
    if (!IsHex(Text[I]))
      return false;
  return true;
}

EFI_STATUS Reference(const char16_t *Text, uint64_t *Value) {
  if (!Shaped(Text))
    return EFI_INVALID_PARAMETER;
  size_t I = 0;
  while (Text[I] == u' ')
    I++;
  if (Text[I] == 0 || !Shaped(Text + I))
    return EFI_INVALID_PARAMETER;
  while (Text[I] == u' ' || Text[I] == u'\t')
    I++;
  while (Text[I] == u'0')
    I++;
  if ((Text[I] == u'x' || Text[I] == u'X') && I > 0 && Text[I - 1] == u'0')
    I++;
  if (Text[I] == u' ')
    return EFI_INVALID_PARAMETER;
  uint64_t Result = 0;
  for (; IsHex(Text[I]); I++) {
    const uint64_t Digit = HexValue(Text[I]);
    if (Result > (UINT64_MAX - Digit) / 16)
      return EFI_DEVICE_ERROR;
    Result = Result * 16 + Digit;
  }
  *Value = Result;
  return EFI_SUCCESS;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  std::u16string Text = DecodeWide(std::vector<uint8_t>(Data, Data + Size));
  // The parser reads up to the first NUL; the copy ends there, at the end of its allocation.
  Text = Text.substr(0, Text.find(u'\0'));
  ExactText<CHAR16> Copy(Text);

  uint64_t Expected = Untouched, Got = Untouched;
  const EFI_STATUS ExpectedStatus = Reference(Text.c_str(), &Expected);
  const EFI_STATUS Status = ParseHexId(Copy.Get(), &Got);
  FUZZ_CHECK(Status == ExpectedStatus);
  FUZZ_CHECK(Got == Expected);
  if (Status != EFI_SUCCESS)
    FUZZ_CHECK(Got == Untouched);
  FUZZ_CHECK(ParseHexId(Copy.Get(), nullptr) == EFI_INVALID_PARAMETER);
  return 0;
}
