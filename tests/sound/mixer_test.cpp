#include "sound/mixer.h"

#include <gtest/gtest.h>

#include <vector>

#include "sound/wave_out.h"
#include "tests/support/fake_audio_platform.h"

namespace qvb {
namespace {

using test::FakeAudioPlatform;
using Event = std::pair<int, int>;  // timer number, 16-bit stereo values rendered before it ran

// Records when each timer runs. The clock voice is a square at 1 Hz: its phase
// grows by 2 per frame, so it reads the number of values rendered so far.
struct Recorder {
  Mixer* mixer = nullptr;
  Voice* clock = nullptr;
  std::vector<Event> events;
  int timer2Calls = 0;
  int tempoOnCall = -1;  // the timer-2 call that sets its interval ...
  int tempo = 0;         // ... to this
  int timer1SetsTimer2To = -1;

  static void Timer1(void* context) {
    auto* self = static_cast<Recorder*>(context);
    self->events.push_back({1, self->clock->phase});
    if (self->timer1SetsTimer2To >= 0 && self->events.size() == 1) {
      self->mixer->SetTimer2Interval(self->timer1SetsTimer2To);
    }
  }
  static void Timer2(void* context) {
    auto* self = static_cast<Recorder*>(context);
    self->events.push_back({2, self->clock->phase});
    if (self->timer2Calls++ == self->tempoOnCall) self->mixer->SetTimer2Interval(self->tempo);
  }
};

struct OfflineMixer {
  FakeAudioPlatform noDevices{std::vector<test::FakeDevice>{}};
  Mixer mixer;
  Recorder recorder;
  explicit OfflineMixer(int voices = 1) : mixer(voices, noDevices) {
    recorder.mixer = &mixer;
    Voice* first = nullptr;
    mixer.CopyVoices(&first, 1);
    recorder.clock = first;
    if (first != nullptr) first->frequency = 1;
  }
  std::vector<std::uint8_t> fill(AudioFormat format = {}, int bytes = kWaveBufferBytes) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(bytes), 0);
    Mixer::Fill(&format, &mixer, buffer.data(), bytes);
    return buffer;
  }
};

TEST(Mixer, BothTimersAt368) {
  OfflineMixer m;
  ASSERT_FALSE(m.mixer.output()->running());  // the fill is driven by hand
  ASSERT_TRUE(m.mixer.SetTimer1(368, &Recorder::Timer1, &m.recorder));
  ASSERT_TRUE(m.mixer.SetTimer2(368, &Recorder::Timer2, &m.recorder));
  m.fill();
  EXPECT_EQ(m.recorder.events, (std::vector<Event>{{1, 368}, {2, 368}, {1, 1840}, {2, 1840}, {1, 3312}, {2, 3312}}));
  m.recorder.events.clear();
  m.fill();  // both countdowns ended the first buffer at 688
  EXPECT_EQ(m.recorder.events, (std::vector<Event>{{1, 4784}, {2, 4784}, {1, 6256}, {2, 6256}, {1, 7728}, {2, 7728}}));
}

TEST(Mixer, TempoSetInsideTheCallbackTakesTheNextPeriod) {
  OfflineMixer m;
  m.recorder.tempoOnCall = 0;
  m.recorder.tempo = 184;
  m.mixer.SetTimer1(368, &Recorder::Timer1, &m.recorder);
  m.mixer.SetTimer2(368, &Recorder::Timer2, &m.recorder);
  m.fill();
  EXPECT_EQ(m.recorder.events, (std::vector<Event>{{1, 368}, {2, 368}, {2, 1104}, {1, 1840}, {2, 1840},
                                                   {2, 2576}, {1, 3312}, {2, 3312}, {2, 4048}}));
}

TEST(Mixer, CountdownEqualToTheRestRunsAtTheEndOfThisBuffer) {
  OfflineMixer m;
  m.mixer.SetTimer1(4096, &Recorder::Timer1, &m.recorder);
  m.fill();
  EXPECT_EQ(m.recorder.events, (std::vector<Event>{{1, 4096}}));
  m.fill();
  m.fill();
  m.fill();
  EXPECT_EQ(m.recorder.events.size(), 1u);  // reloaded to 4 * 4096 values
  m.fill();
  EXPECT_EQ(m.recorder.events.back(), (Event{1, 4096 * 5}));
}

