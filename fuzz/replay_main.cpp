// Without libFuzzer: runs a fuzz target over the files and folders given, so the seed
// corpus is replayed as an ordinary test in every build.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    auto replay = [&runs](const std::filesystem::path& file) {
      std::ifstream in(file, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      // Every prefix too: truncated input is the commonest damage.
      for (size_t n = 0; n < bytes.size(); n += 1 + bytes.size() / 64) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), n);
      }
      ++runs;
    };
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        replay(entry.path());
    } else {
      replay(arg);
    }
  }
  std::printf("replayed %d inputs\n", runs);
  return runs > 0 ? 0 : 1;
}
