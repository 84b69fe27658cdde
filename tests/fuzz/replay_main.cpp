// Replays a fuzz target's seed corpus (every file of the folders or files
// named on the command line) through its LLVMFuzzerTestOneInput, so that the
// ordinary test run exercises every fuzz target. A failing input aborts.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files(argv + 1, argv + argc);
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) continue;
    for (const auto& e : std::filesystem::recursive_directory_iterator(argv[i])) files.push_back(e.path());
  }
  int count = 0;
  for (const auto& file : files) {
    if (!std::filesystem::is_regular_file(file)) continue;
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  // Also the empty input, which every target must take.
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
