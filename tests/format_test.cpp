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

// The text an engine call leaves in an exact-size heap buffer of Size characters, so that ASan
// holds it to the buffer's end: the count it returns is what was stored, with the NUL right
// behind it, and a buffer of no size is left alone.
template <typename Unit, typename F> std::basic_string<Unit> Stored(size_t Size, F Engine) {
  std::unique_ptr<Unit[]> Buffer(new Unit[Size]);
  memset(Buffer.get(), 0x5A, Size * sizeof(Unit));
  const UINT64 Count = Engine(Buffer.get(), Size);
  const std::basic_string<Unit> All(Buffer.get(), Size);
  EXPECT_EQ(Size == 0 ? 0 : All.find(Unit{0}), Count) << "buffer of " << Size;
  return All.substr(0, Count);
}

// A literal format, checked at compile time like every caller's.
template <typename... T>
std::string Into(size_t Size, AsciiFormat<T...> Format, const T &...Values) {
  return Stored<char>(
      Size, [&](char *Out, size_t Room) { return FormatToAscii(Out, Room, Format, Values...); });
}
template <typename... T> std::string Ascii(AsciiFormat<T...> Format, const T &...Values) {
  return Into(512, Format, Values...);
}
template <typename... T>
std::u16string Wide(UINT64 Flags, UcsFormat<T...> Format, const T &...Values) {
  return Stored<char16_t>(512, [&](char16_t *Out, size_t Room) {
    return FormatWithFlags(Out, Room, Flags, Format, Values...);
  });
}

// A format the compile-time check would refuse (a wrong kind, a missing or an unused argument),
// straight into the engine with the caller's Flags: what its argument slots do on their own.
template <typename... T>
std::string Unchecked(UINT64 Flags, const char *Format, const T &...Values) {
  const FormatArg Items[] = {MakeFormatArg(Values)..., {0, FormatArgKind::Integer}};
  return Stored<char>(512, [&](char *Out, size_t Room) {
    return FormatEngine(Out, Room, Flags, Format, FormatArgList{Items, sizeof...(T)});
  });
}

