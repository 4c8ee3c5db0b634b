// What each channel of a playing song does, as the sequencer reports it: the
// note it started (with the voice's level at that moment), rests
// and ends, and tempo changes, each stamped with the frame from which it is
// heard. The output's thread records; the display's thread asks what was
// sounding at the frame heard now. Every record is one atomic word, so the
// two threads share no other memory and need no lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "song/sequencer_events.h"

namespace qvb {

struct DriverContext;

// One channel at one frame: the note as the source wrote it (octave * 12 +
// semitone, so o5 c is 60; -1 when silent) and the louder side's level, 0..255.
struct ChannelSound {
  int note = -1;
  int level = 0;
};

class ChannelActivity final : public SequencerObserver {
 public:
  // context: the player's, whose voices the events' notes are read from on
  // the output's thread.
  ChannelActivity(const DriverContext& context, int channelCount);

  void onSequencerEvent(const SequencerEvent& event) override;

  int channelCount() const { return channelCount_; }
  // What the channel sounded at the frame (from its last event at or before
  // it); silent for a channel the song does not have.
  ChannelSound soundAt(int channel, std::int64_t frame) const;
  // The tick interval in force at the frame.
  std::int32_t tickIntervalAt(std::int64_t frame) const;
  // Where in its block the item of the channel's last note or rest at the
  // frame began; -1 when there is none.
  std::int32_t offsetAt(int channel, std::int64_t frame) const;

  // The notes and rests of every channel in the order the sequencer read
  // them, for a follower that takes them once they are heard: those at or
  // before the frame that were not taken yet, oldest first. Events beyond
  // the queue's room are lost (counted in lost()).
  struct Heard {
    std::int64_t frame = 0;
    int channel = 0;
    int note = -1;  // -1: a rest or the channel's end
    std::int32_t offset = -1;
  };
  std::vector<Heard> takeHeard(std::int64_t frame);
  std::uint64_t lost() const { return lost_.load(std::memory_order_relaxed); }

  // Events a channel keeps: far more than a full output ring can hold ahead
  // of what is heard at any tempo a song can reach in practice.
  static constexpr int kKept = 64;

 private:
  // frame (44 bits), then a value of 20 bits; 0 means no record.
  using Ring = std::array<std::atomic<std::uint64_t>, kKept>;
  struct Track {
    Ring records{};
    // Beside each record: the offset of its item, written before the
    // record is counted.
    std::array<std::atomic<std::int32_t>, kKept> offsets{};
    std::atomic<std::uint32_t> count{0};
  };
  static void record(Track& track, std::int64_t frame, std::uint32_t value, std::int32_t offset = -1);
  // The newest record at or before the frame (see the .cpp), as its index.
  static bool indexAt(const Track& track, std::int64_t frame, std::uint32_t& index);
  static bool valueAt(const Track& track, std::int64_t frame, std::uint32_t& value);

  void queue(const Heard& heard);

  static constexpr std::uint32_t kQueued = 4096;
  std::unique_ptr<Heard[]> heard_ = std::make_unique<Heard[]>(kQueued);
  std::atomic<std::uint64_t> written_{0};  // by the output's thread
  std::atomic<std::uint64_t> taken_{0};    // by the follower
  std::atomic<std::uint64_t> lost_{0};
  const DriverContext& context_;
  int channelCount_;
  std::unique_ptr<Track[]> channels_;
  Track tempo_;
};

}  // namespace qvb
