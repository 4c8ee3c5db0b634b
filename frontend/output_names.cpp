#include "frontend/output_names.h"

#include <cstddef>

namespace qvb {

namespace {

constexpr unsigned char kCaseBit = 0x20;
constexpr std::size_t kExtensionSize = 4;

// The letter `lower` in the case of `replaced`: upper case when its 0x20 bit is clear.
char inCaseOf(char lower, char replaced) {
  const bool upper = (static_cast<unsigned char>(replaced) & kCaseBit) == 0;
  return upper ? static_cast<char>(static_cast<unsigned char>(lower) & ~kCaseBit) : lower;
}

}  // namespace

bool endsWithExtension(std::string_view name, std::string_view extension) {
  if (extension.size() != kExtensionSize || name.size() < kExtensionSize) return false;
  const std::string_view tail = name.substr(name.size() - kExtensionSize);
  for (std::size_t i = 0; i < kExtensionSize; ++i) {
    if ((static_cast<unsigned char>(tail[i]) | kCaseBit) !=
        (static_cast<unsigned char>(extension[i]) | kCaseBit))
      return false;
  }
  return true;
}

std::string compiledFileName(std::string_view argument) {
  std::string name(argument);
  if (endsWithExtension(argument, ".qvm")) {
    name.back() = inCaseOf('b', name.back());
    return name;
  }
  return name + ".qvb";
}

std::string asmFileName(std::string_view argument) {
  std::string name(argument);
  if (endsWithExtension(argument, ".qvm") || endsWithExtension(argument, ".qvb")) {
    const std::size_t at = name.size() - 3;
    name[at] = inCaseOf('a', name[at]);
    name[at + 1] = inCaseOf('s', name[at + 1]);
    name[at + 2] = inCaseOf('m', name[at + 2]);
    return name;
  }
  return name + ".asm";
}

}  // namespace qvb
