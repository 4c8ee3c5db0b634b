// The sequencer's events on a song played by a Mixer: each comes once, in
// reading order, stamped with the first frame that sounds it. The first tick
// falls after the raw first countdown of 368 values (184 frames); a tick
// interval of n units then puts 4n values (2n frames) between two ticks.
#include "song/sequencer_events.h"

#include <gtest/gtest.h>

#include <vector>

#include "song/qvb_player.h"
#include "sound/mixer.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {

void PrintTo(const SequencerEvent& e, std::ostream* os) {
  *os << "{kind " << static_cast<int>(e.kind) << ", channel " << e.channel << ", frame "
      << e.frame << ", note " << e.note << ", ticks " << e.ticks << ", interval " << e.interval
      << "}";
}

namespace {

using Kind = SequencerEventKind;

struct Recorder : SequencerObserver {
  std::vector<SequencerEvent> events;
  void onSequencerEvent(const SequencerEvent& event) override { events.push_back(event); }
};

SequencerEvent event(Kind kind, int channel, std::int64_t frame, int offset, int note = 0, int ticks = 0,
                     int interval = 184) {
  return {kind, channel, frame, note, ticks, interval, offset};
}

// Plays the channels for the given frames, in fills of 1000 bytes of the
// format, and returns what the observer heard.
std::vector<SequencerEvent> play(const std::vector<std::vector<std::uint8_t>>& channels,
                                 AudioFormat format, int frames) {
  test::ImageContents contents;
  contents.title = "t";
  contents.channels = channels;
  const std::vector<std::uint8_t> image = test::buildImage(contents);
  QvbPlayer player(image.data(), image.size());
  Recorder recorder;
  player.setObserver(&recorder);
  if (player.start() != 1 || player.mixer() == nullptr) return {};
  const int frameBytes = format.bytesPerSample * format.channels;
  std::vector<std::uint8_t> buffer(1000);
  for (int done = 0; done < frames; done += 1000 / frameBytes) {
    Mixer::Fill(&format, player.mixer(), buffer.data(), 1000);
  }
  return recorder.events;
}

TEST(SequencerEvents, NotesRestsLoopTempoAndEndOnTheirTickFrames) {
  // Channel 0: TEMPO 184, note 60 for 2 ticks, mark, rest 3 ticks, END.
  // Channel 1: note 62 for 1 tick, END.
  const std::vector<std::vector<std::uint8_t>> song = {
      {0x90, 0x00, 0xB8, 0x3C, 0x02, 0xE0, 0x80, 0x03, 0xFF}, {0x3E, 0x01, 0xFF}};
  // Ticks after the tempo change: 184 + 368k frames.
  const std::vector<SequencerEvent> expected = {
      event(Kind::TempoChange, 0, 184, 0),
      event(Kind::NoteOn, 0, 184, 3, 60, 2),
      event(Kind::NoteOn, 1, 184, 0, 62, 1),
      event(Kind::ChannelEnd, 1, 552, -1),
      event(Kind::LoopMark, 0, 920, 5),
      event(Kind::Rest, 0, 920, 6, 0, 3),
      event(Kind::JumpToMark, 0, 2024, -1),
      event(Kind::Rest, 0, 2024, 6, 0, 3),
      event(Kind::JumpToMark, 0, 3128, -1),
      event(Kind::Rest, 0, 3128, 6, 0, 3),
  };
  const AudioFormat formats[] = {{2, 2, 44100}, {2, 1, 44100}, {1, 1, 22050}};
  for (const AudioFormat& format : formats) {
    EXPECT_EQ(play(song, format, 3200), expected)
        << format.bytesPerSample << " bytes, " << format.channels << " channels";
  }
}

TEST(SequencerEvents, AtTheResetIntervalTicksAre736FramesApart) {
  // Note 48 for 2 ticks, note 50 for 1 tick, END.
  const std::vector<SequencerEvent> expected = {
      event(Kind::NoteOn, 0, 184, 0, 48, 2, 368),
      event(Kind::NoteOn, 0, 184 + 2 * 736, 2, 50, 1, 368),
      event(Kind::ChannelEnd, 0, 184 + 3 * 736, -1, 0, 0, 368),
  };
  EXPECT_EQ(play({{0x30, 0x02, 0x32, 0x01, 0xFF}}, AudioFormat{}, 3000), expected);
}

}  // namespace
}  // namespace qvb
