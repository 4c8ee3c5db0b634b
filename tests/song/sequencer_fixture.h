// A small song for driving the sequencer in tests: hand-written track bytes
// per channel, real Voices, and Tracks as the player's reset leaves them.
// Each channel's bytes live in an allocation of exactly their size, so the
// address sanitizer sees any read past a block.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "song/pitch_tables.h"
#include "song/sequencer.h"
#include "song/track.h"
#include "sound/voice.h"

namespace qvb::test {

class SequencerSong {
 public:
  explicit SequencerSong(const std::vector<std::vector<std::uint8_t>>& channels) {
    const int count = static_cast<int>(channels.size());
    tracks_.resize(channels.size());
    for (int i = 0; i < count; ++i) {
      const auto& bytes = channels[i];
      blocks_.push_back(std::make_unique<std::uint8_t[]>(bytes.size()));
      std::copy(bytes.begin(), bytes.end(), blocks_.back().get());
      tracks_[i].data = blocks_.back().get();
      tracks_[i].length = static_cast<std::int32_t>(bytes.size());
      tracks_[i].wait = 1;
      voiceStore_.push_back(std::make_unique<Voice>(nullptr));
      voices_.push_back(voiceStore_.back().get());
    }
    context.noteFrequency = kNoteFrequency.data();
    context.periodFrequency = kPeriodFrequency.data();
    context.notePeriod = kNotePeriod.data();
    context.channelCount = count;
    context.voices = voices_.data();
    context.tracks = tracks_.data();
    context.tickInterval = 368;
  }

  Track& track(int channel = 0) { return tracks_[channel]; }
  Voice& voice(int channel = 0) { return *voices_[channel]; }
  // Lets two channels drive one Voice, which makes their order visible.
  void shareVoice(int channel, int with) { voices_[channel] = voices_[with]; }

  void tick(int times = 1) {
    for (int i = 0; i < times; ++i) qvb::tick(context);
  }
  void frame(int times = 1) {
    for (int i = 0; i < times; ++i) qvb::effectFrame(context);
  }

  // Runs ticks and writes what each did on the channel, space-separated:
  // the voice's frequency when a note was the last item read, R for a rest,
  // E when the channel finished, . when nothing was read.
  std::string trace(int ticks, int channel = 0) {
    std::string out;
    Track& t = track(channel);
    for (int i = 0; i < ticks; ++i) {
      const std::int32_t keyOn = t.keyOn;
      const std::int32_t wait = t.wait;
      t.keyOn = 2;  // no item writes this value
      tick();
      if (!out.empty()) out += ' ';
      if (t.keyOn == 2) {
        t.keyOn = keyOn;
        out += '.';
      } else if (t.wait == 0 && wait != 0) {
        out += 'E';
      } else if (t.keyOn == 1) {
        out += std::to_string(voice(channel).frequency);
      } else {
        out += 'R';
      }
    }
    return out;
  }

  DriverContext context;

 private:
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
  std::vector<Track> tracks_;
  std::vector<std::unique_ptr<Voice>> voiceStore_;
  std::vector<Voice*> voices_;
};

// One row of a table-driven trace test: track bytes, ticks to run and the
// expected trace (see SequencerSong::trace).
struct TraceCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  int ticks;
  std::string expected;
};

inline void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

}  // namespace qvb::test