// Every buffer size from 0 to past the whole text: the start of the whole text, cut cleanly.
template <typename Unit, typename F>
void ExpectCutsAt(const std::basic_string<Unit> &Full, F Engine) {
  for (size_t Size = 0; Size <= Full.size() + 2; Size++)
    EXPECT_TRUE(Stored<Unit>(Size, Engine) == Full.substr(0, Size == 0 ? 0 : Size - 1))
        << "buffer of " << Size;
}
template <typename... T> void ExpectCutsCleanly(AsciiFormat<T...> Format, const T &...Values) {
  ExpectCutsAt(Ascii(Format, Values...),
               [&](char *Out, size_t Room) { return FormatToAscii(Out, Room, Format, Values...); });
}
template <typename... T> void ExpectWideCutsCleanly(UcsFormat<T...> Format, const T &...Values) {
  ExpectCutsAt(Wide(WideFlags, Format, Values...), [&](char16_t *Out, size_t Room) {
    return FormatWithFlags(Out, Room, WideFlags, Format, Values...);
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
  EXPECT_EQ(Unchecked(0, "%x", 0x123456789ull), "23456789");
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
  EXPECT_EQ(Unchecked(0, "%d", 0x100000005ull), "5");
}

TEST(FormatDecimal, WidthsOfSixtyFourBitsAndUnsigned) {
  EXPECT_EQ(Ascii("%u", -1), "4294967295");
  EXPECT_EQ(Ascii("%lu", -1ll), "18446744073709551615");
  EXPECT_EQ(Ascii("%ld", INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Ascii("%ld", INT64_MAX), "9223372036854775807");
  EXPECT_EQ(Ascii("%d", INT32_MIN), "-2147483648");
  // Without "l" a 64-bit value is cut to its low 32 bits and read as signed.
  EXPECT_EQ(Unchecked(0, "%d", 0xFFFFFFFFull), "-1");
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
  EXPECT_EQ(Into(17, "%-16s", u"ABCDEFGHIJKLMNOPQRST"), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(Into(17, "%-16s", u"$"), "$" + std::string(15, ' '));
  EXPECT_EQ(Into(9, "%-8a", "$Eeprom$"), "$Eeprom$");
  EXPECT_EQ(Into(17, "%08x", 0x1F), "0000001F");
}

TEST(FormatCharacters, NarrowingAndWidening) {
  // UCS-2 into 8-bit output keeps the low byte, whatever it is.
  EXPECT_EQ(Ascii("%s", u"\u0141\u00E9z"), "A\xE9z");
  // 8-bit text into UCS-2 output: the bytes 0x80 to 0xFF become U+0080 to U+00FF, never
  // sign-extended.
  EXPECT_TRUE(Stored<char16_t>(8, [](char16_t *Out, size_t Room) {
                return FormatWithFlags(Out, Room, FormatWideOutput, "\xE9%a", "\xFF\x80");
              }) == u"\u00E9\u00FF\u0080");
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
  EXPECT_EQ(Unchecked(0, "%5i|%-3o|", 1), "    i|o  |");
  EXPECT_EQ(Ascii("abc%"), "abc");
  EXPECT_EQ(Ascii("abc%-08"), "abc        ");
  EXPECT_EQ(Ascii("abc%5"), "abc     ");
  EXPECT_EQ(Ascii("abc%l"), "abc");
  // Caller flags other than the two widths are dropped before every element.
  EXPECT_EQ(Unchecked(FormatLeftJustify | FormatZeroFill | FormatSignPrefix | FormatLongValue |
                          FormatCommaGroups | FormatPrecisionGiven,
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
  EXPECT_EQ(Unchecked(0, "%a", 0x1234), "<null string>");
  EXPECT_EQ(Unchecked(0, "%a", u"wide"), "<null string>");
  EXPECT_EQ(Unchecked(0, "%s", "narrow"), "<null string>");
  EXPECT_EQ(Unchecked(0, "%g|%t", &Time, &Guid), "<null guid>|<null time>");
  EXPECT_EQ(Unchecked(0, "%a", static_cast<const void *>("text")), "<null string>");
  EXPECT_EQ(Unchecked(0, "%g", 0x1000), "<null guid>");
  // Slots beyond the list read as 0 or null.
  EXPECT_EQ(Unchecked(0, "%d|%x|%a|%s|%g|%t|%r|%c|%*d", 1), "1|0|<null string>|<null string>|"
                                                            "<null guid>|<null time>|Success| |0");
  // Numeric directives take any slot's value.
  const void *Pointer = reinterpret_cast<const void *>(0x12345678ABCDull);
  EXPECT_EQ(Unchecked(0, "%p|%x", Pointer, Pointer), "12345678ABCD|5678ABCD");
  enum class Small : UINT8 { Nine = 9 };
  enum Signed { MinusTwo = -2 };
  EXPECT_EQ(Unchecked(0, "%d|%d|%d", Small::Nine, MinusTwo, true), "9|-2|1");
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
  EXPECT_EQ(Into(16, "%1000d", 42), std::string(15, ' '));
  EXPECT_EQ(Into(16, "%.*d", 1ull << 62, 42), std::string(15, '0'));
  EXPECT_EQ(Into(16, "%-*a|", 1ull << 40, "x"), "x" + std::string(14, ' '));
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
  const char16_t Inserts[] = {'%', '\n', '\r', '\t', 0xE9, 0x2525, 0x0A41, 0};
  const auto Check = [&]<typename Unit>(Unit, UINT64 Flags) {
    for (size_t Length = 0; Length <= 40; Length++) {
      for (size_t At = 0; At <= Length; At++) {
        for (const char16_t Insert : Inserts) {
          std::unique_ptr<Unit[]> Format(new Unit[Length + 1]()); // NUL-ended
          for (size_t I = 0; I < Length; I++)
            Format[I] = static_cast<Unit>(I != At ? 'A' + I % 26 : Insert);
          const auto Engine = [&](Unit *Out, size_t Room) {
            return FormatEngine(Out, Room, Flags, Format.get(), FormatArgList{});
          };
          const std::basic_string<Unit> Whole = Stored<Unit>(2 * Length + 16, Engine);
          for (const size_t Size : {Length + 3, Length / 2 + 1})
            ASSERT_TRUE(Stored<Unit>(Size, Engine) == Whole.substr(0, Size - 1))
                << "length " << Length << " at " << At << " insert " << int(Insert);
        }
      }
    }
  };
  Check(char{}, 0);
  Check(char16_t{}, WideFlags);
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
  EXPECT_EQ(Into(2, "a%5d", 1), "a");
}

} // namespace
