// Channels are named by letters, A for the first: a source marks a channel's
// lines with its letter, so a song has 26 channels at most. Every message,
// display and file that names a channel names it this way.
#pragma once

#include <string>

namespace qvb {

inline constexpr int kMaxChannels = 26;

// The letter of a 0-based channel; '?' for one no letter names (an image
// may hold more channels than a source can mark).
constexpr char channelLetter(int index) {
  return index >= 0 && index < kMaxChannels ? static_cast<char>('A' + index) : '?';
}

// "channel A".
inline std::string channelName(int index) { return std::string("channel ") + channelLetter(index); }

}  // namespace qvb
