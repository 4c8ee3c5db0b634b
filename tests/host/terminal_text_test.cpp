// Text from song files on a terminal: control bytes shown, every other byte
// kept. (A pipe gets the bytes as they are: the driver test shows it.)
#include "host/terminal.h"

#include <gtest/gtest.h>

#include <string>

namespace qvb {
namespace {

TEST(TerminalText, ControlBytesBecomeEscapesAndEveryCharacterStaysAsItIs) {
  struct Case {
    std::string text, shown;
  };
  const Case cases[] = {
      {"Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5",
       "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5"},
      {"a\tb \\x1b ~", "a\tb \\x1b ~"},
      {"\x1b]0;title\x07\x1b[2J", "\\x1b]0;title\\x07\\x1b[2J"},
      {"line\r\nnext\x7f", "line\\x0d\\x0anext\\x7f"},
      // U+009B (CSI) as a character; U+00A0 beside it is no control.
      {"\xC2\x9B" "2J\xC2\xA0", "\\xc2\\x9b" "2J\xC2\xA0"},
      // Bytes outside a character: C1 bytes shown, others kept.
      {"\x9B" "2J\xFF", "\\x9b" "2J\xFF"},
      // An overlong ESC, a cut character, a surrogate: no characters, so their C1 bytes show.
      {"\xC0\x9B", "\xC0\\x9b"},
      {"\xE6\x97", "\xE6\\x97"},
      {"\xED\xA0\x80", "\xED\xA0\\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(visibleControls(c.text), c.shown) << c.shown;
}

}  // namespace
}  // namespace qvb
