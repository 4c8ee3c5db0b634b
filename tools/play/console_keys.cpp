#include "play/console_keys.h"

namespace qvb {
namespace {

// Windows' VK_LEFT, VK_UP, VK_RIGHT and VK_DOWN, in that order.
constexpr std::uint16_t kFirstArrow = 0x25;
constexpr char kArrowFinals[] = "DACB";

std::string oneKey(const ConsoleKey& key) {
  if (key.character != 0) {
    if (key.character >= 0x80) return {};
    return std::string(1, static_cast<char>(key.character));
  }
  if (key.virtualKey >= kFirstArrow && key.virtualKey < kFirstArrow + 4) {
    return std::string("\033[") + kArrowFinals[key.virtualKey - kFirstArrow];
  }
  return {};
}

}  // namespace

std::string terminalBytes(const ConsoleKey& key) {
  if (!key.down) return {};
  const std::string one = oneKey(key);
  std::string bytes;
  for (int i = 0; i < (key.repeat > 0 ? key.repeat : 1); ++i) bytes += one;
  return bytes;
}

}  // namespace qvb
