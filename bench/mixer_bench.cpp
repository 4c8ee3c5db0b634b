// Render throughput of the Mixer's fill: how many times faster than real time
// one core renders, per voice type, voice count and output format, and the
// cost of a very wide image whose channels are all silent.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "sound/mixer.h"
#include "sound/wave_out.h"

namespace {

// No devices: the Mixer never opens an output and its fill is driven here.
class Silent final : public qvb::AudioPlatform {
 public:
  int deviceCount() override { return 0; }
  int deviceFormats(int, std::uint32_t&) override { return -1; }
  bool open(int, const qvb::AudioFormat&, qvb::BufferDone, void*) override { return false; }
  void pause() override {}
  bool prepare(qvb::AudioBuffer&) override { return false; }
  bool write(qvb::AudioBuffer&) override { return false; }
  void restart() override {}
  void reset() override {}
  void unprepare(qvb::AudioBuffer&) override {}
  void close() override {}
};

void noTimer(void*) {}

// The four output formats, by index: 16-bit stereo first.
constexpr std::array<qvb::AudioFormat, 4> kFormats = {
    qvb::AudioFormat{2, 2, 44100}, qvb::AudioFormat{2, 1, 44100}, qvb::AudioFormat{1, 2, 44100},
    qvb::AudioFormat{1, 1, 44100}};

// Fills buffers of the given format and reports the audio seconds made per
// CPU second: the multiple of real time.
void fillLoop(benchmark::State& state, qvb::Mixer& mixer, const qvb::AudioFormat& format) {
  std::vector<std::uint8_t> buffer(qvb::kWaveBufferBytes);
  for (auto _ : state) {
    std::fill(buffer.begin(), buffer.end(), 0);
    qvb::Mixer::Fill(&format, &mixer, buffer.data(), qvb::kWaveBufferBytes);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  const int frameBytes = format.bytesPerSample * format.channels;
  const double frames =
      static_cast<double>(state.iterations()) * (qvb::kWaveBufferBytes / frameBytes);
  state.counters["audio_s"] =
      benchmark::Counter(frames / format.sampleRate, benchmark::Counter::kIsRate);
}

void BM_MixerFill(benchmark::State& state) {
  const auto type = static_cast<unsigned>(state.range(0));
  const int voiceCount = static_cast<int>(state.range(1));
  const qvb::AudioFormat format = kFormats[static_cast<std::size_t>(state.range(2))];
  Silent platform;
  qvb::Mixer mixer(voiceCount, platform);
  std::array<std::uint8_t, 32> wave{};
  for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<std::uint8_t>(i * 8 - 128);
  mixer.SetWave(0, wave.data());
  std::vector<qvb::Voice*> voices(static_cast<std::size_t>(voiceCount));
  mixer.CopyVoices(voices.data(), voiceCount);
  for (int i = 0; i < voiceCount; ++i) {
    qvb::Voice* v = voices[static_cast<std::size_t>(i)];
    v->SetType(type);
    v->frequency = static_cast<std::uint16_t>(220 + 37 * i);
    v->volumeLeft = 200;
    v->volumeRight = 150;
  }
  // The player's two timers, so the buffer is cut as in a song.
  mixer.SetTimer1(368, &noTimer, nullptr);
  mixer.SetTimer2(368, &noTimer, nullptr);
  fillLoop(state, mixer, format);
}

void voiceArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"type", "voices", "format"});
  for (int type = 0; type <= 4; ++type) {
    for (int voices : {1, 4, 8, 26}) b->Args({type, voices, 0});
  }
  for (int type = 0; type <= 4; ++type) {
    for (int format = 1; format <= 3; ++format) b->Args({type, 8, format});
  }
}

BENCHMARK(BM_MixerFill)->Apply(voiceArgs);

// The widest image: 65,535 channels that never play a note, with the player's
// timers cutting every buffer. Each voice only has to advance its phase.
void BM_SilentVoices(benchmark::State& state) {
  const int voiceCount = static_cast<int>(state.range(0));
  Silent platform;
  qvb::Mixer mixer(voiceCount, platform);
  mixer.SetTimer1(368, &noTimer, nullptr);
  mixer.SetTimer2(368, &noTimer, nullptr);
  fillLoop(state, mixer, kFormats[0]);
}

BENCHMARK(BM_SilentVoices)->ArgName("voices")->Arg(65535)->Unit(benchmark::kMillisecond);

}  // namespace
