#include "play/keys.h"

namespace qvb {
namespace {

constexpr char kEscape = '\033';
constexpr char kCtrlC = '\003';
constexpr char kCtrlZ = '\032';

}  // namespace

Action KeyMap::key(char c) {
  const bool solo = soloPending_;
  soloPending_ = false;
  if (c >= '1' && c <= '9') {
    return Action{solo ? ActionType::Solo : ActionType::ToggleMute, c - '1'};
  }
  switch (c) {
    case ' ': return Action{ActionType::Pause};
    case 'q': case 'Q': case kCtrlC: return Action{ActionType::Quit};
    case 'r': case 'R': return Action{ActionType::Restart};
    case 's': case 'S': soloPending_ = true; return Action{};
    case kCtrlZ: return Action{ActionType::Suspend};
    case 'm': case 'M': return Action{ActionType::MuteCursor};
    case 'o': case 'O': return Action{ActionType::SoloCursor};
    case 'a': case 'A': return Action{ActionType::MarkA};
    case 'b': case 'B': return Action{ActionType::MarkB};
    default: return Action{};
  }
}

// A sequence's bytes may come in two reads; what a read leaves unfinished is
// kept for the next one. A read with nothing new settles it: a lone Esc
// quits, a cut sequence is dropped.
std::vector<Action> KeyMap::feed(std::string_view fresh) {
  std::vector<Action> actions;
  if (fresh.empty() && !pending_.empty()) {
    if (pending_ == std::string_view(&kEscape, 1)) actions.push_back(Action{ActionType::Quit});
    pending_.clear();
    return actions;
  }
  pending_.append(fresh);
  const std::string_view bytes = pending_;
  std::size_t i = 0;
  for (; i < bytes.size(); ++i) {
    Action a;
    if (bytes[i] == kEscape) {
      if (i + 1 == bytes.size()) break;  // Esc alone, or a sequence's first byte
      if (bytes[i + 1] != '[' && bytes[i + 1] != 'O') {
        a = Action{ActionType::Quit};
      } else {
        // The sequence runs to a letter or '~' (F-keys, modified arrows).
        std::size_t end = i + 2;
        while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~')) ++end;
        if (end == bytes.size()) break;  // its end is still to come
        soloPending_ = false;
        if (end == i + 2 && bytes[end] == 'C') a = Action{ActionType::SeekForward};
        if (end == i + 2 && bytes[end] == 'D') a = Action{ActionType::SeekBack};
        if (end == i + 2 && bytes[end] == 'A') a = Action{ActionType::CursorUp};
        if (end == i + 2 && bytes[end] == 'B') a = Action{ActionType::CursorDown};
        i = end;
      }
    } else {
      a = key(bytes[i]);
    }
    if (a.type != ActionType::None) actions.push_back(a);
  }
  pending_.erase(0, i);
  return actions;
}

}  // namespace qvb
