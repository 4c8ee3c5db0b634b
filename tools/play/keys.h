// The keys of qvbplay: the bytes a terminal sends, read as keys, and the
// keys turned into what the player does. `s` waits for a channel number to
// solo; any other key after it is taken as itself.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace qvb {

enum class ActionType { None, Quit, Pause, Restart, SeekBack, SeekForward, ToggleMute, Solo };

struct Action {
  ActionType type = ActionType::None;
  int channel = -1;  // ToggleMute, Solo: 0-based
  bool operator==(const Action&) const = default;
};

class KeyMap {
 public:
  // The actions of one read from the terminal. An escape sequence is taken
  // whole when the read holds it (terminals send one in a single write); a
  // lone Esc quits.
  std::vector<Action> feed(std::string_view bytes);
  bool soloPending() const { return soloPending_; }

 private:
  Action key(char c);
  bool soloPending_ = false;
};

}  // namespace qvb
