#include "render/render_session.h"

#include <algorithm>

#include "song/qvb_player.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"
#include "sound/wave_out.h"

namespace qvb {
namespace {

// Frames asked of the stream at a time: large enough that the calls cost
// nothing, small enough to stay in the cache.
constexpr std::int64_t kBlockFrames = 16384;
// The loop figures count every event of the output buffer that holds the
// last frame written (never one past the cap): the renderer has always
// reported them so.
constexpr std::int64_t kReportStretch = kWaveBufferBytes / 4;

// Hands each event to the session's loop points, then to the host's observer.
class BothObservers : public SequencerObserver {
 public:
  BothObservers(SequencerObserver& first, SequencerObserver* second) : first_(first), second_(second) {}
  void onSequencerEvent(const SequencerEvent& event) override {
    first_.onSequencerEvent(event);
    if (second_ != nullptr) second_->onSequencerEvent(event);
  }

 private:
  SequencerObserver& first_;
  SequencerObserver* second_;
};

std::int64_t roundUp(std::int64_t frames, std::int64_t unit) {
  return (frames + unit - 1) / unit * unit;
}

}  // namespace

void applyFade(std::int16_t* samples, std::int64_t frames, std::int64_t first,
               std::int64_t fadeStart, std::int64_t fadeLength) {
  if (fadeLength <= 0) return;
  const std::int64_t from = std::max(first, fadeStart);
  const std::int64_t to = std::min(first + frames, fadeStart + fadeLength);
  for (std::int64_t f = from; f < to; ++f) {
    const std::int64_t keep = fadeStart + fadeLength - f;
    for (int side = 0; side < 2; ++side) {
      std::int16_t& s = samples[2 * (f - first) + side];
      s = static_cast<std::int16_t>(std::int64_t{s} * keep / fadeLength);
    }
  }
}

bool renderSong(const std::uint8_t* image, std::size_t size, const RenderOptions& options,
                const SampleSink& sink, RenderResult& result, const ProgressSink& progress) {
  result = RenderResult{};
  QvbPlayer player(image, size);
  if (player.getStatus() < 0) return false;
  LoopPoints points(player.getChannelCount(), options.loops);
  BothObservers observers(points, options.observer);
  player.setObserver(&observers);
  if (player.start() != 1) return false;
  Mixer* mixer = player.mixer();
  if (mixer == nullptr) return false;
  PullStream stream(*mixer);

  std::vector<std::int16_t> samples(static_cast<std::size_t>(2 * kBlockFrames));

  const bool exactLength = options.lengthFrames >= 0;
  std::int64_t target = exactLength ? options.lengthFrames : -1;
  std::int64_t fadeLength = 0;
  if (exactLength && options.fadeFrames > 0) {
    fadeLength = std::min(options.fadeFrames, target);
    result.fadeStart = target - fadeLength;
  }
  // Events fall on timer units of two frames; the end counts when it falls on
  // the unit that completes the cap or the length.
  const std::int64_t capUnits = roundUp(options.capFrames, 2);
  // The last frame whose events count: known from the start for an exact
  // length, else once the end (or the cap) was reached.
  std::int64_t horizon = exactLength ? roundUp(target, 2) : -1;

  std::int64_t made = 0;      // frames of the stream rendered so far
  std::int64_t written = 0;   // of them, handed to the sink
  while (target < 0 || written < target || made < horizon) {
    std::int64_t frames = kBlockFrames;
    if (target >= 0) frames = std::min(frames, std::max(target, horizon) - made);
    stream.pullFrames(samples.data(), frames);
    const std::int64_t first = made;
    made += frames;

    if (target < 0) {
      const std::int64_t end = points.endFrameUpTo(std::min(made, capUnits));
      if (end >= 0 || made >= capUnits) {
        result.capped = end < 0;
        const std::int64_t stop = result.capped ? options.capFrames : end;
        const bool silentAfter = !result.capped && points.finishedAt(end);
        fadeLength = silentAfter ? 0 : options.fadeFrames;
        if (fadeLength > 0) result.fadeStart = stop;
        target = stop + fadeLength;
        horizon = roundUp(std::min(roundUp(std::max<std::int64_t>(target, 1), kReportStretch),
                                   capUnits), 2);
      }
    }

    const std::int64_t take = std::max<std::int64_t>(0, (target < 0 ? made : std::min(made, target)) - first);
    if (take > 0) {
      applyFade(samples.data(), take, first, result.fadeStart, fadeLength);
      if (!sink(samples.data(), take)) return false;
      written += take;
      result.framesWritten = written;
      if (progress) progress(written);
    }
  }
  result.endFrame = points.endFrameUpTo(horizon);
  result.finished = result.endFrame >= 0 && points.finishedAt(result.endFrame);
  result.channels = points.channelsUpTo(horizon);
  return true;
}

}  // namespace qvb
