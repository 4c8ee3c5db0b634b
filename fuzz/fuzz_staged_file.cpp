// The output files' staging, driven by arbitrary steps in a private folder:
// targets that are missing, regular files, links to files, links to nothing,
// folders and names already taken by a ".part" file, written and committed
// or discarded. A commit that succeeds leaves exactly the new bytes at the
// target; anything else leaves what was there as it was; no ".part" file the
// staging made is ever left behind.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "host/staged_file.h"

namespace fs = std::filesystem;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

std::string contentsOf(const fs::path& path) {
  if (!fs::is_regular_file(path)) return "(none)";
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

int countParts(const fs::path& dir) {
  int parts = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".part") ++parts;
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path root = [] {
    char pattern[] = "/tmp/qvb-fuzz-staged-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return fs::path(made != nullptr ? made : "/tmp");
  }();
  std::error_code ignored;
  const fs::path dir = root / "run";
  fs::remove_all(dir, ignored);
  fs::create_directories(dir);

  for (std::size_t i = 0; i + 1 < size && i < 24; i += 2) {
    const std::uint8_t shape = data[i] % 6;
    const std::uint8_t act = data[i + 1];
    const fs::path target = dir / ("out" + std::to_string(act % 3) + ".qvb");
    const fs::path real = dir / "real.qvb";
    fs::remove_all(target, ignored);
    switch (shape) {
      case 0: break;                                           // missing
      case 1: writeFile(target, "old"); break;                 // a file
      case 2: writeFile(real, "old"); fs::create_symlink(real, target, ignored); break;
      case 3: fs::remove(real, ignored); fs::create_symlink(real, target, ignored); break;
      case 4: fs::create_directory(target, ignored); break;    // no file can go there
      case 5: writeFile(target, "old"); writeFile(target.string() + ".part", "someone's"); break;
    }
    const fs::path written = fs::is_symlink(target) ? real : target;
    const bool existed = fs::is_regular_file(written);
    const std::string before = existed ? contentsOf(written) : "";
    const int partsBefore = countParts(dir);
    const std::string text(act % 7, static_cast<char>('a' + act % 26));
    bool committed = false;
    {
      qvb::StagedFile staged(target.string());
      // As the programs do: a write that failed is never committed.
      if (staged.ok()) {
        if (writeFile(staged.writingTo(), text) && (act & 0x80) != 0) committed = staged.commit();
        else staged.discard();
      }
    }
    if (committed) {
      check(contentsOf(written) == text);
    } else if (existed) {
      check(contentsOf(written) == before);
    }
    check(countParts(dir) == partsBefore);
  }
  return 0;
}
