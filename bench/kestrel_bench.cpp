// The tool's figures, measured side by side in one run:
// - the format engine against the host C library's snprintf and {fmt}'s format_to_n on the
//   tool's own console and record formats (the same characters into a buffer of the same size;
//   characters per second and the time ratios), 8-bit format into 8-bit output and as the console
//   runs it (UCS-2 format and output). The engine is compiled with the image's own code
//   generation and optimisation flags for its source (bench/CMakeLists.txt);
// - a full -r and a full -w on the simulated board, with the firmware calls and pool
//   allocations each makes;
// - the size of Kestrel.efi and of each of its sections.
// Usage: kestrel_bench [Google Benchmark options] [--image=PATH]
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cinttypes>
#include <cstdio>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "shell/format.h"
#include "tests/support/board_fixture.h"

#ifndef KESTREL_IMAGE
#define KESTREL_IMAGE ""
#endif

namespace {

// Medians of a few short repetitions: the machine is shared, and the median shrugs off a
// neighbour's burst.
constexpr int Repetitions = 5;
constexpr double MinSeconds = 0.2;
constexpr size_t ConsoleLine = 321;

// Arguments live in globals the optimiser cannot see through, as in the tool where they come
// from the record and the command line.
const CHAR8 *Label = "Pylon";
const CHAR8 *SerialText = "12345678        ";
const CHAR16 *WideSerial = u"12345678";
const CHAR8 *NarrowSerial = "12345678";
const CHAR8 *Signature = "$Eeprom$";
const CHAR16 *Version = u"1.01.00";
const CHAR8 *NarrowVersion = "1.01.00";
const CHAR8 *FunctionName = "GetBlockIo";
const CHAR8 *NotFoundName = "Not Found";
volatile UINT32 IdValue = 0x1B;
volatile UINT8 DumpByte = 0xA5;
volatile UINT64 RowWidth = 1;
volatile UINT32 RowNumber = 3;
volatile int HandleCount = 8;
volatile int Place = 460;
volatile EFI_STATUS NotFound = EFI_NOT_FOUND;

// The C library's snprintf, called through a pointer the compiler cannot see through: with a
// literal format and no directives it would otherwise turn the call into a plain copy and
// measure itself, not the library.
int (*volatile LibcSnprintf)(char *, size_t, const char *, ...) = snprintf;

CHAR8 Narrow[ConsoleLine];
char Libc[ConsoleLine];
CHAR16 Wide[ConsoleLine];

// One benchmark loop; Format returns the characters it produced.
template <typename F> void Measure(benchmark::State &State, F Format) {
  int64_t Characters = 0;
  for (auto _ : State) {
    Characters += static_cast<int64_t>(Format());
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(Characters);
  State.counters["chars"] =
      static_cast<double>(Characters) / static_cast<double>(State.iterations());
}

struct FormatCase {
  const char *Name;
  void (*Engine)(benchmark::State &);
  void (*Snprintf)(benchmark::State &);
  void (*Fmt)(benchmark::State &);
  void (*Console)(benchmark::State &);
};

// {fmt} into a buffer of the same size: at most SIZE - 1 characters, then the NUL, as the engine
// and snprintf store them.
template <typename... T>
size_t FmtInto(char *Buffer, size_t Size, fmt::format_string<T...> Format, T &&...Values) {
  const auto Result = fmt::format_to_n(Buffer, Size - 1, Format, static_cast<T &&>(Values)...);
  const size_t Count = Result.size < Size - 1 ? Result.size : Size - 1;
  Buffer[Count] = 0;
  return Count;
}

// The line ends are written out as "\r\n" for snprintf and {fmt}, which is what the engine makes
// of a "\n": every contender produces the same characters.
#define KESTREL_CASE(NAME, SIZE, ENGINE_FMT, LIBC_FMT, FMT_FMT, WIDE_FMT, ENGINE_ARGS, LIBC_ARGS,  \
                     FMT_ARGS)                                                                     \
  FormatCase {                                                                                     \
    NAME,                                                                                          \
        [](benchmark::State &S) {                                                                  \
          Measure(S, [] { return FormatToAscii(Narrow, SIZE, ENGINE_FMT ENGINE_ARGS); });          \
        },                                                                                         \
        [](benchmark::State &S) {                                                                  \
          Measure(S, [] {                                                                          \
            int N = LibcSnprintf(Libc, SIZE, LIBC_FMT LIBC_ARGS);                                  \
            return static_cast<size_t>(N) < SIZE ? N : static_cast<int>(SIZE) - 1;                 \
          });                                                                                      \
        },                                                                                         \
        [](benchmark::State &S) {                                                                  \
          Measure(S, [] { return FmtInto(Libc, SIZE, FMT_FMT FMT_ARGS); });                        \
        },                                                                                         \
        [](benchmark::State &S) {                                                                  \
          Measure(S, [] {                                                                          \
            return FormatWithFlags(Wide, ConsoleLine, FormatWideOutput | FormatWideFormat,         \
                                   WIDE_FMT ENGINE_ARGS);                                          \
          });                                                                                      \
        },                                                                                         \
  }

#define ARGS(...) , __VA_ARGS__
#define NO_ARGS

const FormatCase FormatCases[] = {
    KESTREL_CASE("display line", ConsoleLine, "%16a Serial   #%a\n", "%16s Serial   #%s\r\n",
                 "{:>16} Serial   #{}\r\n", u"%16a Serial   #%a\n", ARGS(Label, SerialText),
                 ARGS(Label, SerialText), ARGS(Label, SerialText)),
    KESTREL_CASE("ID field %08x", 17, "%08x", "%08X", "{:08X}", u"%08x",
                 ARGS(static_cast<UINT32>(IdValue)), ARGS(static_cast<unsigned>(IdValue)),
                 ARGS(static_cast<unsigned>(IdValue))),
    KESTREL_CASE("record text %-16s", 17, "%-16s", "%-16s", "{:<16}", u"%-16s", ARGS(WideSerial),
                 ARGS(NarrowSerial), ARGS(NarrowSerial)),
    KESTREL_CASE("signature %-8a", 9, "%-8a", "%-8s", "{:<8}", u"%-8a", ARGS(Signature),
                 ARGS(Signature), ARGS(Signature)),
    KESTREL_CASE("dump byte %02x", ConsoleLine, "%02x ", "%02X ", "{:02X} ", u"%02x ",
                 ARGS(static_cast<UINT8>(DumpByte)), ARGS(static_cast<unsigned>(DumpByte)),
                 ARGS(static_cast<unsigned>(DumpByte))),
    KESTREL_CASE("dump row label", ConsoleLine, " | %0*xx | ", " | %0*Xx | ", " | {:0{}X}x | ",
                 u" | %0*xx | ",
                 ARGS(static_cast<UINT64>(RowWidth), static_cast<UINT32>(RowNumber)),
                 ARGS(static_cast<int>(RowWidth), static_cast<unsigned>(RowNumber)),
                 ARGS(static_cast<unsigned>(RowNumber), static_cast<int>(RowWidth))),
    KESTREL_CASE("status line %r", ConsoleLine,
                 "ERROR: Cannot Locate BlockIo protocol. Status = %r\n",
                 "ERROR: Cannot Locate BlockIo protocol. Status = %s\r\n",
                 "ERROR: Cannot Locate BlockIo protocol. Status = {}\r\n",
                 u"ERROR: Cannot Locate BlockIo protocol. Status = %r\n",
                 ARGS(static_cast<EFI_STATUS>(NotFound)), ARGS(NotFoundName), ARGS(NotFoundName)),
    KESTREL_CASE("debug count line", ConsoleLine, "%a(#%d) - BlockIo handle count is: %d\n",
                 "%s(#%d) - BlockIo handle count is: %d\r\n",
                 "{}(#{}) - BlockIo handle count is: {}\r\n",
                 u"%a(#%d) - BlockIo handle count is: %d\n",
                 ARGS(FunctionName, static_cast<int>(Place), static_cast<int>(HandleCount)),
                 ARGS(FunctionName, static_cast<int>(Place), static_cast<int>(HandleCount)),
                 ARGS(FunctionName, static_cast<int>(Place), static_cast<int>(HandleCount))),
    KESTREL_CASE("banner %s", ConsoleLine, "Kestrel for Tarnm - Version #%s\n",
                 "Kestrel for Tarnm - Version #%s\r\n", "Kestrel for Tarnm - Version #{}\r\n",
                 u"Kestrel for Tarnm - Version #%s\n", ARGS(Version), ARGS(NarrowVersion),
                 ARGS(NarrowVersion)),
    KESTREL_CASE("help line (text)", ConsoleLine,
                 " -w [--write]    -p # -m # [-s #]  Programs the data into the GPP1\n",
                 " -w [--write]    -p # -m # [-s #]  Programs the data into the GPP1\r\n",
                 " -w [--write]    -p # -m # [-s #]  Programs the data into the GPP1\r\n",
                 u" -w [--write]    -p # -m # [-s #]  Programs the data into the GPP1\n", NO_ARGS,
                 NO_ARGS, NO_ARGS),
};

// The first benchmark would otherwise pay for the processor coming up to speed and for the
// first touches of code and data: measured first, the display line took half as long again.
void WarmUp() {
  const auto Until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < Until) {
    for (int I = 0; I < 1000; I++) {
      FormatToAscii(Narrow, ConsoleLine, "%16a Serial   #%a\n", Label, SerialText);
      LibcSnprintf(Libc, ConsoleLine, "%16s Serial   #%s\r\n", Label, SerialText);
      FmtInto(Libc, ConsoleLine, "{:>16} Serial   #{}\r\n", Label, SerialText);
      benchmark::ClobberMemory();
    }
  }
}