TEST(Mixer, SecondSetTimerIsRefused) {
  OfflineMixer m;
  Recorder other;
  ASSERT_TRUE(m.mixer.SetTimer2(368, &Recorder::Timer2, &m.recorder));
  EXPECT_FALSE(m.mixer.SetTimer2(100, &Recorder::Timer1, &other));
  ASSERT_TRUE(m.mixer.SetTimer1(368, &Recorder::Timer1, &m.recorder));
  EXPECT_FALSE(m.mixer.SetTimer1(100, &Recorder::Timer2, &other));
  m.fill();
  EXPECT_EQ(m.recorder.events.front(), (Event{1, 368}));
  EXPECT_EQ(m.recorder.events[1], (Event{2, 368}));
  EXPECT_EQ(m.recorder.events.size(), 6u);
}

TEST(Mixer, IntervalZeroInsideTheCallbackSwitchesTheTimerOff) {
  for (bool withTimer1 : {false, true}) {
    OfflineMixer m;
    m.recorder.tempoOnCall = 0;
    m.recorder.tempo = 0;
    if (withTimer1) m.mixer.SetTimer1(368, &Recorder::Timer1, &m.recorder);
    m.mixer.SetTimer2(368, &Recorder::Timer2, &m.recorder);
    m.fill();
    m.fill();
    EXPECT_EQ(m.recorder.timer2Calls, 1) << withTimer1;
    EXPECT_EQ(m.recorder.clock->phase, 8192) << "the rest of both buffers rendered";
    EXPECT_EQ(m.recorder.events.size(), withTimer1 ? 7u : 1u);
  }
}

TEST(Mixer, OverdueCountdownFallsDueAtOnce) {
  // Timer 1's callback gives timer 2 a raw countdown of 10, which the passing
  // of timer 1's period has already used up.
  OfflineMixer m;
  m.recorder.timer1SetsTimer2To = 10;
  m.mixer.SetTimer1(368, &Recorder::Timer1, &m.recorder);
  m.mixer.SetTimer2(1000, &Recorder::Timer2, &m.recorder);
  m.fill();
  ASSERT_GE(m.recorder.events.size(), 4u);
  EXPECT_EQ(m.recorder.events[0], (Event{1, 368}));
  EXPECT_EQ(m.recorder.events[1], (Event{2, 368}));
  EXPECT_EQ(m.recorder.events[2], (Event{2, 408}));
  EXPECT_EQ(m.recorder.events[3], (Event{2, 448}));
  EXPECT_EQ(m.recorder.clock->phase, 4096);
}

TEST(Mixer, NoVoicesMeansNoRenderingAndNoTimers) {
  OfflineMixer m(0);
  EXPECT_EQ(m.mixer.voiceCount(), 0);
  m.mixer.SetTimer1(1, &Recorder::Timer1, &m.recorder);
  EXPECT_EQ(m.fill(), std::vector<std::uint8_t>(kWaveBufferBytes, 0));
  EXPECT_TRUE(m.recorder.events.empty());
}

// Every layout runs the timers in units of two frames, and 8-bit output is
// unsigned around 128.
TEST(Mixer, TimersRunInEveryLayout) {
  struct Case {
    AudioFormat format;
    int values;  // 16-bit stereo values that 8192 bytes stand for
    std::uint8_t silence;
  };
  const Case cases[] = {{{2, 2, 44100}, 4096, 0}, {{2, 1, 44100}, 8192, 0},
                        {{1, 2, 44100}, 8192, 0x80}, {{1, 1, 44100}, 16384, 0x80},
                        {{2, 2, 22050}, 4096, 0}};
  for (const Case& c : cases) {
    OfflineMixer m;
    m.mixer.SetTimer1(368, &Recorder::Timer1, &m.recorder);
    const std::vector<std::uint8_t> out = m.fill(c.format);
    std::vector<Event> expected;
    for (int at = 368; at <= c.values; at += 1472) expected.push_back({1, at});
    EXPECT_EQ(m.recorder.events, expected) << c.values;
    EXPECT_EQ(out, std::vector<std::uint8_t>(kWaveBufferBytes, c.silence)) << c.values;
  }
}

