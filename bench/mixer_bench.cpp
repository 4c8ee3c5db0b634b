// Render throughput of the Mixer's fill: how many times faster than real time
// (44100 frames a second) one core renders, per voice type and voice count.
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

void BM_MixerFill(benchmark::State& state) {
  const auto type = static_cast<unsigned>(state.range(0));
  const int voiceCount = static_cast<int>(state.range(1));
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

  const qvb::AudioFormat format;
  std::vector<std::uint8_t> buffer(qvb::kWaveBufferBytes);
  for (auto _ : state) {
    std::fill(buffer.begin(), buffer.end(), 0);
    qvb::Mixer::Fill(&format, &mixer, buffer.data(), qvb::kWaveBufferBytes);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * (qvb::kWaveBufferBytes / 4);
  // Seconds of 44100 Hz audio rendered per second: the multiple of real time.
  state.counters["audio_s"] = benchmark::Counter(frames / 44100.0, benchmark::Counter::kIsRate);
}

void voiceArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"type", "voices"});
  for (int type = 0; type <= 4; ++type) {
    for (int voices : {1, 4, 8, 26}) b->Args({type, voices});
  }
}

BENCHMARK(BM_MixerFill)->Apply(voiceArgs);

}  // namespace
