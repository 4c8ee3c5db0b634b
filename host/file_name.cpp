#include "host/file_name.h"

namespace qvb {

// Elsewhere a path is the name's bytes, whatever they are.
std::filesystem::path pathOf(std::string_view name) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
  return std::filesystem::path(name);
#endif
}

std::string nameOf(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
#else
  return path.string();
#endif
}

bool sameFile(std::string_view a, std::string_view b) {
  std::error_code ec;
  return std::filesystem::equivalent(pathOf(a), pathOf(b), ec);
}

}  // namespace qvb
