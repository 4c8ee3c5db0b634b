// Readable names for value-parameterised cases whose parameter has no name of
// its own: the case's number and its text with every run of characters that
// may not stand in a test name turned into one underscore, cut to a
// readable length. Without a name
// ctest would show the parameter as a dump of its bytes.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

namespace qvb::test {

inline std::string caseName(std::size_t index, std::string_view text) {
  std::string name = (index < 10 ? "0" : "") + std::to_string(index);
  bool gap = true;
  constexpr std::size_t kMaxLength = 40;
  for (const char c : text) {
    if (name.size() >= kMaxLength) break;
    const bool keep = std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (keep && gap) name += '_';
    if (keep) name += c;
    gap = !keep;
  }
  if (name.find('_') != std::string::npos) return name;
  return name + (text.empty() ? "_empty" : "_symbols");
}

}  // namespace qvb::test
