// The synthesizer core: one Voice per song channel, 256 user wave slots, two
// sample-accurate timers and the wave output. Its fill cuts each output buffer
// at the exact values where a timer falls due, renders every voice up to
// there, runs the timer's callback and goes on.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "sound/audio_format.h"
#include "sound/audio_platform.h"
#include "sound/voice.h"
#include "sound/wave_out.h"
#include "sound/wave_slots.h"

namespace qvb {

using TimerCallback = void (*)(void* context);

class Mixer {
 public:
  // Creates the voices and, if that succeeded, the output on the given platform
  // (which already renders the first eight buffers through Fill). With
  // WaveOut::Begin::Later the device waits for StartOutput().
  Mixer(int voiceCount, AudioPlatform& platform, WaveOut::Begin begin = WaveOut::Begin::Now);
  // Voices only, no output: a pull host (offline render, an audio callback, a
  // shared AudioOutput) calls Fill with this Mixer as context itself.
  explicit Mixer(int voiceCount);
  ~Mixer();
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  bool CreateVoices(unsigned count);
  void DestroyVoices();
  int CopyVoices(Voice** dest, int max) const;
  void SetWave(int index, const std::uint8_t* data);
  bool SetTimer1(int interval, TimerCallback callback, void* context);
  bool SetTimer2(int interval, TimerCallback callback, void* context);
  bool SetTimer1Interval(int interval);
  bool SetTimer2Interval(int interval);
  // A muted voice keeps running (phase, noise position, everything the
  // sequencer writes) but adds nothing, so unmuting it sounds exactly as if it
  // had never been muted. Safe to call while another thread fills.
  void SetMuted(int index, bool muted);
  bool muted(int index) const;
  // A Mixer that does not render runs its timers and their callbacks exactly
  // where it would and leaves the buffers as they are: for hosts that follow
  // only what the song does (the Game Boy exporter). Set it while no fill runs.
  void SetRendering(bool rendering) { rendering_ = rendering; }

  // The fill handed to the output; context is the Mixer. Runs a timer only when
  // its interval is above 0 and its callback is set; an interval that drops to
  // 0 inside a callback switches that timer off for the rest of the buffer.
  static void Fill(const AudioFormat* format, void* context, std::uint8_t* buffer,
                   std::int32_t bytes);

  // Frames of the stream this Mixer's fill rendered before the point it has
  // reached: inside a timer callback, the first frame that sounds what the
  // callback changes. A split inside a frame counts that frame as after the
  // split, as the voices render it. Read it from the callbacks, or while no
  // fill runs.
  std::int64_t framePosition() const { return streamFrames_ + fillPosition_ / 2; }

  int voiceCount() const { return voiceCount_; }
  const WaveOut* output() const { return output_.get(); }
  // Starts an output made with WaveOut::Begin::Later.
  void StartOutput();
  const WaveSlots& waveSlots() const { return *waveSlots_; }

 private:
  enum class Layout { Stereo16, Mono16, Stereo8, Mono8 };
  void fill(const AudioFormat& format, std::uint8_t* buffer, std::int32_t bytes);
  // Renders every voice over the frames between two positions counted in
  // 16-bit stereo values (two per frame), whatever the output layout.
  void renderSpan(Layout layout, int sampleRate, std::uint8_t* buffer, long long from,
                  long long to);
  // Runs render on every voice, the muted ones silent.
  template <class Render>
  void eachVoice(Render render);


  std::unique_ptr<WaveOut> output_;
  int voiceCount_ = 0;
  std::vector<std::unique_ptr<Voice>> voices_;
  std::int64_t streamFrames_ = 0;  // whole frames of the fills before the running one
  long long fillPosition_ = 0;     // the running fill's position, in 16-bit stereo values
  std::unique_ptr<std::atomic<bool>[]> muted_;  // one per voice
  std::int32_t timer1Interval_ = 0;
  std::int32_t timer2Interval_ = 0;
  std::int32_t timer1Countdown_ = 0;
  std::int32_t timer2Countdown_ = 0;
  // Published last (release) by SetTimer*, read first (acquire) by the fill on
  // the output's thread, so a fill that sees a callback sees its context and
  // countdown too.
  std::atomic<TimerCallback> timer1Callback_{nullptr};
  std::atomic<TimerCallback> timer2Callback_{nullptr};
  void* timer1Context_ = nullptr;
  void* timer2Context_ = nullptr;
  std::unique_ptr<WaveSlots> waveSlots_;
  bool rendering_ = true;
};

}  // namespace qvb
