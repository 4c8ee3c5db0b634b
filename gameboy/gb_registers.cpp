#include "gameboy/gb_registers.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "song/qvb_player.h"
#include "song/sequencer_events.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"
#include "sound/voice.h"

namespace qvb::gb {
namespace {

constexpr VoiceKind kindOfType(int type) {
  if (type <= Pulse) return VoiceKind::Pulse;
  return type == Noise ? VoiceKind::Noise : VoiceKind::Wave;
}

// NRx1 for a pulse voice's timbre (eighths low): 3 and 5 have no duty here;
// a square, and timbres 0 and 8 up, are half the cycle.
constexpr std::uint8_t kDuties[8] = {0x80, 0x00, 0x40, 0x40, 0x80, 0xC0, 0xC0, 0x00};
// The hardware envelope's pace (one level every pace / 64 s) nearest the
// player's release of 0..15 level steps a frame; 16 and up fall at pace 1.
constexpr std::uint8_t kReleasePaces[16] = {7, 7, 7, 6, 4, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1};

std::uint8_t dutyOf(const Voice& voice) {
  if (voice.type != Pulse || voice.timbre < 0 || voice.timbre >= 8) return 0x80;
  return kDuties[voice.timbre];
}

// NR32 for a level nibble: 0, 25, 50 or 100 %.
std::uint8_t waveLevel(int nibble) {
  if (nibble == 0) return 0x00;
  if (nibble < 6) return 0x60;
  return nibble < 12 ? 0x40 : 0x20;
}

std::uint8_t releaseEnvelope(int nibble, int release) {
  const int pace = release >= 16 ? 1 : kReleasePaces[release];
  return static_cast<std::uint8_t>(nibble << 4 | pace);
}

// What a loop must come back to: everything that decides what a channel
// plays from here on. The loose key leaves out what effects move within a
// note (the vibrato's place, the pitch it left), which some songs never
// bring back to the same values.
using LooseKey = std::tuple<Track, int, int, int, int, int, std::uint8_t, bool>;
using ExactKey = std::tuple<LooseKey, int, int, int, int, int, int, int, int>;

LooseKey looseKey(const Track& track, const Voice& voice, int tickInterval, std::uint8_t releaseEnv, bool on) {
  Track t = track;
  t.loopJumps = 0;
  t.vibratoBase = t.noteFrames = t.vibratoTimer = t.vibratoTurns = 0;
  t.vibratoRange = t.vibratoDelta = t.vibratoOffset = 0;
  t.period = 0;
  return {t, voice.type, voice.timbre, voice.volumeRight, voice.volumeLeft, tickInterval, releaseEnv, on};
}

ExactKey exactKey(const Track& t, const Voice& voice, int tickInterval, std::uint8_t releaseEnv, bool on) {
  return {looseKey(t, voice, tickInterval, releaseEnv, on), voice.frequency, t.period, t.vibratoBase, t.noteFrames,
          t.vibratoTimer, t.vibratoTurns, t.vibratoRange, t.vibratoOffset * 65536 + t.vibratoDelta};
}

// A place a channel's loop may begin or end: after the callback in which it
// read its loop mark or jumped back to it.
struct Mark {
  std::int64_t unit;
  std::size_t moments;  // moments recorded up to and including that callback
  LooseKey loose;
  ExactKey exact;
};

// Jumps back to the mark after which a loop is taken that only matches
// loosely, and after which one that does not even do so is taken as it is.
constexpr int kExactTries = 4;
constexpr int kLooseTries = 16;

class Performer : public SequencerObserver {
 public:
  Performer(const QvbPlayer& player, const std::vector<HwChannel>& hw, std::span<const std::uint8_t> waves)
      : player_(player), hw_(hw), count_(player.getChannelCount()) {
    for (std::size_t r = 0; r + kWaveRecordSize <= waves.size(); r += kWaveRecordSize)
      waves_[waves[r]] = waveRam(waves.subspan(r + 2, kWaveSampleCount));
    result_.kinds.resize(static_cast<std::size_t>(count_));
    result_.channels.resize(hw.empty() ? 0 : static_cast<std::size_t>(count_));
    channels_.resize(static_cast<std::size_t>(count_));
  }

  void onSequencerEvent(const SequencerEvent& event) override {
    Channel& ch = channels_[static_cast<std::size_t>(event.channel)];
    const Voice& voice = *player_.context().voices[event.channel];
    switch (event.kind) {
      case SequencerEventKind::NoteOn: {
        ch.on = true;
        ch.noteOn = true;
        ch.releaseEnv = 0;
        ChannelKinds& kinds = result_.kinds[static_cast<std::size_t>(event.channel)];
        const auto kind = static_cast<std::size_t>(kindOfType(voice.type));
        if (!kinds.sounded[kind]) kinds.firstOffset[kind] = event.offset;
        kinds.sounded[kind] = true;
        break;
      }
      case SequencerEventKind::Rest:
        ch.restAfterNote = ch.restAfterNote || ch.on;
        ch.on = false;
        break;
      case SequencerEventKind::ChannelEnd:
        ch.on = false;
        ch.ended = true;
        ch.releaseEnv = 0;
        break;
      case SequencerEventKind::LoopMark:
      case SequencerEventKind::JumpToMark:
        ch.markEvent = event.kind;
        break;
      default: break;
    }
  }

