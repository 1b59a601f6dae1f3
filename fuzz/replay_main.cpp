// Runs a fuzz target over files and directories given on the command line,
// without libFuzzer, so any compiler can replay the corpus. Exits 1 when a
// path cannot be read; a failed check aborts like it does under the fuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replay_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  (void)LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path = argv[i];
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      std::vector<std::filesystem::path> entries;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error)) {
        if (entry.is_regular_file()) entries.push_back(entry.path());
      }
      std::sort(entries.begin(), entries.end());
      for (const auto& entry : entries) {
        ok = replay_file(entry) && ok;
        ++files;
      }
    } else {
      ok = replay_file(path) && ok;
      ++files;
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", path.c_str(), error.message().c_str());
      ok = false;
    }
  }
  std::printf("replayed %d inputs\n", files);
  return ok && files > 0 ? 0 : 1;
}
