// Bars and beats against the notes of a render: each note begins on the tick
// that the lengths of the notes before it add up to, whatever the tempo did.
#include "play/song_beats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/song_loader.h"
#include "render/render_session.h"

namespace qvb {
namespace {

struct NoteStarts final : SequencerObserver {
  SongBeats beats;
  std::vector<std::pair<std::int64_t, std::int64_t>> starts;  // frame, tick by the lengths
  std::int64_t ticks = 0;
  void onSequencerEvent(const SequencerEvent& e) override {
    beats.onSequencerEvent(e);
    if (e.kind != SequencerEventKind::NoteOn && e.kind != SequencerEventKind::Rest) return;
    starts.emplace_back(e.frame, ticks);
    ticks += e.ticks;
  }
};

TEST(SongBeats, EveryNoteBeginsOnTheTickItsPredecessorsAddUpToThroughTempoChanges) {
  // Odd and even intervals (t150: 183, t200: 137), a change on the first
  // tick, two in one tick, and a slow one.
  const std::string source =
      "#TITLE <t>\n#CHANNEL 1\n#A t150 l8 c d e f t90 g a b t120 t200 o6 c l16 c d e f g a b t37 c4 r c l1 c\n";
  const LoadedSong song = loadSong({reinterpret_cast<const std::uint8_t*>(source.data()), source.size()});
  ASSERT_TRUE(song.ok());
  NoteStarts heard;
  RenderOptions options;
  options.observer = &heard;
  RenderResult result;
  ASSERT_TRUE(renderSong(song.image.data(), song.image.size(), options,
                         [](const std::int16_t*, std::int64_t) { return true; }, result));
  ASSERT_EQ(heard.starts.size(), 19u);
  for (const auto& [frame, tick] : heard.starts) {
    EXPECT_EQ(heard.beats.tickAt(frame), tick) << frame;
    if (tick > 0) {
      EXPECT_EQ(heard.beats.tickAt(frame - 1), tick - 1) << frame;
    }
  }
  EXPECT_EQ(heard.beats.tickAt(0), 0);
}

}  // namespace
}  // namespace qvb
