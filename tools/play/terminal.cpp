#include "play/terminal.h"

namespace qvb {

std::string screenText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\033[K\r\n";
  return text;
}

}  // namespace qvb