// A timer due inside a frame (at an odd value) sees that frame as not yet
// rendered; the fills before count all their frames, in every layout.
TEST(Mixer, FramePositionCountsTheWholeFramesBeforeTheCallback) {
  struct Clock {
    Mixer* mixer;
    std::vector<std::int64_t> frames;
    static void Timer(void* context) {
      auto* self = static_cast<Clock*>(context);
      self->frames.push_back(self->mixer->framePosition());
    }
  };
  const std::pair<AudioFormat, int> layouts[] = {{{2, 2, 44100}, 4}, {{1, 1, 22050}, 1}};
  for (const auto& [format, frameBytes] : layouts) {
    OfflineMixer m;
    Clock clock{&m.mixer, {}};
    m.mixer.SetTimer1(3, &Clock::Timer, &clock);  // due at values 3, 15, 27, 39
    m.fill(format, 10 * frameBytes);
    m.fill(format, 10 * frameBytes);
    EXPECT_EQ(clock.frames, (std::vector<std::int64_t>{1, 7, 13, 19})) << frameBytes;
    EXPECT_EQ(m.mixer.framePosition(), 20) << frameBytes;
  }
}

TEST(Mixer, UnknownLayoutRendersNothing) {
  OfflineMixer m;
  m.mixer.SetTimer1(368, &Recorder::Timer1, &m.recorder);
  EXPECT_EQ(m.fill({3, 2, 44100}), std::vector<std::uint8_t>(kWaveBufferBytes, 0));
  EXPECT_EQ(m.fill({2, 6, 44100}), std::vector<std::uint8_t>(kWaveBufferBytes, 0));
  EXPECT_TRUE(m.recorder.events.empty());
}

// Voices are summed without scaling; a split inside a frame keeps left and right in place.
TEST(Mixer, VoicesAddUpAndOddSplitsKeepChannelsInPlace) {
  for (int bytes : {8192, 8190, 4098, 6}) {
    OfflineMixer m(2);
    Voice* voices[2] = {};
    ASSERT_EQ(m.mixer.CopyVoices(voices, 2), 2);
    for (Voice* v : voices) {
      v->frequency = 0;
      v->volumeLeft = 1;
      v->volumeRight = 2;
    }
    m.mixer.SetTimer1(367, &Recorder::Timer1, &m.recorder);  // raw and odd
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(bytes) + 16, 0x5A);
    std::fill_n(buffer.begin(), bytes, 0);
    const AudioFormat format;
    Mixer::Fill(&format, &m.mixer, buffer.data(), bytes);
    const auto* values = reinterpret_cast<const std::int16_t*>(buffer.data());
    const int whole = bytes / 4 * 2;
    for (int i = 0; i < whole; ++i) {
      ASSERT_EQ(values[i], i % 2 == 0 ? -32 : -64) << "bytes " << bytes << " value " << i;
    }
    for (int i = bytes; i < bytes + 16; ++i) EXPECT_EQ(buffer[static_cast<std::size_t>(i)], 0x5A);
    if (bytes % 4 != 0) {
      EXPECT_EQ(values[whole], 0) << "a half frame stays untouched";
    }
  }
}

// A muted voice is silent and keeps running: once unmuted it sounds exactly
// like a voice that was never muted.
TEST(Mixer, MutedVoiceIsSilentAndUnmutesInStep) {
  OfflineMixer heard;
  OfflineMixer muted;
  for (OfflineMixer* m : {&heard, &muted}) {
    m->recorder.clock->frequency = 440;
    m->recorder.clock->volumeLeft = m->recorder.clock->volumeRight = 15;
  }
  muted.mixer.SetMuted(0, true);
  EXPECT_TRUE(muted.mixer.muted(0));
  const std::vector<std::uint8_t> first = heard.fill();
  EXPECT_NE(first, std::vector<std::uint8_t>(first.size(), 0));
  EXPECT_EQ(muted.fill(), std::vector<std::uint8_t>(first.size(), 0));
  muted.mixer.SetMuted(0, false);
  EXPECT_EQ(muted.fill(), heard.fill());
  EXPECT_EQ(muted.recorder.clock->volumeLeft, 15) << "the sequencer's level is kept";
}