  void onTimerDone(SequencerTimer, std::int64_t frame) override {
    ++callbacks_;
    unit_ = frame / 2;
    const DriverContext& context = player_.context();
    for (int c = 0; c < count_; ++c) {
      Channel& ch = channels_[static_cast<std::size_t>(c)];
      const Track& track = context.tracks[c];
      const Voice& voice = *context.voices[c];
      result_.kinds[static_cast<std::size_t>(c)].lastSet = kindOfType(voice.type);
      if (ch.restAfterNote && track.keyOn == 0 && track.release != 0)
        ch.releaseEnv = releaseEnvelope(std::max(voice.volumeRight, voice.volumeLeft) >> 4, track.release);
      if (!ch.settled) record(c, ch, track, voice, context.tickInterval);
      if (ch.ended) ch.settled = true;
      ch.noteOn = ch.restAfterNote = false;
      ch.markEvent.reset();
    }
  }

  bool done() const {
    return std::all_of(channels_.begin(), channels_.end(), [](const Channel& ch) { return ch.settled; });
  }
  std::int64_t callbacks() const { return callbacks_; }
  std::int64_t unit() const { return unit_; }
  Performance take() { return std::move(result_); }

  // Takes the loosest loop each channel that still plays has, when time runs out.
  void closeLoops() {
    for (int c = 0; c < count_; ++c) {
      Channel& ch = channels_[static_cast<std::size_t>(c)];
      if (ch.settled || ch.marks.size() < 2) continue;
      takeLoop(c, ch, ch.marks[ch.marks.size() - 2], true);
    }
  }

 private:
  struct Channel {
    bool on = false, noteOn = false, restAfterNote = false, ended = false, settled = false;
    std::uint8_t releaseEnv = 0;
    std::optional<SequencerEventKind> markEvent;
    std::optional<HwState> last;
    std::vector<Mark> marks;
    int jumps = 0;
  };

  HwState stateOf(int c, Channel& ch, const Voice& voice) {
    HwState s;
    const HwChannel hw = hw_[static_cast<std::size_t>(c)];
    s.hw = hw;
    const int right = (voice.volumeRight >> 4) & 0x0F, left = (voice.volumeLeft >> 4) & 0x0F;
    int nibble = std::max(right, left);
    const int shift = static_cast<int>(hw);
    s.pan = nibble != 0 ? static_cast<std::uint8_t>(((right != 0 ? 0x01 : 0) | (left != 0 ? 0x10 : 0)) << shift)
                        : (ch.last ? ch.last->pan : 0);
    int x = 0;
    switch (hw) {
      case HwChannel::Pulse1:
      case HwChannel::Pulse2:
        s.regs[1] = dutyOf(voice);
        s.regs[2] = ch.releaseEnv != 0 ? ch.releaseEnv : static_cast<std::uint8_t>(nibble << 4);
        x = frequencyRegister(hw, voice.frequency);
        break;
      case HwChannel::Wave: {
        s.wave = ch.last ? ch.last->wave : -1;
        if (voice.type == Sine) s.wave = -2;
        if (voice.type == Wave) {
          if (waves_.contains(voice.timbre)) s.wave = voice.timbre;
          else nibble = 0;  // an empty slot: silent
        }
        if (s.wave == -1) nibble = 0;
        s.regs[0] = 0x80;
        s.regs[2] = waveLevel(nibble);
        x = frequencyRegister(hw, voice.frequency);
        break;
      }
      case HwChannel::Noise:
        s.regs[2] = ch.releaseEnv != 0 ? ch.releaseEnv : static_cast<std::uint8_t>(nibble << 4);
        s.regs[3] = static_cast<std::uint8_t>(noiseRegister(voice.frequency));
        x = -1;
        break;
    }
    if (x >= 0) {
      s.regs[3] = static_cast<std::uint8_t>(x & 0xFF);
      s.regs[4] = static_cast<std::uint8_t>(x >> 8 & 0x07);
    }
    if (hw == HwChannel::Wave) {
      s.restart = ch.last && s.wave != ch.last->wave && s.wave != -1;
      if (!ch.last && s.wave != -1) s.restart = true;
    } else {
      const std::uint8_t before = ch.last ? ch.last->regs[2] : 0;
      s.restart = s.sounding() && (s.regs[2] != before || (ch.noteOn && ch.releaseEnv != 0));
    }
    return s;
  }

