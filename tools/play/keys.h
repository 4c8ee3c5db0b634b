// The keys of qvbplay: the bytes a terminal sends, read as keys, and the
// keys turned into what the player does. `s` waits for a channel number to
// solo; any other key after it is taken as itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qvb {

enum class ActionType {
  None, Quit, Pause, Restart, SeekBack, SeekForward, ToggleMute, Solo, Suspend,
  CursorUp, CursorDown,  // pick a channel, for songs of more than nine
  MuteCursor, SoloCursor,
  MarkA, MarkB,  // a section to repeat: its start, then its end (again: no section)
};

struct Action {
  ActionType type = ActionType::None;
  int channel = -1;  // ToggleMute, Solo: 0-based
  bool operator==(const Action&) const = default;
};

class KeyMap {
 public:
  // The actions of one read from the terminal (empty when the wait for keys
  // ran out). An escape sequence cut by the end of a read is finished by the
  // next; an Esc that nothing follows before the next empty read quits.
  std::vector<Action> feed(std::string_view bytes);
  bool soloPending() const { return soloPending_; }

 private:
  Action key(char c);
  bool soloPending_ = false;
  std::string pending_;  // the start of a sequence a read cut off
};

}  // namespace qvb