// --- Whole operations on the simulated board --------------------------------------------------

const std::vector<std::string> ReadArgs = {"-r"};
const std::vector<std::string> WriteArgs = {"-w",       "-p", "12345678", "-s",
                                            "87654321", "-m", "09876"};

void MeasureOperation(benchmark::State &State, const std::vector<std::string> &Args) {
  Board B;
  if (B.Run(WriteArgs).Status != 0)
    State.SkipWithError("the example write failed");
  ArgVector Vector(Args);
  const size_t CallsBefore = B.Sim.TotalCalls();
  const size_t PoolBefore = B.Sim.AllocationCount;
  const auto ByNameBefore = B.Sim.Calls;
  for (auto _ : State) {
    B.Sim.ClearConsole();
    ToolRequest Request;
    ParseToolRequest(Vector.Argc(), Vector.Argv(), &Request);
    if (ToolMain(Request).Status != 0)
      State.SkipWithError("the operation failed");
  }
  const double Runs = static_cast<double>(State.iterations());
  State.counters["fw_calls"] = static_cast<double>(B.Sim.TotalCalls() - CallsBefore) / Runs;
  State.counters["pool_allocs"] = static_cast<double>(B.Sim.AllocationCount - PoolBefore) / Runs;
  for (const auto &[Name, Count] : B.Sim.Calls) {
    auto It = ByNameBefore.find(Name);
    const size_t Before = It == ByNameBefore.end() ? 0 : It->second;
    State.counters[Name] = static_cast<double>(Count - Before) / Runs;
  }
}