  void record(int c, Channel& ch, const Track& track, const Voice& voice, int tickInterval) {
    std::size_t moments = 0;
    if (!hw_.empty()) {
      std::vector<HwMoment>& out = result_.channels[static_cast<std::size_t>(c)].moments;
      HwState s = stateOf(c, ch, voice);
      HwState plain = s;
      plain.restart = false;
      HwState lastPlain = ch.last.value_or(HwState{});
      lastPlain.restart = false;
      if (!ch.last || s.restart || !(plain == lastPlain)) out.push_back({unit_, s});
      ch.last = s;
      moments = out.size();
    }
    if (!ch.markEvent || ch.ended) return;
    Mark mark{unit_, moments, looseKey(track, voice, tickInterval, ch.releaseEnv, ch.on),
              exactKey(track, voice, tickInterval, ch.releaseEnv, ch.on)};
    if (*ch.markEvent == SequencerEventKind::JumpToMark) {
      ++ch.jumps;
      for (std::size_t i = 0; i < ch.marks.size(); ++i) {
        const bool exact = ch.marks[i].exact == mark.exact;
        if (exact || (ch.jumps > kExactTries && ch.marks[i].loose == mark.loose)) {
          ch.marks.push_back(mark);
          takeLoop(c, ch, ch.marks[i], !exact);
          return;
        }
      }
      if (ch.jumps > kLooseTries) {
        ch.marks.push_back(mark);
        takeLoop(c, ch, ch.marks[ch.marks.size() - 2], true);
        return;
      }
    }
    ch.marks.push_back(mark);
  }

  void takeLoop(int c, Channel& ch, const Mark& from, bool approximate) {
    ch.settled = true;
    if (hw_.empty()) return;
    ChannelPerformance& out = result_.channels[static_cast<std::size_t>(c)];
    const Mark& to = ch.marks.back();
    out.moments.resize(to.moments);
    if (from.moments == to.moments) return;  // nothing changes from pass to pass: it holds
    out.loopStart = static_cast<std::ptrdiff_t>(from.moments);
    out.loopFromUnit = from.unit;
    out.loopUnits = to.unit - from.unit;
    out.loopApproximate = approximate;
  }

  const QvbPlayer& player_;
  const std::vector<HwChannel>& hw_;
  int count_;
  std::map<int, std::array<std::uint8_t, kWaveRamBytes>> waves_;
  std::vector<Channel> channels_;
  std::int64_t callbacks_ = 0;
  std::int64_t unit_ = 0;
  Performance result_;
};

}  // namespace

bool HwState::sounding() const {
  if (hw == HwChannel::Wave) return regs[2] != 0;
  return (regs[2] & 0xF8) != 0;
}

const std::array<std::uint8_t, kWaveRamBytes> kSineWaveRam = {0x89, 0xAC, 0xDE, 0xEF, 0xFF, 0xEE, 0xDC, 0xA9,
                                                              0x86, 0x53, 0x21, 0x10, 0x00, 0x11, 0x23, 0x56};

std::array<std::uint8_t, kWaveRamBytes> waveRam(std::span<const std::uint8_t> samples) {
  std::array<std::uint8_t, kWaveRamBytes> ram{};
  for (std::size_t i = 0; i < ram.size() && 2 * i + 1 < samples.size(); ++i) {
    const int high = (samples[2 * i] ^ 0x80) >> 4;
    const int low = (samples[2 * i + 1] ^ 0x80) >> 4;
    ram[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return ram;
}

int frequencyRegister(HwChannel channel, unsigned hz) {
  const unsigned k = channel == HwChannel::Wave ? 65536 : 131072;
  if (hz < k / 2048) return 0;
  if (hz >= 32768) return 2047;
  return 2048 - static_cast<int>((k + hz / 2) / hz);
}

int noiseRegister(unsigned hz) {
  constexpr int kSlowest = 0xD7;
  if (hz == 0) return kSlowest;
  // 524288 / r / 2^(s+1) Hz with r = 0.5, 1..7: twice r * 2^s near 5232 / f.
  unsigned v = (5232 + hz / 2) / hz;
  int shift = 0;
  for (; v > 14; ++shift) v = (v + 1) >> 1;
  const unsigned ratio = v < 2 ? 0 : (v + 1) >> 1;
  return shift >= 14 ? kSlowest : shift << 4 | static_cast<int>(ratio);
}

Performance performOnGameBoy(std::span<const std::uint8_t> image, const std::vector<HwChannel>& channels) {
  QvbPlayer player(image.data(), image.size());
  if (player.getStatus() < PLAYER_READY) {
    Performance refused;
    refused.refusal = "the player refuses the image";
    return refused;
  }
  Performer performer(player, channels, player.view().waves);
  player.setObserver(&performer);
  player.start();
  Mixer* mixer = player.mixer();
  if (mixer == nullptr) {
    Performance refused;
    refused.refusal = "no memory to play the song";
    return refused;
  }
  mixer->SetRendering(false);  // only what the song does counts here
  PullStream stream(*mixer);
  constexpr std::int64_t kChunkFrames = 1 << 16;
  bool timeUp = false;
  while (!performer.done()) {
    if (performer.unit() > kMaxPerformanceUnits || performer.callbacks() > kMaxPerformanceCallbacks ||
        player.context().tickInterval <= 0) {
      timeUp = true;
      break;
    }
    stream.skipFrames(kChunkFrames);
  }
  player.setObserver(nullptr);
  if (timeUp) performer.closeLoops();
  // Channels that neither end nor loop within the limits are cut there.
  Performance result = performer.take();
  result.ok = true;
  return result;
}

}  // namespace qvb::gb
