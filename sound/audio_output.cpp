#include "sound/audio_output.h"

#include <thread>

#include "sound/pull_stream.h"
#include "sound/wave_out.h"

namespace qvb {

AudioOutput::AudioOutput(AudioPlatform& platform) : platform_(platform) {
  out_ = std::make_unique<WaveOut>(&AudioOutput::fill, this, nullptr, platform);
  if (out_->running()) {
    const AudioFormat& f = out_->format();
    bufferFrames_.store(kWaveBufferBytes / (f.bytesPerSample * f.channels));
  }
}

AudioOutput::~AudioOutput() { out_.reset(); }

bool AudioOutput::running() const { return out_ && out_->running(); }

const AudioFormat& AudioOutput::format() const { return out_->format(); }

// The source is read inside the count of running fills, and attach swaps it
// before waiting for that count to fall to 0 (both sequentially consistent):
// a fill either sees the new source or is waited for.
void AudioOutput::attach(PullStream* stream) {
  source_.store(stream);
  while (filling_.load() != 0) std::this_thread::yield();
}

void AudioOutput::fill(const AudioFormat* /*format: the stream's own*/, void* context, std::uint8_t* buffer,
                       std::int32_t bytes) {
  auto* self = static_cast<AudioOutput*>(context);
  if (!self->dropping_.load()) self->fills_.fetch_add(1);
  self->filling_.fetch_add(1);
  PullStream* stream = self->source_.load();
  const bool held = self->holding_.load() && !self->dropping_.load();
  if (stream != nullptr && !held && !self->paused_.load()) stream->pull(buffer, bytes);
  self->filling_.fetch_sub(1);
}

bool AudioOutput::stop() {
  detach();
  if (!running()) return false;
  // The buffers handed back are refilled (with silence now) and queued again.
  dropping_.store(true);
  const bool dropped = platform_.drop();
  dropping_.store(false);
  return dropped;
}

// While held, a fill the device asks for before the drop is silence (and is
// dropped); the platform makes no other fill while it hands the queue back.
bool AudioOutput::replace(PullStream* stream) {
  holding_.store(true);
  attach(stream);
  bool dropped = false;
  if (running()) {
    dropping_.store(true);
    dropped = platform_.drop();
    dropping_.store(false);
  }
  holding_.store(false);
  return dropped;
}

std::int64_t AudioOutput::playedFrames() const {
  if (!running()) return 0;
  std::int64_t frames = 0;
  if (platform_.playedFrames(frames)) return frames;
  // Every fill after the eight of the pre-fill follows a finished buffer.
  const std::int64_t finished = fills_.load() - kWaveBufferCount;
  return finished > 0 ? finished * bufferFrames_.load() : 0;
}

}  // namespace qvb
