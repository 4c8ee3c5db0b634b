// What the Game Boy checks compare: the sequencer's events for a song (when
// each note, rest and channel end is heard, with the note's frequency), the
// sound register writes a GBS file makes in gbsplay (with their times), and
// the comparison of the two: every event must show as its register write
// within one driver call plus 1 ms, in the same order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gameboy/gb_song.h"
#include "song/sequencer_events.h"

namespace qvb::test {

struct HeardEvent {
  SequencerEventKind kind;
  int channel;
  double seconds;  // from the start of the first timer period
  unsigned hz = 0;     // NoteOn: the voice's frequency
  int ticks = 0;       // NoteOn, Rest: its length
  bool silent = false; // NoteOn: at level 0 on both sides
  int release = 0;     // Rest: the channel's release
};

// The events of the first `seconds` of a song image.
std::vector<HeardEvent> sequencerEvents(const std::vector<std::uint8_t>& image, double seconds);

struct RegisterWrite {
  double seconds;  // from the call of the GBS init (the driver's qvb_init)
  int reg;         // 0x10..0x3F
  int value;
};

// gbsplay's register writes for a GBS file over `seconds`, the mute options
// given (e.g. "-2" "-3" "-4" to hear channel 1 alone) ignored by the dump.
std::vector<RegisterWrite> gbsplayWrites(const std::string& gbsPath, int seconds);

// Every I/O address (0x00..0xFF, of 0xFF00 + n) the GBS file writes in
// gbsplay over `seconds`, init included.
std::vector<int> gbsplayAddresses(const std::string& gbsPath, int seconds);

struct TimingCheck {
  int notes = 0, rests = 0, ends = 0;
  double earliest = 0, latest = 0;  // seconds, write less event
  double firstMinuteLatest = 0, lastMinuteLatest = 0;
  std::string fault;  // the first event not found as it should be
};

// How far a write may lie from its event: never more than 1 ms before it,
// and within one driver slot (1/1024 s) and 1 ms after it. A record lands
// on the first slot at or after its time; passes of a loop after the first
// may fall half a slot either way; the interrupt and the writes before it
// in its record take a little more.
inline constexpr double kEarliest = -0.001;
inline constexpr double kLatest = 1.0 / 1024 + 0.001;

// Matches every event against the writes of its hardware channel. Notes of
// some length: a write of the frequency register (NRx3/NRx4, or NR43) that
// gives the register the Hz give, or that register already held on a note
// that goes on sounding; rests without release and channel ends: the channel
// silenced (NRx2 = 0, NR32 = 0); rests with release on pulse and noise: a
// new envelope. Writes count from `earliest` to `window` after the event.
TimingCheck compareTiming(const std::vector<HeardEvent>& events, const std::vector<RegisterWrite>& writes,
                          const std::vector<gb::HwChannel>& channels, double window, double earliest = kEarliest);

}  // namespace qvb::test
