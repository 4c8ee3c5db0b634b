#include "tests/support/temp_files.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qvb::test {

// A name made from the clock: a folder taken meanwhile (a test program
// running beside this one) only means one more try.
std::string makeTempDir() {
  namespace fs = std::filesystem;
  const char* base = std::getenv("TMPDIR");
  std::error_code error;
  const fs::path root = base != nullptr && *base != '\0' ? fs::path(base) : fs::temp_directory_path(error);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path dir = root / ("qvbp-test-" + std::to_string(tick) + "-" + std::to_string(attempt));
    if (fs::create_directory(dir, error)) return dir.generic_string();
  }
  return root.generic_string();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace qvb::test
