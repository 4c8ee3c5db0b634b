// Renders a song offline: the player starts it on a Mixer without an output,
// and the session pulls the sound from it block after block, cut as a sound
// card's output would be, so every sample is the one a played song makes. The sequencer's events tell where the song ends or has looped often
// enough; the session cuts the sound there (or at an exact length) and fades
// it out if asked to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "render/loop_points.h"
#include "song/sequencer_events.h"

namespace qvb {

class Mixer;

inline constexpr std::int64_t kRenderRate = 44100;
// Songs that neither finish nor loop often enough stop here: ten minutes.
inline constexpr std::int64_t kDefaultCapFrames = 10 * 60 * kRenderRate;

struct RenderOptions {
  std::int64_t lengthFrames = -1;  // exact length of the file; -1 = up to the song's end
  int loops = 2;                   // jumps back to the mark that make a looping channel done
  std::int64_t fadeFrames = 0;     // linear fade-out length
  std::int64_t capFrames = kDefaultCapFrames;
  // Also told every sequencer event, after the session's own loop points
  // (null: nobody else); it runs inside the pulls, as on a device host.
  SequencerObserver* observer = nullptr;
};

struct RenderResult {
  std::int64_t framesWritten = 0;
  // Where every channel had finished or looped often enough; -1 if the
  // render stopped before that.
  std::int64_t endFrame = -1;
  bool finished = false;  // every channel had finished there: silence follows
  bool capped = false;    // stopped at the cap instead
  std::int64_t fadeStart = -1;
  std::vector<ChannelEvents> channels;
};

// Receives the sound: interleaved stereo 16-bit samples, frames of them.
// Returns false to stop the render (a write failed).
using SampleSink = std::function<bool(const std::int16_t* samples, std::int64_t frames)>;
using ProgressSink = std::function<void(std::int64_t framesWritten)>;

// Renders the QVB image; false if it cannot be played or the sink refused.
bool renderSong(const std::uint8_t* image, std::size_t size, const RenderOptions& options,
                const SampleSink& sink, RenderResult& result,
                const ProgressSink& progress = {});

// Scales frames [fadeStart, fadeStart + fadeLength) of a stretch that begins
// at frame first: frame fadeStart + k keeps (fadeLength - k) / fadeLength of
// its level, truncated toward zero. Frames outside the fade are left alone.
void applyFade(std::int16_t* samples, std::int64_t frames, std::int64_t first,
               std::int64_t fadeStart, std::int64_t fadeLength);

}  // namespace qvb
