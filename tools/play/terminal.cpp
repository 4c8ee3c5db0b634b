#include "play/terminal.h"

namespace qvb {

void Terminal::draw(const std::string& screen) { writeOut("\033[H" + screen + "\033[J"); }

std::string screenText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\033[K\r\n";
  return text;
}

}  // namespace qvb