TEST(Mixer, SetWaveReplacesTheSlotAndVoicesHearIt) {
  OfflineMixer m;
  Voice* v = m.recorder.clock;
  v->SetType(Wave);
  v->timbre = 7;
  v->volumeLeft = v->volumeRight = 4;  // multiplier 1
  v->frequency = 0;
  std::uint8_t first[32], second[32];
  for (int i = 0; i < 32; ++i) {
    first[i] = static_cast<std::uint8_t>(10 + i);
    second[i] = static_cast<std::uint8_t>(0xF0 + i);  // negative samples
  }
  EXPECT_EQ(m.fill()[0], 0);  // empty slot: silent
  m.mixer.SetWave(7, first);
  EXPECT_EQ(m.fill()[0], 10);
  m.mixer.SetWave(7, second);
  EXPECT_EQ((*m.mixer.waveSlots()[7])[3], -13);
  const std::vector<std::uint8_t> out = m.fill();
  EXPECT_EQ(reinterpret_cast<const std::int16_t*>(out.data())[0], -16);
  m.mixer.SetWave(256, first);  // outside the slots: ignored
  m.mixer.SetWave(-1, first);
  m.mixer.SetWave(8, nullptr);
  EXPECT_EQ(m.mixer.waveSlots()[8], nullptr);
}

TEST(Mixer, CopyVoicesLendsAtMostMax) {
  OfflineMixer m(3);
  Voice* out[4] = {};
  EXPECT_EQ(m.mixer.CopyVoices(out, 2), 2);
  EXPECT_EQ(out[2], nullptr);
  EXPECT_EQ(m.mixer.CopyVoices(out, 4), 3);
  EXPECT_NE(out[0], out[1]);
  EXPECT_EQ(m.mixer.CopyVoices(out, 0), 0);
  EXPECT_EQ(m.mixer.CopyVoices(nullptr, 4), 0);
}

TEST(Mixer, NegativeVoiceCountGivesNoVoicesAndNoOutput) {
  FakeAudioPlatform fake;
  Mixer mixer(-3, fake);
  EXPECT_EQ(mixer.voiceCount(), 0);
  EXPECT_EQ(mixer.output(), nullptr);
  EXPECT_FALSE(fake.isOpen());
}

TEST(Mixer, PlaysThroughTheOutputExactlyAsRenderedOffline) {
  FakeAudioPlatform fake;
  OfflineMixer twin(2);
  Mixer live(2, fake);
  ASSERT_NE(live.output(), nullptr);
  ASSERT_TRUE(live.output()->running());
  for (int i = 0; i < kWaveBufferCount; ++i) twin.fill();  // the silent pre-fill

  Voice* liveVoices[2] = {};
  Voice* twinVoices[2] = {};
  live.CopyVoices(liveVoices, 2);
  twin.mixer.CopyVoices(twinVoices, 2);
  Recorder liveRecorder;
  liveRecorder.mixer = &live;
  liveRecorder.clock = liveVoices[1];
  twin.recorder.clock = twinVoices[1];
  for (Voice** vs : {liveVoices, twinVoices}) {
    vs[0]->SetType(Pulse);
    vs[0]->frequency = 523;
    vs[0]->volumeLeft = 200;
    vs[0]->volumeRight = 90;
    vs[1]->SetType(Noise);
    vs[1]->volumeLeft = vs[1]->volumeRight = 255;
  }
  live.SetTimer1(368, &Recorder::Timer1, &liveRecorder);
  twin.mixer.SetTimer1(368, &Recorder::Timer1, &twin.recorder);

  std::vector<std::uint8_t> expected(static_cast<std::size_t>(kWaveBufferCount) * kWaveBufferBytes, 0);
  for (int i = 0; i < 10; ++i) {
    const std::vector<std::uint8_t> b = twin.fill();
    expected.insert(expected.end(), b.begin(), b.end());
  }
  EXPECT_EQ(fake.finishNext(10), 10);
  EXPECT_EQ(fake.writtenStream(), expected);
  EXPECT_EQ(liveRecorder.events, twin.recorder.events);
  EXPECT_FALSE(liveRecorder.events.empty());
}

TEST(Mixer, DestroyingTheMixerStopsTheOutputFirst) {
  FakeAudioPlatform fake;
  {
    Mixer mixer(1, fake);
    fake.finishNext(5);
  }
  EXPECT_TRUE(fake.wasClosed());
  EXPECT_EQ(fake.queued(), 0);
  EXPECT_EQ(fake.writes().size(), 13u);  // nothing queued during or after the teardown
  EXPECT_TRUE(fake.violations().empty());
}

}  // namespace
}  // namespace qvb
