#include "play/keys.h"

namespace qvb {
namespace {

constexpr char kEscape = '\033';
constexpr char kCtrlC = '\003';

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
    default: return Action{};
  }
}

std::vector<Action> KeyMap::feed(std::string_view bytes) {
  std::vector<Action> actions;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    Action a;
    if (bytes[i] == kEscape) {
      const bool sequence = i + 2 < bytes.size() && (bytes[i + 1] == '[' || bytes[i + 1] == 'O');
      if (!sequence) {
        a = Action{ActionType::Quit};
      } else {
        soloPending_ = false;
        const char final = bytes[i + 2];
        if (final == 'C') a = Action{ActionType::SeekForward};
        if (final == 'D') a = Action{ActionType::SeekBack};
        i += 2;
        // Longer sequences (F-keys, modified arrows) run to a letter or '~'.
        while (i < bytes.size() && !((bytes[i] >= '@' && bytes[i] <= '~'))) ++i;
      }
    } else {
      a = key(bytes[i]);
    }
    if (a.type != ActionType::None) actions.push_back(a);
  }
  return actions;
}

}  // namespace qvb
