// The format engine: directives, padding, numbers, names, line ends, character widths, argument
// slots and cutting at the buffer's end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shell/format.h"

namespace {

constexpr UINT64 WideFlags = FormatWideOutput | FormatWideFormat;

// A literal format, checked at compile time like every caller's.
template <typename... T> std::string Ascii(AsciiFormat<T...> Format, const T &...Values) {
  char Buffer[512];
  memset(Buffer, 0x5A, sizeof Buffer);
  const UINT64 Count = FormatToAscii(Buffer, sizeof Buffer, Format, Values...);
  EXPECT_EQ(Count, strlen(Buffer)) << Format.Text;
  return std::string(Buffer, strlen(Buffer));
}

// A format the compile-time check would refuse (a wrong kind, a missing or an unused argument),
// straight into the engine: what its argument slots do on their own.
template <typename... T>
std::string UncheckedWithFlags(UINT64 Flags, const char *Format, const T &...Values) {
  const FormatArg Items[] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  char Buffer[512];
  const UINT64 Count =
      FormatEngine(Buffer, sizeof Buffer, Flags, Format, FormatArgList{Items, sizeof...(T)});
  EXPECT_EQ(Count, strlen(Buffer)) << Format;
  return std::string(Buffer, Count);
}
template <typename... T> std::string Unchecked(const char *Format, const T &...Values) {
  return UncheckedWithFlags(0, Format, Values...);
}

template <typename... T>
std::u16string Wide(UINT64 Flags, AsciiFormat<T...> Format, const T &...Values) {
  CHAR16 Buffer[512];
  const UINT64 Count = FormatWithFlags(Buffer, 512, Flags, Format, Values...);
  EXPECT_EQ(Buffer[Count], 0);
  return std::u16string(Buffer, Count);
}
template <typename... T>
std::u16string Wide(UINT64 Flags, UcsFormat<T...> Format, const T &...Values) {
  CHAR16 Buffer[512];
  const UINT64 Count = FormatWithFlags(Buffer, 512, Flags, Format, Values...);
  EXPECT_EQ(Buffer[Count], 0);
  return std::u16string(Buffer, Count);
}

// The count and the text up to its NUL in an exact-size heap buffer (ASan holds the engine to
// the buffer's end).
template <typename... T>
std::pair<UINT64, std::string> Into(size_t Size, AsciiFormat<T...> Format, const T &...Values) {
  std::unique_ptr<char[]> Buffer(new char[Size]);
  const UINT64 Count = FormatToAscii(Buffer.get(), Size, Format, Values...);
  return {Count, std::string(Buffer.get(), std::min<size_t>(Size, Count + 1))};
}
std::pair<UINT64, std::string> Cut(UINT64 Count, const std::string &Text) {
  return {Count, Text + '\0'};
}

// Every buffer size from 0 to past the full text, each an exact-size heap block so ASan reports
// any write beyond it: the text is cut, the NUL is inside, the count is what was stored.
template <typename Unit, typename F>
void ExpectCutsAt(const std::basic_string<Unit> &Full, const char *Format, F FormatInto) {
  for (size_t Size = 0; Size <= Full.size() + 2; Size++) {
    std::unique_ptr<Unit[]> Buffer(new Unit[Size]);
    memset(Buffer.get(), 0x5A, Size * sizeof(Unit));
    const UINT64 Count = FormatInto(Buffer.get(), Size);
    if (Size == 0) {
      EXPECT_EQ(Count, 0u);
      continue;
    }
    const size_t Expected = std::min(Full.size(), Size - 1);
    ASSERT_EQ(Count, Expected) << Format << " size " << Size;
    EXPECT_TRUE(std::basic_string<Unit>(Buffer.get(), Count) == Full.substr(0, Expected));
    EXPECT_EQ(Buffer[Count], 0);
  }
}
template <typename... T> void ExpectCutsCleanly(AsciiFormat<T...> Format, const T &...Values) {
  ExpectCutsAt(Ascii(Format, Values...), Format.Text, [&](char *Buffer, size_t Size) {
    return FormatToAscii(Buffer, Size, Format, Values...);
  });
}
template <typename... T> void ExpectWideCutsCleanly(UcsFormat<T...> Format, const T &...Values) {
  ExpectCutsAt(Wide(WideFlags, Format, Values...), "(UCS-2)", [&](char16_t *Buffer, size_t Size) {
    return FormatWithFlags(Buffer, Size, WideFlags, Format, Values...);
  });
}

TEST(FormatHex, DigitsAreUppercaseAndWidthNeverTruncates) {
  EXPECT_EQ(Ascii("%08x", 0xABCD), "0000ABCD");
  EXPECT_EQ(Ascii("%x", 255), "FF");
  EXPECT_EQ(Ascii("%02x", 5), "05");
  EXPECT_EQ(Ascii("%02x", 0x1FF), "1FF");
  EXPECT_EQ(Ascii("%02x ", 0xA), "0A ");
  EXPECT_EQ(Ascii("%0*x", 1, 10), "A");
  EXPECT_EQ(Ascii("%0*x", 3, 10), "00A");
  EXPECT_EQ(Ascii("%4X", 10), "000A");
  EXPECT_EQ(Ascii("%4x", 10), "   A");
  EXPECT_EQ(Ascii("%-4X|", 10), "A   |");
  EXPECT_EQ(Ascii("%08X", 0xDEADBEEFu), "DEADBEEF");
  EXPECT_EQ(Ascii("%,x", 0x123456), "123456");
  EXPECT_EQ(Ascii("% x|%+x", 31, 31), " 1F|+1F");
  EXPECT_EQ(Ascii("%x", -1), "FFFFFFFF");
  EXPECT_EQ(Ascii("%lx", -1), "FFFFFFFFFFFFFFFF");
}

TEST(FormatHex, ThirtyTwoBitsUnlessLong) {
  EXPECT_EQ(Unchecked("%x", 0x123456789ull), "23456789");
  EXPECT_EQ(Ascii("%lx", 0x123456789ull), "123456789");
  EXPECT_EQ(Ascii("%Lx", 0x123456789ull), "123456789");
  EXPECT_EQ(Ascii("%p", 0x1000), "1000");
  EXPECT_EQ(Ascii("%8p", 0x1000), "00001000");
  EXPECT_EQ(Ascii("%+ p", 0x123456789ull), "123456789");
}

TEST(FormatDecimal, SignsPaddingAndPrefixes) {
  EXPECT_EQ(Ascii("%d", -42), "-42");
  EXPECT_EQ(Ascii("%5d", -42), "  -42");
  EXPECT_EQ(Ascii("%05d", -42), "-0042");
  EXPECT_EQ(Ascii("%-5d|", -42), "-42  |");
  EXPECT_EQ(Ascii("%+d", 7), "+7");
  EXPECT_EQ(Ascii("% d", 7), " 7");
  EXPECT_EQ(Ascii("%+ d", 7), "+7");
  EXPECT_EQ(Ascii("%+05d", 7), "+0007");
  EXPECT_EQ(Ascii("% u", 5), " 5");
  EXPECT_EQ(Ascii("%+u", 5), "5");
  EXPECT_EQ(Ascii("%d", 0), "0");
  EXPECT_EQ(Ascii("%.0d", 0), "");
  EXPECT_EQ(Ascii("%.5d", 42), "00042");
  EXPECT_EQ(Ascii("%8.5d", -42), "  -00042");
  EXPECT_EQ(Ascii("%08.3d", 42), "     042");
  EXPECT_EQ(Ascii("%-05d|", 42), "42   |");
  EXPECT_EQ(Unchecked("%d", 0x100000005ull), "5");
}

TEST(FormatDecimal, WidthsOfSixtyFourBitsAndUnsigned) {
  EXPECT_EQ(Ascii("%u", -1), "4294967295");
  EXPECT_EQ(Ascii("%lu", -1ll), "18446744073709551615");
  EXPECT_EQ(Ascii("%ld", INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Ascii("%ld", INT64_MAX), "9223372036854775807");
  EXPECT_EQ(Ascii("%d", INT32_MIN), "-2147483648");
  // Without "l" a 64-bit value is cut to its low 32 bits and read as signed.
  EXPECT_EQ(Unchecked("%d", 0xFFFFFFFFull), "-1");
}

TEST(FormatDecimal, AgreesWithTheCLibraryAcrossDigitCounts) {
  // Values on both sides of every power of ten and of the 32-bit boundary.
  std::vector<unsigned long long> Values = {0xFFFFFFFFull, 0x100000000ull, ~0ull};
  for (unsigned long long Power = 1; Power <= 10000000000000000000ull / 10; Power *= 10) {
    for (unsigned long long V : {Power - 1, Power, Power + 1, Power * 10 - 1})
      Values.push_back(V);
  }
  for (unsigned long long V : Values) {
    char Expected[64];
    snprintf(Expected, sizeof Expected, "%llu|%lld|%llX", V, static_cast<long long>(V), V);
    EXPECT_EQ(Ascii("%lu|%ld|%lx", V, V, V), Expected);
  }
}

TEST(FormatDecimal, CommaGroups) {
  EXPECT_EQ(Ascii("%,d", 1234567), "1,234,567");
  EXPECT_EQ(Ascii("%,d", -1234), "-1,234");
  EXPECT_EQ(Ascii("%,d", 123), "123");
  EXPECT_EQ(Ascii("%,d", 0), "0");
  EXPECT_EQ(Ascii("%0,8d", 1234), "   1,234");
  EXPECT_EQ(Ascii("%.6,d", 1234), "1,234");
  EXPECT_EQ(Ascii("%-,8d|", 1234), "1,234   |");
  EXPECT_EQ(Ascii("%,lu", -1ll), "18,446,744,073,709,551,615");
}

TEST(FormatWidth, StarsTakeSlotsInOrder) {
  EXPECT_EQ(Ascii("%*d", 5, 42), "   42");
  EXPECT_EQ(Ascii("%-*d|", 5, 42), "42   |");
  EXPECT_EQ(Ascii("%.*a", 2, "abcdef"), "ab");
  EXPECT_EQ(Ascii("%*.*d|%d", 6, 3, 42, 9), "   042|9");
  // A later width replaces an earlier one.
  EXPECT_EQ(Ascii("%*5d", 10, 42), "   42");
  EXPECT_EQ(Ascii("%9.2.4d", 42), "     0042");
  // A huge width read as unsigned 64 bits pads nothing (its difference is negative).
  EXPECT_EQ(Ascii("%*d", ~0ull, 42), "42");
  EXPECT_EQ(Ascii("%*a", ~0ull, "ab"), "ab");
}

TEST(FormatStrings, PaddingAndPrecision) {
  EXPECT_EQ(Ascii("%16a", "abc"), std::string(13, ' ') + "abc");
  EXPECT_EQ(Ascii("%16a", "abcdefghijklmnopqrst"), "abcdefghijklmnopqrst");
  EXPECT_EQ(Ascii("%16a", "abcdefghijklmnop"), "abcdefghijklmnop");
  EXPECT_EQ(Ascii("%-16a|", "abc"), "abc" + std::string(13, ' ') + "|");
  EXPECT_EQ(Ascii("%05a", "ab"), "   ab");
  EXPECT_EQ(Ascii("%.3a", "abcdef"), "abc");
  EXPECT_EQ(Ascii("%.5a", "ab"), "   ab");
  EXPECT_EQ(Ascii("%-8.5a|", "ab"), "   ab   |");
  EXPECT_EQ(Ascii("%8.3a", "abcdef"), "     abc");
  EXPECT_EQ(Ascii("%.0a|", "abc"), "|");
  EXPECT_EQ(Ascii("%a|%5a|%-5a|", "", "", ""), "|     |     |");
  EXPECT_EQ(Ascii("%16a Serial   #%a\n", "Board", "12345678"),
            "           Board Serial   #12345678\r\n");
  // Line ends inside an argument are the caller's text and pass unchanged.
  EXPECT_EQ(Ascii("%a", "x\ny\r"), "x\ny\r");
}

TEST(FormatStrings, NullPointersPrintPlaceholders) {
  EXPECT_EQ(Ascii("%a", static_cast<const CHAR8 *>(nullptr)), "<null string>");
  EXPECT_EQ(Ascii("%s", static_cast<const CHAR16 *>(nullptr)), "<null string>");
  EXPECT_EQ(Ascii("%15S|", static_cast<const CHAR16 *>(nullptr)), "  <null string>|");
  EXPECT_EQ(Ascii("%.4a", static_cast<const CHAR8 *>(nullptr)), "<nul");
  EXPECT_EQ(Ascii("%g", static_cast<const EFI_GUID *>(nullptr)), "<null guid>");
  EXPECT_EQ(Ascii("%t", static_cast<const EFI_TIME *>(nullptr)), "<null time>");
}

TEST(FormatStrings, RecordFieldsLayIntoExactBuffers) {
  // The record's text fields: a 16-character field with its NUL in a 17-byte buffer.
  EXPECT_EQ(Into(17, "%-16s", u"ABCDEFGHIJKLMNOPQRST"), Cut(16, "ABCDEFGHIJKLMNOP"));
  EXPECT_EQ(Into(17, "%-16s", u"$"), Cut(16, "$" + std::string(15, ' ')));
  EXPECT_EQ(Into(9, "%-8a", "$Eeprom$"), Cut(8, "$Eeprom$"));
  EXPECT_EQ(Into(17, "%08x", 0x1F), Cut(8, "0000001F"));
}

TEST(FormatCharacters, NarrowingAndWidening) {
  // UCS-2 into 8-bit output keeps the low byte, whatever it is.
  EXPECT_EQ(Ascii("%s", u"\u0141\u00E9z"), "A\xE9z");
  // 8-bit text into UCS-2 output: the bytes 0x80 to 0xFF become U+0080 to U+00FF, never
  // sign-extended.
  EXPECT_TRUE(Wide(FormatWideOutput, "\xE9%a", "\xFF\x80") == u"\u00E9\u00FF\u0080");
  EXPECT_TRUE(Wide(WideFlags, u"%a|%s|\u263A", "\xB5", u"\u263A") == u"\u00B5|\u263A|\u263A");
  // A UCS-2 format into 8-bit output: format characters narrowed too.
  char Narrow[32];
  EXPECT_EQ(FormatWithFlags(Narrow, sizeof Narrow, FormatWideFormat, u"\u0142%d\n", 5), 4u);
  EXPECT_STREQ(Narrow, "B5\r\n");
  // %c takes the low 16 bits of its slot; the zero character counts 0 and leaves a space.
  EXPECT_TRUE(Wide(WideFlags, u"%c%c", 0x1263A, u'x') == u"\u263Ax");
  EXPECT_EQ(Ascii("%c|%3c|%-3c|", 0, 'A', 'B'), " |  A|B  |");
  EXPECT_EQ(Ascii("%.0c|", 'A'), "|");
}

TEST(FormatDirectives, UnrecognisedConversionsAndEndings) {
  EXPECT_EQ(Ascii("%i%d", 7), "i7");
  EXPECT_EQ(Ascii("100%%"), "100%");
  EXPECT_EQ(Unchecked("%5i|%-3o|", 1), "    i|o  |");
  EXPECT_EQ(Ascii("abc%"), "abc");
  EXPECT_EQ(Ascii("abc%-08"), "abc        ");
  EXPECT_EQ(Ascii("abc%5"), "abc     ");
  EXPECT_EQ(Ascii("abc%l"), "abc");
  // Caller flags other than the two widths are dropped before every element.
  EXPECT_EQ(UncheckedWithFlags(FormatLeftJustify | FormatZeroFill | FormatSignPrefix |
                                   FormatLongValue | FormatCommaGroups | FormatPrecisionGiven,
                               "%5d|%x|%a", 1234, 0x100000001ull, "ab"),
            " 1234|1|ab");
  EXPECT_EQ(Ascii("no directives at all"), "no directives at all");
}

TEST(FormatDirectives, LineEnds) {
  EXPECT_EQ(Ascii("a\nb"), "a\r\nb");
  EXPECT_EQ(Ascii("a\n\rb"), "a\r\nb");
  EXPECT_EQ(Ascii("a\r\nb"), "a\r\nb");
  EXPECT_EQ(Ascii("a\rb"), "a\rb");
  EXPECT_EQ(Ascii("\n\n\r\r"), "\r\n\r\n\r");
  EXPECT_EQ(Ascii("\r\r\n"), "\r\r\n");
  EXPECT_EQ(Ascii("%\n%\r|%\r\n"), "\r\n\r|\r\n");
  EXPECT_TRUE(Wide(WideFlags, u"x\ny\n\r") == u"x\r\ny\r\n");
}

TEST(FormatNames, StatusCodes) {
  const UINT64 Error = 0x8000000000000000ull;
  EXPECT_EQ(Ascii("%r", 0), "Success");
  EXPECT_EQ(Ascii("%r", Error | 14), "Not Found");
  EXPECT_EQ(Ascii("%r", Error | 1), "Load Error");
  EXPECT_EQ(Ascii("%r", Error | 29), "Reserved (29)");
  EXPECT_EQ(Ascii("%r", Error | 33), "Compromised Data");
  EXPECT_EQ(Ascii("%r", 1), "Warning Unknown Glyph");
  EXPECT_EQ(Ascii("%r", 5), "Warning Stale Data");
  EXPECT_EQ(Ascii("%r", 6), "00000006");
  EXPECT_EQ(Ascii("%r", Error | 34), "00000022");
  EXPECT_EQ(Ascii("%r", Error), "00000000");
  EXPECT_EQ(Ascii("%r", 0x1234567800000009ull), "00000009");
  EXPECT_EQ(Ascii("%10r|%-10r|%.3r", 0, 0, Error | 7), "   Success|Success   |Dev");
  EXPECT_EQ(Ascii("ERROR: %r\n", EFI_DEVICE_ERROR), "ERROR: Device Error\r\n");
}

TEST(FormatNames, GuidAndTime) {
  const EFI_GUID Guid = {0xA, 0xB, 0xC, {0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14}};
  EXPECT_EQ(Ascii("%g", &Guid), "0000000A-000B-000C-0D0E-0F1011121314");
  const EFI_GUID Full = {0xDEADBEEF, 0xCAFE, 0xF00D, {0xFF, 0xFE, 0, 1, 2, 3, 4, 0xAB}};
  EXPECT_EQ(Ascii("[%40g]", &Full), "[    DEADBEEF-CAFE-F00D-FFFE-0001020304AB]");
  // GUIDs sit unaligned in firmware records.
  alignas(8) UINT8 Unaligned[sizeof(EFI_GUID) + 1];
  memcpy(Unaligned + 1, &Guid, sizeof Guid);
  EXPECT_EQ(Ascii("%g", reinterpret_cast<const EFI_GUID *>(Unaligned + 1)),
            "0000000A-000B-000C-0D0E-0F1011121314");
  const EFI_TIME Time{.Year = 2017, .Month = 7, .Day = 4, .Hour = 13, .Minute = 5, .Second = 59};
  EXPECT_EQ(Ascii("%t", &Time), "07/04/2017  13:05");
}

TEST(FormatSlots, MismatchedOrMissingSlotsReadAsNullOrZero) {
  const EFI_GUID Guid{};
  EFI_TIME Time{};
  // A pointer directive never dereferences a slot of another kind.
  EXPECT_EQ(Unchecked("%a", 0x1234), "<null string>");
  EXPECT_EQ(Unchecked("%a", u"wide"), "<null string>");
  EXPECT_EQ(Unchecked("%s", "narrow"), "<null string>");
  EXPECT_EQ(Unchecked("%g|%t", &Time, &Guid), "<null guid>|<null time>");
  EXPECT_EQ(Unchecked("%a", static_cast<const void *>("text")), "<null string>");
  EXPECT_EQ(Unchecked("%g", 0x1000), "<null guid>");
  // Slots beyond the list read as 0 or null.
  EXPECT_EQ(Unchecked("%d|%x|%a|%s|%g|%t|%r|%c|%*d", 1), "1|0|<null string>|<null string>|"
                                                         "<null guid>|<null time>|Success| |0");
  // Numeric directives take any slot's value.
  const void *Pointer = reinterpret_cast<const void *>(0x12345678ABCDull);
  EXPECT_EQ(Unchecked("%p|%x", Pointer, Pointer), "12345678ABCD|5678ABCD");
  enum class Small : UINT8 { Nine = 9 };
  enum Signed { MinusTwo = -2 };
  EXPECT_EQ(Unchecked("%d|%d|%d", Small::Nine, MinusTwo, true), "9|-2|1");
}

TEST(FormatCutting, EveryBufferSize) {
  ExpectCutsCleanly("%16a Serial   #%a\n", "Board", "12345678");
  ExpectCutsCleanly("%-16a|", "abc");
  ExpectCutsCleanly("%08x", 0xABCD);
  ExpectCutsCleanly("%,d and %-+8d|", -1234567, 5);
  ExpectCutsCleanly("%-8.5a|%5c|%.2s", "ab", 'x', u"wide");
  ExpectCutsCleanly("a\nb\r\nc%\n");
  ExpectCutsCleanly("%g", static_cast<const EFI_GUID *>(nullptr));
  ExpectCutsCleanly("%r %r", EFI_NOT_FOUND, 0x22);
  ExpectCutsCleanly("%a", "abcdef");
  ExpectWideCutsCleanly(u"%-10s|%5d\n", u"wide", -3);
  ExpectWideCutsCleanly(u"%a %r", "\xE9t\xE9", EFI_SUCCESS);
}

TEST(FormatCutting, SmallBuffersAndHugePads) {
  // Pads far beyond the buffer stop at its end.
  EXPECT_EQ(Into(16, "%1000d", 42), Cut(15, std::string(15, ' ')));
  EXPECT_EQ(Into(16, "%.*d", 1ull << 62, 42), Cut(15, std::string(15, '0')));
  EXPECT_EQ(Into(16, "%-*a|", 1ull << 40, "x"), Cut(15, "x" + std::string(14, ' ')));
  // A missing format leaves an empty text.
  char Four[4] = {'x'};
  EXPECT_EQ(FormatEngine(Four, 4, 0, nullptr, FormatArgList{}), 0u);
  EXPECT_EQ(Four[0], 0);
}

// The compile-time check, read as a verdict instead of a failed build: the literal's directives
// against the kinds of the argument types T.
template <typename... T, typename Unit, UINT64 N>
constexpr FormatVerdict VerdictOf(const Unit (&Format)[N]) {
  constexpr FormatSlot Slots[] = {FormatSlotOf<T>..., FormatSlot::Unsupported};
  return CheckFormat<Unit, N>(Format, Slots, sizeof...(T));
}
template <typename... T, typename Unit, UINT64 N>
constexpr FormatFault FaultOf(const Unit (&Format)[N]) {
  return VerdictOf<T...>(Format).Fault;
}
constexpr FormatFault Fits = FormatFault::None;
constexpr FormatFault Wrong = FormatFault::WrongKind;
constexpr FormatFault Missing = FormatFault::MissingArgument;
constexpr FormatFault Extra = FormatFault::ExtraArgument;
enum class SmallEnum : UINT8 { One = 1 };

// What the callers pass, and the kinds each directive takes.
static_assert(FaultOf<int, const CHAR8 *, CHAR8[17]>("%d %a %a") == Fits);
static_assert(FaultOf<const UINT8 *, const CHAR16 *, char16_t[5]>("%a %s %S") == Fits);
static_assert(FaultOf<const EFI_GUID *, EFI_TIME *, EFI_STATUS>("%g %t %r") == Fits);
static_assert(FaultOf<UINT8, UINT16, UINT32, bool, SmallEnum, char16_t>("%x%X%u%d%d%c") == Fits);
static_assert(FaultOf<UINT64, int, INT64>("%lx %Lu %ld") == Fits);
static_assert(FaultOf<UINT64, UINT32, int, const char *>(" | %0*xx | %.*a") == Fits);
static_assert(FaultOf<const VOID *, UINT64, const CHAR8 *>("%p %p %p") == Fits);
static_assert(FaultOf<>("100%% %i %5\n%-3o abc%") == Fits);
static_assert(FaultOf<>(u"%%\n") == Fits);
// A 64-bit integer through a directive without "l" would lose its upper half.
static_assert(FaultOf<UINT64>("%x") == Wrong);
static_assert(FaultOf<long long>("%d") == Wrong);
static_assert(FaultOf<UINT64>("%c") == Wrong);
// Texts, GUIDs and times only from pointers of their own kind.
static_assert(FaultOf<const CHAR16 *>("%a") == Wrong);
static_assert(FaultOf<int>("%a") == Wrong);
static_assert(FaultOf<decltype(nullptr)>("%a") == Wrong);
static_assert(FaultOf<const VOID *>("%a") == Wrong);
static_assert(FaultOf<EFI_TIME *>("%g") == Wrong);
static_assert(FaultOf<const CHAR8 *>("%d") == Wrong);
static_assert(FaultOf<const CHAR8 *, int>("%*d") == Wrong);
// Every argument taken, and none left over.
static_assert(FaultOf<>("%d") == Missing);
static_assert(FaultOf<int>("%*d") == Missing);
static_assert(FaultOf<const CHAR8 *>("%a and %a") == Missing);
static_assert(FaultOf<int>("no directive") == Extra);
static_assert(FaultOf<int>("%i%%") == Extra);
// The format ends at its first NUL, as the engine reads it.
static_assert(FaultOf<int>("a\0%d") == Extra);
// UCS-2 formats are read in 16-bit units: U+2525 is no "%".
static_assert(FaultOf<>(u"\u2525d") == Fits);
// The verdict names the argument (from 1) and where its directive starts.
static_assert(VerdictOf<int, int>("ab %d %a").Argument == 2);
static_assert(VerdictOf<int, int>("ab %d %a").Offset == 6);
static_assert(VerdictOf<int, int, int>("%d").Argument == 2);

// Plain text of every length up to a few words, with a run end or another character at every
// place, in both widths: a buffer cut short holds the start of what a long one holds, and ASan
// holds both the exact-size format and the exact-size output to their bounds.
TEST(FormatPlainText, CutOutputIsTheStartOfTheWholeOutput) {
  const UINT16 Inserts[] = {'%', '\n', '\r', '\t', 0xE9, 0x2525, 0x0A41, 0};
  for (size_t Length = 0; Length <= 40; Length++) {
    for (size_t At = 0; At <= Length; At++) {
      for (const UINT16 Insert : Inserts) {
        for (const UINT64 Flags : {UINT64{0}, WideFlags}) {
          const size_t Unit = Flags != 0 ? 2 : 1;
          std::unique_ptr<UINT8[]> Format(new UINT8[(Length + 1) * Unit]()); // NUL-ended
          for (size_t I = 0; I < Length; I++) {
            const UINT16 C = I != At ? 'A' + I % 26 : Unit == 1 ? Insert & 0xFF : Insert;
            Format[I * Unit] = static_cast<UINT8>(C);
            if (Unit == 2)
              Format[I * Unit + 1] = static_cast<UINT8>(C >> 8);
          }
          const size_t WholeSize = 2 * Length + 16;
          std::vector<UINT8> Whole(WholeSize * Unit);
          const UINT64 WholeCount =
              FormatEngine(Whole.data(), WholeSize, Flags, Format.get(), FormatArgList{});
          for (const size_t Size : {Length + 3, Length / 2 + 1}) {
            std::unique_ptr<UINT8[]> Cut(new UINT8[Size * Unit]);
            memset(Cut.get(), 0x5A, Size * Unit);
            const UINT64 Count =
                FormatEngine(Cut.get(), Size, Flags, Format.get(), FormatArgList{});
            SCOPED_TRACE("length " + std::to_string(Length) + " at " + std::to_string(At) +
                         " insert " + std::to_string(Insert));
            ASSERT_EQ(Count, std::min<UINT64>(WholeCount, Size - 1));
            ASSERT_EQ(memcmp(Cut.get(), Whole.data(), Count * Unit), 0);
            for (size_t I = 0; I < Unit; I++)
              ASSERT_EQ(Cut[Count * Unit + I], 0);
          }
        }
      }
    }
  }
}

// Every character of the output, pads included, is written whole: both bytes of a UCS-2
// character, low byte first, and never half of one at the buffer's end.
TEST(FormatPadding, FillsWholeCharactersAndStopsBeforeTheEnd) {
  // Three UCS-2 characters: two pad spaces and the NUL, then nothing.
  std::unique_ptr<UINT8[]> Three(new UINT8[6]);
  EXPECT_EQ(FormatWithFlags(Three.get(), 3, WideFlags, u"%10d", 5), 2u);
  const UINT8 Spaces[] = {0x20, 0x00, 0x20, 0x00, 0x00, 0x00};
  EXPECT_EQ(memcmp(Three.get(), Spaces, sizeof Spaces), 0);
  // A character's two bytes, low first; into 8-bit output only its low byte.
  UINT8 Both[8];
  memset(Both, 0xEE, sizeof Both);
  EXPECT_EQ(FormatWithFlags(Both, 3, WideFlags, u"%c%c", 0x1234, 0x1241), 2u);
  const UINT8 Pair[] = {0x34, 0x12, 0x41, 0x12, 0x00, 0x00, 0xEE, 0xEE};
  EXPECT_EQ(memcmp(Both, Pair, sizeof Both), 0);
  EXPECT_EQ(Ascii("%c", 0x1241), "A");
  // Pads of 0 or fewer characters write nothing.
  EXPECT_EQ(Ascii("%-2d|%2d|%0d", -42, 100, 7), "-42|100|7");
  // A pad that starts at the end position writes nothing either.
  EXPECT_EQ(Into(2, "a%5d", 1), Cut(1, "a"));
}

} // namespace
