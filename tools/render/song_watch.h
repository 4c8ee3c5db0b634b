// Follows a second copy of a song, in steps of one timer unit (two frames), to
// find the exact frames at which its channels pass their loop mark, jump back
// to it and finish. Every tick falls on a unit boundary, so a state change seen
// after a step happened at the frame that step ends on: that is the first
// frame that sounds the change. The copy runs the same player, Mixer and
// sequencer as the render but has no output; its sound is thrown away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qvb {

class QvbPlayer;
class AudioPlatform;

// Frames at which one channel's events happened; -1 = not (yet) seen.
struct ChannelEvents {
  std::int64_t markFrame = -1;       // the loop mark was first passed
  std::int64_t firstJumpFrame = -1;  // the first jump back to the mark
  std::int64_t finishFrame = -1;     // the channel finished (silent from here on)
  std::int64_t doneFrame = -1;       // finished, or jumped back the requested number of times
};

class SongWatch {
 public:
  // loops: how many jumps back to its mark make a looping channel done.
  SongWatch(const std::uint8_t* image, std::size_t size, int loops);
  ~SongWatch();
  SongWatch(const SongWatch&) = delete;
  SongWatch& operator=(const SongWatch&) = delete;

  bool ok() const { return ok_; }
  // Follows the song until at least the given frame (it never goes back).
  void advanceTo(std::int64_t frame);
  std::int64_t position() const { return valuePosition_ / 2; }

  // The first frame at which every channel was done; -1 while not reached.
  std::int64_t endFrame() const { return endFrame_; }
  // Whether every channel had finished (not merely looped) at endFrame.
  bool finishedAtEnd() const { return finishedAtEnd_; }
  const std::vector<ChannelEvents>& channels() const { return events_; }

 private:
  void observe();

  std::unique_ptr<AudioPlatform> silent_;
  std::unique_ptr<QvbPlayer> player_;
  int loops_ = 0;
  bool ok_ = false;
  std::int64_t valuePosition_ = 0;  // 16-bit values rendered so far
  std::int64_t endFrame_ = -1;
  bool finishedAtEnd_ = false;
  std::vector<ChannelEvents> events_;
};

}  // namespace qvb
