#include "tests/gameboy/gb_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "song/pitch_tables.h"
#include "song/qvb_player.h"
#include "sound/pull_stream.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

constexpr double kRate = 44100;
constexpr double kGbClock = 4194304;

class Recorder : public SequencerObserver {
 public:
  explicit Recorder(const QvbPlayer& player) : player_(player) {}
  void onSequencerEvent(const SequencerEvent& event) override {
    HeardEvent heard{event.kind, event.channel, static_cast<double>(event.frame) / kRate};
    const Track& track = player_.tracks()[event.channel];
    if (event.kind == SequencerEventKind::NoteOn) {
      heard.hz = track.periodMode == 0
                     ? static_cast<std::uint16_t>(kNoteFrequency[static_cast<std::size_t>(event.note)] + track.detune)
                     : kPeriodFrequency[static_cast<std::size_t>(track.period)];
    }
    heard.release = track.release;
    heard.ticks = event.ticks;
    heard.silent = (track.volumeRight >> 4) == 0 && (track.volumeLeft >> 4) == 0;
    events.push_back(heard);
  }
  std::vector<HeardEvent> events;

 private:
  const QvbPlayer& player_;
};

// The registers a channel's events show in: frequency high (the write that
// completes a note), level.
struct ChannelRegisters {
  int frequencyLow, frequencyHigh, level;
};

ChannelRegisters registersOf(gb::HwChannel channel) {
  switch (channel) {
    case gb::HwChannel::Pulse1: return {0x13, 0x14, 0x12};
    case gb::HwChannel::Pulse2: return {0x18, 0x19, 0x17};
    case gb::HwChannel::Wave: return {0x1D, 0x1E, 0x1C};
    default: return {0x22, 0x23, 0x21};
  }
}

std::string describe(const HeardEvent& event, const char* what) {
  char text[160];
  std::snprintf(text, sizeof text, "channel %c at %.4f s: %s", 'A' + event.channel, event.seconds, what);
  return text;
}

}  // namespace

std::vector<HeardEvent> sequencerEvents(const std::vector<std::uint8_t>& image, double seconds) {
  QvbPlayer player(image.data(), image.size());
  Recorder recorder(player);
  player.setObserver(&recorder);
  player.start();
  PullStream stream(*player.mixer());
  stream.skipFrames(static_cast<std::int64_t>(seconds * kRate));
  return recorder.events;
}

// gbsplay's iodumper output for a GBS file. A file whose header describes it
// as gbsplay reads it draws no complaint (such as "Bank 1 out of range").
static ProcessResult iodump(const std::string& gbsPath, int seconds) {
  ProcessResult run = runProcess({"gbsplay", "-q", "-q", "-o", "iodumper", "-t", std::to_string(seconds), "-f", "0",
                                  "-T", "0", gbsPath, "1", "1"},
                                 ".", std::chrono::seconds(120));
  EXPECT_EQ(run.err.find("out of range"), std::string::npos) << gbsPath << ": " << run.err;
  return run;
}

std::vector<RegisterWrite> gbsplayWrites(const std::string& gbsPath, int seconds) {
  const ProcessResult run = iodump(gbsPath, seconds);
  std::vector<RegisterWrite> writes;
  std::istringstream lines(run.out);
  bool playing = false;
  long long cycles = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("subsong", 0) == 0) {
      playing = true;
      continue;
    }
    unsigned delta = 0, address = 0, value = 0;
    if (!playing || std::sscanf(line.c_str(), "%x ff%x=%x", &delta, &address, &value) != 3) continue;
    cycles += delta;
    const double at = static_cast<double>(cycles) / kGbClock;
    if (address >= 0x10 && address <= 0x3F) writes.push_back({at, static_cast<int>(address), static_cast<int>(value)});
  }
  return writes;
}

std::vector<int> gbsplayAddresses(const std::string& gbsPath, int seconds) {
  const ProcessResult run = iodump(gbsPath, seconds);
  std::vector<int> addresses;
  std::istringstream lines(run.out);
  bool playing = false;
  for (std::string line; std::getline(lines, line);) {
    playing = playing || line.rfind("subsong", 0) == 0;
    unsigned delta = 0, address = 0, value = 0;
    if (playing && std::sscanf(line.c_str(), "%x ff%x=%x", &delta, &address, &value) == 3)
      if (std::find(addresses.begin(), addresses.end(), static_cast<int>(address)) == addresses.end())
        addresses.push_back(static_cast<int>(address));
  }
  return addresses;
}

