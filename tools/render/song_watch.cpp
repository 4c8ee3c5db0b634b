#include "render/song_watch.h"

#include <array>

#include "song/qvb_player.h"
#include "sound/audio_platform.h"
#include "sound/mixer.h"
#include "sound/no_device_platform.h"

namespace qvb {

namespace {

// One timer unit: four 16-bit values, two stereo frames.
constexpr int kUnitValues = 4;
constexpr AudioFormat kFormat{2, 2, 44100};

}  // namespace

SongWatch::SongWatch(const std::uint8_t* image, std::size_t size, int loops)
    // The copy's Mixer gets its voices and timers but no output, so nothing
    // but our own fill calls ever runs it.
    : silent_(std::make_unique<NoDevicePlatform>()),
      player_(std::make_unique<QvbPlayer>(image, size)),
      loops_(loops) {
  if (player_->getStatus() < 0 || player_->start() != 1) return;
  if (player_->getChannelCount() > 0 && !player_->mixer()) return;
  events_.resize(static_cast<std::size_t>(player_->getChannelCount()));
  ok_ = true;
  observe();
}

SongWatch::~SongWatch() = default;

void SongWatch::advanceTo(std::int64_t frame) {
  if (!ok_) return;
  std::array<std::int16_t, kUnitValues> scratch{};
  Mixer* mixer = player_->mixer();
  while (position() < frame) {
    if (mixer) {
      scratch.fill(0);
      Mixer::Fill(&kFormat, mixer, reinterpret_cast<std::uint8_t*>(scratch.data()),
                  static_cast<std::int32_t>(sizeof scratch));
    }
    valuePosition_ += kUnitValues;
    observe();
  }
}

void SongWatch::observe() {
  const std::int64_t now = position();
  const Track* tracks = player_->tracks();
  bool allDone = true;
  bool allFinished = true;
  for (std::size_t i = 0; i < events_.size(); ++i) {
    const Track& track = tracks[i];
    ChannelEvents& e = events_[i];
    if (e.markFrame < 0 && track.loopMark != 0) e.markFrame = now;
    if (e.firstJumpFrame < 0 && track.loopJumps > 0) e.firstJumpFrame = now;
    if (e.finishFrame < 0 && track.wait == 0) e.finishFrame = now;
    const bool looped = track.loopMark != 0 && track.loopJumps >= loops_;
    if (e.doneFrame < 0 && (track.wait == 0 || looped)) e.doneFrame = now;
    allDone = allDone && e.doneFrame >= 0;
    allFinished = allFinished && track.wait == 0;
  }
  if (endFrame_ < 0 && allDone) {
    endFrame_ = now;
    finishedAtEnd_ = allFinished;
  }
}

}  // namespace qvb
