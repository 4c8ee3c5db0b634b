#include "sound/mixer.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "sound/wave_out.h"

namespace qvb {
namespace {

// Beyond any song's channel count; a larger request is refused like a failed allocation.
constexpr unsigned kMaxVoices = 1u << 16;

// One interval unit is four 16-bit values (two stereo frames).
std::int32_t reloadOf(std::int32_t interval) {
  const long long values = 4LL * interval;
  return static_cast<std::int32_t>(std::min<long long>(values, INT_MAX));
}

}  // namespace

Mixer::Mixer(int voiceCount, AudioPlatform& platform, WaveOut::Begin begin)
    : waveSlots_(std::make_unique<WaveSlots>()) {
  if (voiceCount < 0 || !CreateVoices(static_cast<unsigned>(voiceCount))) return;
  output_ = std::make_unique<WaveOut>(&Mixer::Fill, this, nullptr, platform, begin);
}

void Mixer::StartOutput() {
  if (output_) output_->Start();
}

Mixer::Mixer(int voiceCount) : waveSlots_(std::make_unique<WaveSlots>()) {
  if (voiceCount >= 0) CreateVoices(static_cast<unsigned>(voiceCount));
}

Mixer::~Mixer() {
  // The output goes first, so no fill can run while voices and slots are freed.
  output_.reset();
  DestroyVoices();
  waveSlots_.reset();
}

bool Mixer::CreateVoices(unsigned count) {
  DestroyVoices();
  voiceCount_ = 0;
  if (count == 0) return true;
  if (count > kMaxVoices) return false;
  voices_.reserve(count);
  muted_ = std::make_unique<std::atomic<bool>[]>(count);
  for (unsigned i = 0; i < count; ++i) voices_.push_back(std::make_unique<Voice>(waveSlots_.get()));
  voiceCount_ = static_cast<int>(count);
  return true;
}

void Mixer::DestroyVoices() {
  voices_.clear();
  voices_.shrink_to_fit();
  muted_.reset();
  voiceCount_ = 0;
}

int Mixer::CopyVoices(Voice** dest, int max) const {
  if (dest == nullptr || max <= 0) return 0;
  const int n = std::min(voiceCount_, max);
  for (int i = 0; i < n; ++i) dest[i] = voices_[static_cast<std::size_t>(i)].get();
  return n;
}

void Mixer::SetWave(int index, const std::uint8_t* data) {
  if (!waveSlots_ || data == nullptr || index < 0 || index >= kWaveSlotCount) return;
  auto samples = std::make_unique<WaveSamples>();
  std::memcpy(samples->data(), data, kWaveLength);
  (*waveSlots_)[static_cast<std::size_t>(index)] = std::move(samples);
}

void Mixer::SetMuted(int index, bool muted) {
  if (index < 0 || index >= voiceCount_) return;
  muted_[static_cast<std::size_t>(index)].store(muted, std::memory_order_relaxed);
}

bool Mixer::muted(int index) const {
  if (index < 0 || index >= voiceCount_) return false;
  return muted_[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
}

bool Mixer::SetTimer1(int interval, TimerCallback callback, void* context) {
  if (timer1Callback_.load(std::memory_order_acquire) != nullptr) return false;
  timer1Interval_ = interval;
  timer1Countdown_ = interval;
  timer1Context_ = context;
  timer1Callback_.store(callback, std::memory_order_release);
  return true;
}

bool Mixer::SetTimer2(int interval, TimerCallback callback, void* context) {
  if (timer2Callback_.load(std::memory_order_acquire) != nullptr) return false;
  timer2Interval_ = interval;
  timer2Countdown_ = interval;
  timer2Context_ = context;
  timer2Callback_.store(callback, std::memory_order_release);
  return true;
}

bool Mixer::SetTimer1Interval(int interval) {
  timer1Interval_ = interval;
  timer1Countdown_ = interval;
  return true;
}

bool Mixer::SetTimer2Interval(int interval) {
  timer2Interval_ = interval;
  timer2Countdown_ = interval;
  return true;
}

void Mixer::Fill(const AudioFormat* format, void* context, std::uint8_t* buffer, std::int32_t bytes) {
  if (format == nullptr || context == nullptr) return;
  static_cast<Mixer*>(context)->fill(*format, buffer, bytes);
}

void Mixer::fill(const AudioFormat& format, std::uint8_t* buffer, std::int32_t bytes) {
  if (voiceCount_ == 0 || buffer == nullptr || bytes <= 0) return;
  Layout layout;
  if (format.bytesPerSample == 2 && format.channels == 2) {
    layout = Layout::Stereo16;
  } else if (format.bytesPerSample == 2 && format.channels == 1) {
    layout = Layout::Mono16;
  } else if (format.bytesPerSample == 1 && format.channels == 2) {
    layout = Layout::Stereo8;
  } else if (format.bytesPerSample == 1 && format.channels == 1) {
    layout = Layout::Mono8;
  } else {
    return;
  }
  const bool wide = format.bytesPerSample == 2;
  if (wide && reinterpret_cast<std::uintptr_t>(buffer) % alignof(std::int16_t) != 0) return;
  const int rate = format.sampleRate;

  // The timers count 16-bit stereo values in every layout, so a song keeps its
  // speed whatever format the device took.
  const long long samples = wide ? bytes / 2 : bytes;
  const long long total = format.channels == 1 ? 2 * samples : samples;

  const TimerCallback callback1 = timer1Callback_.load(std::memory_order_acquire);
  const TimerCallback callback2 = timer2Callback_.load(std::memory_order_acquire);
  bool on1 = callback1 != nullptr && timer1Interval_ > 0;
  bool on2 = callback2 != nullptr && timer2Interval_ > 0;

  long long& position = fillPosition_;
  position = 0;
  while (position < total) {
    // An interval set to 0 (or below) by a callback means off; leaving the
    // timer on would call it again and again at the same place.
    on1 = on1 && timer1Interval_ > 0;
    on2 = on2 && timer2Interval_ > 0;
    const long long left = total - position;
    if (!on1 && !on2) {
      if (rendering_) renderSpan(layout, rate, buffer, position, total);
      break;
    }
    // A countdown already at or below 0 (moved by the other timer's callback)
    // is overdue and falls due here.
    const long long due1 = on1 ? std::max<long long>(timer1Countdown_, 0) : LLONG_MAX;
    const long long due2 = on2 ? std::max<long long>(timer2Countdown_, 0) : LLONG_MAX;
    const long long step = std::min(due1, due2);
    if (step > left) {
      if (rendering_) renderSpan(layout, rate, buffer, position, total);
      if (on1) timer1Countdown_ -= static_cast<std::int32_t>(left);
      if (on2) timer2Countdown_ -= static_cast<std::int32_t>(left);
      break;
    }
    if (rendering_) renderSpan(layout, rate, buffer, position, position + step);
    position += step;
    const bool fire1 = due1 == step;
    const bool fire2 = due2 == step;
    // Timer 1 first on a tie; reloads read the intervals after the callbacks.
    if (fire1) callback1(timer1Context_);
    if (fire2) callback2(timer2Context_);
    const auto delta = static_cast<std::int32_t>(step);
    if (on1) timer1Countdown_ = fire1 ? reloadOf(timer1Interval_) : timer1Countdown_ - delta;
    if (on2) timer2Countdown_ = fire2 ? reloadOf(timer2Interval_) : timer2Countdown_ - delta;
  }

  streamFrames_ += total / 2;
  position = 0;

  if (!wide) {
    // The voices added signed values; 8-bit PCM is unsigned around 128.
    for (std::int32_t i = 0; i < bytes; ++i) buffer[i] ^= 0x80;
  }
}

// A muted voice renders at level 0: the render then advances its state
// exactly as when heard and adds nothing.
template <class Render>
void Mixer::eachVoice(Render render) {
  for (std::size_t i = 0; i < voices_.size(); ++i) {
    Voice& voice = *voices_[i];
    if (!muted_[i].load(std::memory_order_relaxed)) {
      render(voice);
      continue;
    }
    const std::int32_t right = voice.volumeRight;
    const std::int32_t left = voice.volumeLeft;
    voice.volumeRight = voice.volumeLeft = 0;
    render(voice);
    voice.volumeRight = right;
    voice.volumeLeft = left;
  }
}

void Mixer::renderSpan(Layout layout, int sampleRate, std::uint8_t* buffer, long long from,
                       long long to) {
  // Whole frames only: a split inside a frame renders that frame after the split.
  const long long first = from / 2;
  const int frames = static_cast<int>(to / 2 - first);
  if (frames <= 0) return;
  // The layout is chosen once per span, then every voice renders it in one call.
  auto* wide = reinterpret_cast<std::int16_t*>(buffer);
  switch (layout) {
    case Layout::Stereo16:
      eachVoice([&](Voice& v) { v.Render(sampleRate, wide + 2 * first, 2 * frames); });
      break;
    case Layout::Mono16:
      eachVoice([&](Voice& v) { v.Render16Mono(sampleRate, wide + first, frames); });
      break;
    case Layout::Stereo8:
      eachVoice([&](Voice& v) { v.Render8Stereo(sampleRate, buffer + 2 * first, 2 * frames); });
      break;
    case Layout::Mono8:
      eachVoice([&](Voice& v) { v.Render8Mono(sampleRate, buffer + first, frames); });
      break;
  }
}

}  // namespace qvb
