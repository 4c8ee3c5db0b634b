// The one way a host that pulls sound takes it from a Mixer without an
// output of its own (a file render, a browser's audio callback, a shared
// device ring, a seek): the fills a sound card's ring of eight 8192-byte
// buffers makes, whatever lengths the host asks for.
//
// Where a voice's render calls begin can be heard (a pulse of timbre 0 or 8
// and up picks its sign at the start of each call), so sound matches a
// played song only when every fill is cut where the device cuts it: first
// the eight pre-filled buffers, with the voices silent and no timer run, then
// one fill per buffer. A request that ends inside a buffer keeps the rest of
// that buffer for the next request; one that spans whole buffers has them
// filled in place.
#pragma once

#include <array>
#include <cstdint>

#include "sound/audio_format.h"
#include "sound/wave_out.h"

namespace qvb {

class Mixer;

// What pull hosts make: 16-bit stereo at 44100 Hz.
inline constexpr AudioFormat kPullFormat{2, 2, 44100};

class PullStream {
 public:
  // Runs the mixer's voices through the pre-fill's frames at once. The mixer
  // must have made no sound yet and must outlive the stream.
  explicit PullStream(Mixer& mixer, const AudioFormat& format = kPullFormat);
  PullStream(const PullStream&) = delete;
  PullStream& operator=(const PullStream&) = delete;

  // Writes the next bytes of the stream to out (any contents; it is
  // overwritten). A multiple of the format's frame size is expected; the
  // frames of 16-bit formats start at 2-byte aligned addresses.
  void pull(std::uint8_t* out, std::int64_t bytes);
  // The same in frames of interleaved 16-bit stereo (the default format).
  void pullFrames(std::int16_t* out, std::int64_t frames);
  // Runs the stream on by that many frames, throwing the sound away.
  void skipFrames(std::int64_t frames);

  Mixer& mixer() const { return mixer_; }
  const AudioFormat& format() const { return format_; }
  int frameBytes() const { return frameBytes_; }
  // Frames handed out (or skipped) since the pre-fill.
  std::int64_t framesPulled() const { return pulledBytes_ / frameBytes_; }

 private:
  void fillBuffer(std::uint8_t* buffer);

  Mixer& mixer_;
  AudioFormat format_;
  int frameBytes_;
  std::int64_t pulledBytes_ = 0;
  int held_ = 0;  // bytes of buffer_ not handed out yet, at its end
  alignas(std::int16_t) std::array<std::uint8_t, kWaveBufferBytes> buffer_{};
};

}  // namespace qvb
