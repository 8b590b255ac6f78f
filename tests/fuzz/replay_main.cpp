// Runs a fuzz target's checked-in corpus without libFuzzer: every file of the directory named on
// the command line, in name order, each in a heap block of exactly its size as libFuzzer hands
// it over. Built into each target as a plain test so the corpora and the regressions replay
// under ctest; a corpus that is missing or empty fails.
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
  if (Argc != 2 || !fs::is_directory(Argv[1])) {
    fprintf(stderr, "usage: %s CORPUS-DIRECTORY\n", Argv[0]);
    return 1;
  }
  std::vector<fs::path> Files;
  for (const auto &Entry : fs::directory_iterator(Argv[1]))
    if (Entry.is_regular_file())
      Files.push_back(Entry.path());
  std::sort(Files.begin(), Files.end());
  for (const auto &File : Files) {
    std::ifstream In(File, std::ios::binary);
    std::vector<char> Bytes((std::istreambuf_iterator<char>(In)), {});
    auto Copy = std::make_unique<uint8_t[]>(Bytes.size());
    std::copy(Bytes.begin(), Bytes.end(), Copy.get());
    LLVMFuzzerTestOneInput(Copy.get(), Bytes.size());
  }
  printf("%zu inputs replayed\n", Files.size());
  return Files.empty() ? 1 : 0;
}