// --- Summary ----------------------------------------------------------------------------------

// Passes every run to the console and keeps the medians (or single runs) for the tables.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run &R : Runs) {
      if (R.error_occurred)
        continue;
      if (R.run_type == Run::RT_Aggregate && R.aggregate_name != "median")
        continue;
      Results[R.run_name.function_name] = R;
    }
  }
  std::map<std::string, Run> Results;
};

double Nanoseconds(const benchmark::BenchmarkReporter::Run &R) {
  double Value = R.GetAdjustedCPUTime();
  switch (R.time_unit) {
  case benchmark::kSecond:
    return Value * 1e9;
  case benchmark::kMillisecond:
    return Value * 1e6;
  case benchmark::kMicrosecond:
    return Value * 1e3;
  default:
    return Value;
  }
}

double Counter(const benchmark::BenchmarkReporter::Run &R, const char *Name) {
  auto It = R.counters.find(Name);
  return It == R.counters.end() ? 0 : static_cast<double>(It->second);
}

void PrintFormatTable(SummaryReporter &Reporter) {
  printf("\nFormat engine against snprintf and {fmt} (median CPU time per call in ns; Mchar/s = "
         "millions of characters produced per second)\n");
  printf("| %-20s | %9s | %9s | %9s | %8s | %8s | %9s | %9s | %9s | %8s |\n", "format", "engine",
         "snprintf", "{fmt}", "/snprintf", "/{fmt}", "engine", "{fmt}", "UCS-2", "/{fmt}");
  printf("| %-20s | %9s | %9s | %9s | %8s | %8s | %9s | %9s | %9s | %8s |\n", "", "ns", "ns", "ns",
         "", "", "Mchar/s", "Mchar/s", "ns", "");
  printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(22, '-').c_str(),
         std::string(11, '-').c_str(), std::string(11, '-').c_str(), std::string(11, '-').c_str(),
         std::string(10, '-').c_str(), std::string(10, '-').c_str(), std::string(11, '-').c_str(),
         std::string(11, '-').c_str(), std::string(11, '-').c_str(), std::string(10, '-').c_str());
  double EngineTotal = 0, LibcTotal = 0, FmtTotal = 0, WideTotal = 0;
  double WorstNarrow = 0, WorstWide = 0;
  for (const FormatCase &C : FormatCases) {
    const std::string Base = std::string("format/") + C.Name;
    auto E = Reporter.Results.find(Base + "/engine");
    auto L = Reporter.Results.find(Base + "/snprintf");
    auto F = Reporter.Results.find(Base + "/fmt");
    auto W = Reporter.Results.find(Base + "/engine-ucs2-console");
    if (E == Reporter.Results.end() || L == Reporter.Results.end() || F == Reporter.Results.end() ||
        W == Reporter.Results.end())
      continue;
    const double En = Nanoseconds(E->second), Ln = Nanoseconds(L->second);
    const double Fn = Nanoseconds(F->second), Wn = Nanoseconds(W->second);
    EngineTotal += En;
    LibcTotal += Ln;
    FmtTotal += Fn;
    WideTotal += Wn;
    WorstNarrow = std::max(WorstNarrow, En / Fn);
    WorstWide = std::max(WorstWide, Wn / Fn);
    printf("| %-20s | %9.1f | %9.1f | %9.1f | %8.2f | %8.2f | %9.1f | %9.1f | %9.1f | %8.2f |\n",
           C.Name, En, Ln, Fn, En / Ln, En / Fn, Counter(E->second, "chars") / En * 1e3,
           Counter(F->second, "chars") / Fn * 1e3, Wn, Wn / Fn);
  }
  if (LibcTotal > 0 && FmtTotal > 0)
    printf("| %-20s | %9.1f | %9.1f | %9.1f | %8.2f | %8.2f | %9s | %9s | %9.1f | %8.2f |\n",
           "all of the above", EngineTotal, LibcTotal, FmtTotal, EngineTotal / LibcTotal,
           EngineTotal / FmtTotal, "", "", WideTotal, WideTotal / FmtTotal);
  printf("Ratios are engine time / other time: below 1.00 the engine is faster. UCS-2 is the "
         "engine as the console runs it (UCS-2 format and output), against {fmt}'s 8-bit run.\n");
  printf("Largest single ratio to {fmt}: %.2f (8-bit), %.2f (UCS-2).\n", WorstNarrow, WorstWide);
}

