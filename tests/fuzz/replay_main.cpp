// Runs fuzz inputs through a target without libFuzzer: every file named on the command line,
// and every file inside each directory named, in name order. Built into each target as a plain
// test so the checked-in corpora and the regressions replay under ctest.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "tests/fuzz/fuzz_support.h"

namespace {

// Each input in a heap block of exactly its size, as libFuzzer hands it over.
void RunFile(const std::filesystem::path &Path) {
  std::ifstream In(Path, std::ios::binary);
  std::vector<char> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  auto Copy = std::make_unique<uint8_t[]>(Bytes.size());
  std::copy(Bytes.begin(), Bytes.end(), Copy.get());
  LLVMFuzzerTestOneInput(Copy.get(), Bytes.size());
}

} // namespace

int main(int Argc, char **Argv) {
  size_t Count = 0;
  for (int I = 1; I < Argc; I++) {
    std::filesystem::path Path(Argv[I]);
    std::vector<std::filesystem::path> Files;
    if (std::filesystem::is_directory(Path)) {
      for (const auto &Entry : std::filesystem::directory_iterator(Path))
        if (Entry.is_regular_file())
          Files.push_back(Entry.path());
      std::sort(Files.begin(), Files.end());
    } else {
      Files.push_back(Path);
    }
    for (const auto &File : Files) {
      RunFile(File);
      Count++;
    }
  }
  printf("%zu inputs replayed\n", Count);
  return Count == 0 ? 1 : 0;
}
