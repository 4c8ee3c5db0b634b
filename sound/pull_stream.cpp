#include "sound/pull_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "sound/mixer.h"
#include "sound/voice.h"

namespace qvb {

PullStream::PullStream(Mixer& mixer, const AudioFormat& format)
    : mixer_(mixer), format_(format), frameBytes_(std::max(1, format.bytesPerSample * format.channels)) {
  // The pre-fill runs before the song's timers exist, so only the voices
  // move: silent, as the constructor left them. The other layouts' renderers
  // leave a voice as it is.
  if (format.bytesPerSample != 2 || format.channels != 2) return;
  std::vector<Voice*> voices(static_cast<std::size_t>(mixer.voiceCount()));
  const int count = mixer.CopyVoices(voices.data(), mixer.voiceCount());
  auto* samples = reinterpret_cast<std::int16_t*>(buffer_.data());
  for (int b = 0; b < kWaveBufferCount; ++b) {
    for (int i = 0; i < count; ++i) {
      voices[static_cast<std::size_t>(i)]->Render(format.sampleRate, samples, kWaveBufferBytes / 2);
    }
  }
}

void PullStream::fillBuffer(std::uint8_t* buffer) {
  std::memset(buffer, 0, kWaveBufferBytes);
  Mixer::Fill(&format_, &mixer_, buffer, kWaveBufferBytes);
}

void PullStream::pull(std::uint8_t* out, std::int64_t bytes) {
  while (bytes > 0) {
    if (held_ == 0 && bytes >= kWaveBufferBytes) {
      fillBuffer(out);
      out += kWaveBufferBytes;
      bytes -= kWaveBufferBytes;
      pulledBytes_ += kWaveBufferBytes;
      continue;
    }
    if (held_ == 0) {
      fillBuffer(buffer_.data());
      held_ = kWaveBufferBytes;
    }
    const int take = static_cast<int>(std::min<std::int64_t>(bytes, held_));
    std::memcpy(out, buffer_.data() + (kWaveBufferBytes - held_), static_cast<std::size_t>(take));
    held_ -= take;
    out += take;
    bytes -= take;
    pulledBytes_ += take;
  }
}

void PullStream::pullFrames(std::int16_t* out, std::int64_t frames) {
  pull(reinterpret_cast<std::uint8_t*>(out), frames * frameBytes_);
}

void PullStream::skipFrames(std::int64_t frames) {
  std::int64_t bytes = frames * frameBytes_;
  while (bytes > 0) {
    // Straight through the held buffer; whole buffers are filled in it too.
    const std::int64_t take = held_ > 0 ? std::min<std::int64_t>(bytes, held_)
                                        : std::min<std::int64_t>(bytes, kWaveBufferBytes);
    if (held_ == 0) {
      fillBuffer(buffer_.data());
      held_ = kWaveBufferBytes;
    }
    held_ -= static_cast<int>(take);
    bytes -= take;
    pulledBytes_ += take;
  }
}

}  // namespace qvb