void PrintOperationTable(SummaryReporter &Reporter) {
  printf("\nWhole operations on the simulated board (median CPU time per run, calls per run)\n");
  const char *Columns[] = {"AllocatePool",   "FreePool",   "OutputString", "LocateHandleBuffer",
                           "HandleProtocol", "ReadBlocks", "WriteBlocks",  "CalculateCrc32"};
  printf("| %-10s | %9s | %8s | %11s |", "operation", "time us", "fw calls", "pool allocs");
  for (const char *C : Columns)
    printf(" %s |", C);
  printf("\n|%s|%s|%s|%s|", std::string(12, '-').c_str(), std::string(11, '-').c_str(),
         std::string(10, '-').c_str(), std::string(13, '-').c_str());
  for (const char *C : Columns)
    printf("%s|", std::string(strlen(C) + 2, '-').c_str());
  printf("\n");
  for (const char *Name : {"operation/-r", "operation/-w"}) {
    auto It = Reporter.Results.find(Name);
    if (It == Reporter.Results.end())
      continue;
    const auto &R = It->second;
    printf("| %-10s | %9.1f | %8.0f | %11.0f |", Name + strlen("operation/"), Nanoseconds(R) / 1e3,
           Counter(R, "fw_calls"), Counter(R, "pool_allocs"));
    for (const char *C : Columns)
      printf(" %*.0f |", static_cast<int>(strlen(C)), Counter(R, C));
    printf("\n");
  }
  printf("-w is the example of the help text (-p, -s, -m); times include the simulated "
         "firmware's own bookkeeping.\n");
}

