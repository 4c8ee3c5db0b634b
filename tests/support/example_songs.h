// The example songs in examples/, by file name in sorted order, for the tests
// that run every one of them through a host.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace qvb::test {

inline const std::filesystem::path kExamples = std::filesystem::path(QVBP_SOURCE_DIR) / "examples";

inline std::vector<std::string> exampleSongs() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kExamples)) {
    if (entry.path().extension() == ".qvm") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace qvb::test
