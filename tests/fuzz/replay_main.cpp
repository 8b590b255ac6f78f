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

int main(int Argc, char **Argv) {
  namespace fs = std::filesystem;
  size_t Count = 0;
  for (int I = 1; I < Argc; I++) {
    std::vector<fs::path> Files;
    if (fs::is_directory(Argv[I])) {
      for (const auto &Entry : fs::directory_iterator(Argv[I]))
        if (Entry.is_regular_file())
          Files.push_back(Entry.path());
      std::sort(Files.begin(), Files.end());
    } else {
      Files.push_back(Argv[I]);
    }
    for (const auto &File : Files) {
      // Each input in a heap block of exactly its size, as libFuzzer hands it over.
      std::ifstream In(File, std::ios::binary);
      std::vector<char> Bytes((std::istreambuf_iterator<char>(In)), {});
      auto Copy = std::make_unique<uint8_t[]>(Bytes.size());
      std::copy(Bytes.begin(), Bytes.end(), Copy.get());
      LLVMFuzzerTestOneInput(Copy.get(), Bytes.size());
      Count++;
    }
  }
  printf("%zu inputs replayed\n", Count);
  return Count == 0 ? 1 : 0;
}