// --- The image --------------------------------------------------------------------------------

uint32_t Le(const std::vector<uint8_t> &B, size_t At, size_t Bytes) {
  uint32_t V = 0;
  for (size_t I = 0; I < Bytes && At + I < B.size(); I++)
    V |= static_cast<uint32_t>(B[At + I]) << (8 * I);
  return V;
}

// The PE32+ headers: the file, the image in memory, and each section's size in memory and in the
// file.
void PrintImageTable(const std::string &Path) {
  printf("\nImage %s\n", Path.c_str());
  std::ifstream In(Path, std::ios::binary);
  std::vector<uint8_t> B((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  constexpr size_t PeOffsetField = 0x3C, CoffSize = 24, SectionHeaderSize = 40;
  const size_t Pe = Le(B, PeOffsetField, 4);
  if (B.size() < 64 || Pe + CoffSize > B.size() || memcmp(&B[Pe], "PE\0\0", 4) != 0) {
    printf("  not found or not a PE image (build it with make; it needs shell/entry.cpp)\n");
    return;
  }
  const size_t Sections = Le(B, Pe + 6, 2);
  const size_t OptionalSize = Le(B, Pe + 20, 2);
  const size_t Optional = Pe + CoffSize;
  constexpr size_t SizeOfImageField = 56, SubsystemField = 68;
  printf("| %-8s | %12s | %12s |\n", "section", "in memory", "in file");
  printf("|----------|--------------|--------------|\n");
  for (size_t I = 0; I < Sections; I++) {
    const size_t H = Optional + OptionalSize + I * SectionHeaderSize;
    if (H + SectionHeaderSize > B.size())
      break;
    char Name[9] = {};
    memcpy(Name, &B[H], 8);
    printf("| %-8s | %12u | %12u |\n", Name, Le(B, H + 8, 4), Le(B, H + 16, 4));
  }
  printf("| %-8s | %12u | %12zu |\n", "image", Le(B, Optional + SizeOfImageField, 4), B.size());
  printf("subsystem %u, sizes in bytes\n", Le(B, Optional + SubsystemField, 2));
}

} // namespace

int main(int Argc, char **Argv) {
  std::string Image = KESTREL_IMAGE;
  std::vector<char *> Args;
  for (int I = 0; I < Argc; I++) {
    if (strncmp(Argv[I], "--image=", 8) == 0)
      Image = Argv[I] + 8;
    else
      Args.push_back(Argv[I]);
  }
  int Count = static_cast<int>(Args.size());
  benchmark::Initialize(&Count, Args.data());

  for (const FormatCase &C : FormatCases) {
    const std::string Base = std::string("format/") + C.Name;
    for (const auto &[Suffix, Function] : {std::pair{"/engine", C.Engine},
                                           {"/snprintf", C.Snprintf},
                                           {"/fmt", C.Fmt},
                                           {"/engine-ucs2-console", C.Console}}) {
      benchmark::RegisterBenchmark((Base + Suffix).c_str(), Function)
          ->Repetitions(Repetitions)
          ->MinTime(MinSeconds)
          ->ReportAggregatesOnly(true);
    }
  }
  for (const auto &[Name, Args] :
       {std::pair{"operation/-r", &ReadArgs}, {"operation/-w", &WriteArgs}}) {
    benchmark::RegisterBenchmark(Name, MeasureOperation, *Args)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(Repetitions)
        ->MinTime(MinSeconds)
        ->ReportAggregatesOnly(true);
  }

  SummaryReporter Reporter;
  WarmUp();
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  PrintFormatTable(Reporter);
  PrintOperationTable(Reporter);
  if (!Image.empty())
    PrintImageTable(Image);
  else
    printf("\nNo Kestrel.efi in this build (it needs shell/entry.cpp).\n");
  benchmark::Shutdown();
  return 0;
}
