#include "render/render_session.h"

#include <algorithm>

#include "render/offline_platform.h"
#include "song/qvb_player.h"

namespace qvb {

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
  OfflinePlatform output;
  QvbPlayer player(image, size);
  if (player.getStatus() < 0) return false;
  SongWatch watch(image, size, options.loops);
  if (!watch.ok()) return false;
  // The player installs its timers before any buffer comes back from the
  // output, so every refill from here on runs the song.
  if (player.play(output) != 1) return false;

  const bool exactLength = options.lengthFrames >= 0;
  std::int64_t target = exactLength ? options.lengthFrames : -1;
  std::int64_t fadeLength = 0;
  if (exactLength && options.fadeFrames > 0) {
    fadeLength = std::min(options.fadeFrames, target);
    result.fadeStart = target - fadeLength;
  }

  std::int64_t rendered = 0;  // frames of the stream made so far
  std::vector<std::int16_t> samples;
  while (target < 0 || rendered < target) {
    if (!output.finishNext()) return false;
    samples.assign(output.lastFill().begin(), output.lastFill().end());
    const std::int64_t frames = static_cast<std::int64_t>(samples.size() / 2);
    if (frames == 0) return false;

    std::int64_t watchTo = rendered + frames;
    if (!exactLength) watchTo = std::min(watchTo, options.capFrames);
    else watchTo = std::min(watchTo, target);
    watch.advanceTo(watchTo);
    if (target < 0) {
      if (watch.endFrame() >= 0 || watch.position() >= options.capFrames) {
        result.capped = watch.endFrame() < 0;
        const std::int64_t end = result.capped ? options.capFrames : watch.endFrame();
        const bool silentAfter = !result.capped && watch.finishedAtEnd();
        fadeLength = silentAfter ? 0 : options.fadeFrames;
        if (fadeLength > 0) result.fadeStart = end;
        target = end + fadeLength;
      }
    }

    const std::int64_t take = target < 0 ? frames : std::min(frames, target - rendered);
    applyFade(samples.data(), take, rendered, result.fadeStart, fadeLength);
    if (take > 0 && !sink(samples.data(), take)) return false;
    rendered += take;
    result.framesWritten = rendered;
    if (progress) progress(rendered);
  }
  result.endFrame = watch.endFrame();
  result.finished = result.endFrame >= 0 && watch.finishedAtEnd();
  result.channels = watch.channels();
  return true;
}

}  // namespace qvb