TimingCheck compareTiming(const std::vector<HeardEvent>& events, const std::vector<RegisterWrite>& writes,
                          const std::vector<gb::HwChannel>& channels, double window, double earliest) {
  TimingCheck check;
  const double last = events.empty() ? 0 : events.back().seconds;
  std::map<int, std::size_t> nextNote, nextLevel;  // per channel: the first write not yet matched
  int reg[0x40] = {};
  // Per channel, the frequency register after each write of it, and the level writes.
  struct Seen {
    double seconds;
    int value;
  };
  std::map<int, std::vector<Seen>> notes, levels;
  for (const RegisterWrite& write : writes) {
    reg[write.reg] = write.value;
    for (std::size_t c = 0; c < channels.size(); ++c) {
      const ChannelRegisters r = registersOf(channels[c]);
      const int channel = static_cast<int>(c);
      const bool noise = channels[c] == gb::HwChannel::Noise;
      // A noise note that keeps NR43 shows as its restart (NR44).
      if (write.reg == r.frequencyLow || write.reg == r.frequencyHigh)
        notes[channel].push_back(
            {write.seconds, noise ? reg[r.frequencyLow] : (reg[r.frequencyHigh] & 7) << 8 | reg[r.frequencyLow]});
      if (write.reg == r.level) levels[channel].push_back({write.seconds, write.value});
    }
  }
  std::map<int, SequencerEventKind> previous;  // per channel: the last note, rest or end
  for (const HeardEvent& event : events) {
    const gb::HwChannel hw = channels[static_cast<std::size_t>(event.channel)];
    const bool joined = previous.contains(event.channel) && previous[event.channel] == SequencerEventKind::NoteOn;
    if ((event.kind == SequencerEventKind::NoteOn && event.ticks > 0 && !event.silent) ||
        event.kind == SequencerEventKind::Rest ||
        event.kind == SequencerEventKind::ChannelEnd)
      previous[event.channel] = event.kind;
    std::vector<Seen>* list = nullptr;
    std::size_t* next = nullptr;
    int wanted = -1;  // the value the write must have; -1: any non-silent envelope
    if (event.kind == SequencerEventKind::NoteOn) {
      if (event.ticks == 0 || event.silent) continue;  // sounds for no time, or not at all
      list = &notes[event.channel];
      next = &nextNote[event.channel];
      wanted = hw == gb::HwChannel::Noise ? gb::noiseRegister(event.hz) : gb::frequencyRegister(hw, event.hz);
      ++check.notes;
    } else if (event.kind == SequencerEventKind::Rest || event.kind == SequencerEventKind::ChannelEnd) {
      const bool fades = event.kind == SequencerEventKind::Rest && event.release != 0;
      if (fades && hw == gb::HwChannel::Wave) continue;  // the level falls frame by frame
      if (!joined) continue;  // silent already: nothing to write
      list = &levels[event.channel];
      next = &nextLevel[event.channel];
      wanted = fades ? -1 : 0;
      ++(event.kind == SequencerEventKind::Rest ? check.rests : check.ends);
    } else {
      continue;
    }
    std::size_t i = *next;
    while (i < list->size() && (*list)[i].seconds < event.seconds + earliest) ++i;
    // A note whose register the channel already holds needs no write (the
    // wave channel goes on running through its rests).
    if (event.kind == SequencerEventKind::NoteOn && (joined || hw == gb::HwChannel::Wave) && i > 0 &&
        (*list)[i - 1].value == wanted &&
        (i == list->size() || (*list)[i].seconds > event.seconds + window || (*list)[i].value != wanted)) {
      *next = i;
      continue;
    }
    while (i < list->size() && (*list)[i].seconds <= event.seconds + window &&
           !(wanted >= 0 ? (*list)[i].value == wanted : ((*list)[i].value & 7) != 0 || (*list)[i].value == 0))
      ++i;
    if (i >= list->size() || (*list)[i].seconds > event.seconds + window) {
      if (check.fault.empty()) {
        char what[96];
        std::snprintf(what, sizeof what, "no write of 0x%03x within the window", wanted);
        check.fault = describe(event, what);
      }
      continue;
    }
    const double lateness = (*list)[i].seconds - event.seconds;

    check.earliest = std::min(check.earliest, lateness);
    check.latest = std::max(check.latest, lateness);
    if (event.seconds < 60) check.firstMinuteLatest = std::max(check.firstMinuteLatest, lateness);
    if (event.seconds > last - 60) check.lastMinuteLatest = std::max(check.lastMinuteLatest, lateness);
    *next = i + 1;
  }
  return check;
}

}  // namespace qvb::test
