// libFuzzer harness: the sequencer over arbitrary track bytes. The first byte
// picks one to sixteen channels; the rest is cut into that many blocks, each
// copied to an allocation of exactly its size so that any read past a block
// is caught. Ticks and effect frames then run as the Mixer would call them,
// on the voices of a Mixer (with no device) that TEMPO commands reach.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "song/pitch_tables.h"
#include "song/sequencer.h"
#include "song/track.h"
#include "sound/mixer.h"
#include "sound/voice.h"

namespace {

constexpr int kTicks = 2048;
constexpr int kMaxChannels = 16;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int channels = data[0] % kMaxChannels + 1;
  const std::size_t payload = size - 1;
  const std::size_t share = payload / static_cast<std::size_t>(channels);

  std::vector<std::unique_ptr<std::uint8_t[]>> blocks;
  std::vector<qvb::Track> tracks(static_cast<std::size_t>(channels));
  qvb::Mixer mixer(channels);
  std::vector<qvb::Voice*> voices(static_cast<std::size_t>(channels), nullptr);
  check(mixer.CopyVoices(voices.data(), channels) == channels);
  std::size_t offset = 1;
  for (int i = 0; i < channels; ++i) {
    // The last channel takes what the even split leaves over.
    const std::size_t length = i == channels - 1 ? size - offset : share;
    blocks.push_back(std::make_unique<std::uint8_t[]>(length));
    std::copy(data + offset, data + offset + length, blocks.back().get());
    offset += length;
    tracks[static_cast<std::size_t>(i)].data = blocks.back().get();
    tracks[static_cast<std::size_t>(i)].length = static_cast<std::int32_t>(length);
    tracks[static_cast<std::size_t>(i)].wait = 1;
  }

  qvb::DriverContext context;
  context.noteFrequency = qvb::kNoteFrequency.data();
  context.periodFrequency = qvb::kPeriodFrequency.data();
  context.notePeriod = qvb::kNotePeriod.data();
  context.channelCount = channels;
  context.voices = voices.data();
  context.tracks = tracks.data();
  context.tickInterval = 368;
  context.mixer = &mixer;

  for (int t = 0; t < kTicks; ++t) {
    // Two effect frames per tick, the first one on the tick's own position.
    qvb::effectFrame(context);
    qvb::tick(context);
    qvb::effectFrame(context);
    for (const qvb::Track& track : tracks) {
      check(track.pos >= 0 && track.pos <= track.length);
      check(track.wait >= 0);
      check(track.period >= 0 && track.period <= qvb::kMaxPeriod);
      check(track.loopMark >= 0 && track.loopMark <= track.length);
      for (int level = 0; level < qvb::kRepeatLevels; ++level) check(track.repeatCount[level] >= 0);
    }
    check(context.tickInterval >= 0);
  }
  return 0;
}
