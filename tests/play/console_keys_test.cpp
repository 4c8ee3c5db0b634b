// A Windows console's key events read as the bytes a terminal sends, so the
// same keys do the same things on both systems.
#include "play/console_keys.h"

#include <gtest/gtest.h>

#include "play/keys.h"

namespace qvb {
namespace {

// Windows' virtual key codes of the keys below.
constexpr std::uint16_t kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28, kShift = 0x10, kF1 = 0x70,
                        kSpace = 0x20, kC = 0x43, kQ = 0x51, kOne = 0x31, kE = 0x45;

TEST(ConsoleKeys, EachKeyGivesTheBytesATerminalSendsForIt) {
  const struct {
    ConsoleKey key;
    const char* bytes;  // what an xterm sends for the same key
  } cases[] = {
      {{true, kRight, 0, 1}, "\033[C"},
      {{true, kLeft, 0, 1}, "\033[D"},
      {{true, kUp, 0, 1}, "\033[A"},
      {{true, kDown, 0, 1}, "\033[B"},
      {{true, kSpace, u' ', 1}, " "},
      {{true, kQ, u'q', 1}, "q"},
      {{true, kC, 3, 1}, "\003"},  // Ctrl-C, with the console's own handling off
      {{true, kOne, u'1', 1}, "1"},
      {{true, kRight, 0, 3}, "\033[C\033[C\033[C"},  // held down
      {{false, kQ, u'q', 1}, ""},                    // released
      {{true, kShift, 0, 1}, ""},
      {{true, kF1, 0, 1}, ""},
      {{true, kE, u'\u00e9', 1}, ""},  // no key of ours lies beyond ASCII
  };
  for (const auto& c : cases) {
    EXPECT_EQ(terminalBytes(c.key), c.bytes) << "key " << c.key.virtualKey << " typing " << int(c.key.character);
  }
}

TEST(ConsoleKeys, ArrowsSeekAndPickAndCtrlCQuitsAsOnATerminal) {
  KeyMap keys;
  std::string bytes;
  for (const std::uint16_t key : {kRight, kLeft, kUp, kDown}) bytes += terminalBytes({true, key, 0, 1});
  bytes += terminalBytes({true, kC, 3, 1});
  std::vector<ActionType> got;
  for (const Action& a : keys.feed(bytes)) got.push_back(a.type);
  EXPECT_EQ(got, (std::vector{ActionType::SeekForward, ActionType::SeekBack, ActionType::CursorUp,
                              ActionType::CursorDown, ActionType::Quit}));
}

}  // namespace
}  // namespace qvb
