// What the sequencer tells an observer as it reads a channel: each note, rest,
// loop mark, jump back to the mark, channel end and tempo change, with the
// output frame from which it is heard. Players, renderers and UIs follow a
// song through it instead of polling the tracks. The observer runs inside the
// Mixer's fill, on the output's thread: it must be quick, and must not
// allocate, lock or print on a device host.
#pragma once

#include <cstdint>

namespace qvb {

enum class SequencerEventKind : std::uint8_t {
  NoteOn,       // note and ticks set
  Rest,         // ticks set
  LoopMark,     // the loop mark was read
  JumpToMark,   // END sent the channel back to its loop mark
  ChannelEnd,   // the channel finished: silent from here on
  TempoChange,  // interval set: the new tick interval
};

enum class SequencerTimer : std::uint8_t { EffectFrame, Tick };

struct SequencerEvent {
  SequencerEventKind kind = SequencerEventKind::NoteOn;
  std::int32_t channel = 0;
  // Frames of the Mixer's stream before the one that first sounds the event
  // (0 when the sequencer runs without a Mixer).
  std::int64_t frame = 0;
  std::int32_t note = 0;
  std::int32_t ticks = 0;
  std::int32_t interval = 0;
  // Where the item that made the event begins in the channel's block (for a
  // source map to find its text); -1 for a jump back to the mark and an end.
  std::int32_t offset = -1;

  friend bool operator==(const SequencerEvent&, const SequencerEvent&) = default;
};

class SequencerObserver {
 public:
  virtual void onSequencerEvent(const SequencerEvent& event) = 0;
  // After each tick and each effect frame, every channel done: for those who
  // follow the voices themselves (the Game Boy exporter reads the registers
  // they imply). The frame is the events' frame.
  virtual void onTimerDone(SequencerTimer /*timer*/, std::int64_t /*frame*/) {}

 protected:
  ~SequencerObserver() = default;
};

}  // namespace qvb
