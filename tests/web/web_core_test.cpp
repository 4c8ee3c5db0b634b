// The page's entry points, called natively as the page calls them: every
// argument is checked before it is used.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "web/core/web_core.h"

namespace {

constexpr int kDone = QVBW_DONE, kBadArgument = QVBW_BAD_ARGUMENT;

TEST(WebCore, NoBytesBehindANullPointerAndNoNegativeSizes) {
  EXPECT_EQ(qvbw_load(nullptr, 5), kBadArgument);
  EXPECT_EQ(qvbw_load(nullptr, -1), kBadArgument);
  EXPECT_EQ(qvbw_load(nullptr, 0), 0);  // no bytes at all: refused as a song
  EXPECT_EQ(qvbw_render(nullptr, 5, -1, 2, 0), kBadArgument);
  EXPECT_NE(qvbw_export_asm(nullptr, 5), 0);
  EXPECT_EQ(qvbw_player_new(nullptr, 5), nullptr);
  EXPECT_EQ(qvbw_game_boy(nullptr, 5, 0), kBadArgument);
}

TEST(WebCore, GameBoyFilesOfASongThatFitsAndTheReasonForOneThatDoesNot) {
  struct Case { const char* source; int kind, result; const char* reason; };
  const Case cases[] = {
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 c\n", 0, kDone, ""},
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 c\n", 1, kDone, ""},
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 c\n", 2, kBadArgument, ""},
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 %1 c %3 c\n", 0, 0, "channel A switches between"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(c.source), static_cast<int>(std::string(c.source).size())),
              kDone);
    const std::string image(reinterpret_cast<const char*>(qvbw_image()), static_cast<std::size_t>(qvbw_image_size()));
    EXPECT_EQ(qvbw_game_boy(reinterpret_cast<const std::uint8_t*>(image.data()), static_cast<int>(image.size()), c.kind),
              c.result) << c.source << c.kind;
    if (c.result == kDone) {
      EXPECT_EQ(qvbw_game_boy_size() == 32768, c.kind == 0);
    }
    EXPECT_NE(std::string(qvbw_text()).find(c.reason), std::string::npos);
  }
}

TEST(WebCore, RenderRefusesLengthsLoopsAndFadesOutOfRange) {
  const std::string source = "#TITLE <t>\n#CHANNEL 1\n#A v9 $ c\n";
  ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(source.data()), static_cast<int>(source.size())), kDone);
  const std::string image(reinterpret_cast<const char*>(qvbw_image()), static_cast<std::size_t>(qvbw_image_size()));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  const int size = static_cast<int>(image.size());
  struct Case { int length, loops, fade, status; };
  for (const Case c : {Case{-1, 0, 0, kBadArgument}, Case{-1, -3, 0, kBadArgument}, Case{1000, 1, -1, kBadArgument},
                       Case{-2, 1, 0, kBadArgument}, Case{1000, 1, 0, kDone}, Case{-1, 1, 10, kDone}}) {
    EXPECT_EQ(qvbw_render(bytes, size, c.length, c.loops, c.fade), c.status) << c.length << " " << c.loops << " " << c.fade;
  }
  EXPECT_EQ(qvbw_render(bytes, size, 1000, 1, 100), kDone);
  EXPECT_EQ(qvbw_sample_frames(), 1000);
  WebPlayer* player = qvbw_player_new(bytes, size);
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(qvbw_player_fill(player, 0), nullptr);
  EXPECT_EQ(qvbw_player_fill(player, 8193), nullptr);
  EXPECT_NE(qvbw_player_fill(player, 1), nullptr);
  qvbw_player_free(player);
}

TEST(WebCore, WarningsAsTheRendererWordsThem) {
  EXPECT_EQ(qvbw_warnings(nullptr, 3, "s.qvm"), kBadArgument);
  const std::string source = "#TITLE <t>\n#CHANNEL 1\n#A c d\n";
  ASSERT_EQ(qvbw_warnings(reinterpret_cast<const std::uint8_t*>(source.data()), static_cast<int>(source.size()), "s.qvm"), kDone);
  ASSERT_EQ(qvbw_warning_count(), 1);
  EXPECT_EQ(qvbw_warning_line(0), 3);
  EXPECT_EQ(std::string(qvbw_warning_text(0)).rfind("s.qvm:3:", 0), 0u) << qvbw_warning_text(0);
  EXPECT_STREQ(qvbw_warning_text(1), "");
  EXPECT_EQ(qvbw_warning_line(-1), 0);
}

TEST(WebCore, SurveyListsNotesAndTheLoop) {
  const std::string source = "#TITLE <t>\n#CHANNEL 2\n#A v9 c $ d e\n#B v9 c d e\n";
  ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(source.data()), static_cast<int>(source.size())), kDone);
  const std::string image(reinterpret_cast<const char*>(qvbw_image()), static_cast<std::size_t>(qvbw_image_size()));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  const int size = static_cast<int>(image.size());
  EXPECT_EQ(qvbw_survey(bytes, size, 0, 100), kBadArgument);
  EXPECT_EQ(qvbw_survey(bytes, size, 1, 0), kBadArgument);
  ASSERT_EQ(qvbw_survey(bytes, size, 1, 1000), kDone);
  // Up to the end: c d e on each channel, then the loop: A's d e once more.
  int notes = 0;
  for (int i = 0; i < qvbw_survey_event_count(); ++i)
    if (qvbw_survey_events()[8 * i] == 0 && qvbw_survey_events()[8 * i + 2] < qvbw_render_end_frame()) ++notes;
  EXPECT_EQ(notes, 8);
  EXPECT_EQ(qvbw_survey_truncated(), 0);
  EXPECT_GT(qvbw_render_intro_frame(), 0);
  EXPECT_GT(qvbw_render_loop_frames(), 0);
  EXPECT_GT(qvbw_render_end_frame(), qvbw_render_intro_frame());
  // B plays on to tick 144, where A first jumps back: the song's loop starts
  // there, and the survey goes on through it (A's d e, 96 ticks).
  const int tick = qvbw_render_loop_frames() / 96;
  EXPECT_EQ(qvbw_render_intro_frame() - qvbw_survey_events()[2], 144 * tick) << "from the first note";
  EXPECT_GE(qvbw_render_end_frame(), qvbw_render_intro_frame() + qvbw_render_loop_frames());
  ASSERT_EQ(qvbw_survey(bytes, size, 1, 2), kDone);
  EXPECT_EQ(qvbw_survey_event_count(), 2);
  EXPECT_EQ(qvbw_survey_truncated(), 1);
}

// Each note's line and row, as "channel:line:row" in the order surveyed.
std::string notePlaces() {
  std::string places;
  for (int i = 0; i < qvbw_survey_event_count(); ++i) {
    const std::int32_t* e = qvbw_survey_events() + 8 * i;
    if (e[0] != 0) continue;
    places += std::to_string(e[1]) + ":" + std::to_string(e[6]) + ":" + std::to_string(e[7]) + " ";
  }
  return places;
}

TEST(WebCore, SurveyedNotesCarryTheirPlaceInTheSourceLoadedLast) {
  const std::string source = "#TITLE <t>\n#CHANNEL 2\n#A v9 c\n  [2 <d>]\n#B v9 l4 e\n";
  ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(source.data()), static_cast<int>(source.size())), kDone);
  const std::string image(reinterpret_cast<const char*>(qvbw_image()), static_cast<std::size_t>(qvbw_image_size()));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  const int size = static_cast<int>(image.size());
  ASSERT_EQ(qvbw_survey(bytes, size, 1, 1000), kDone);
  // Both copies of the bracket's d point at its one letter.
  EXPECT_EQ(notePlaces(), "0:3:7 1:5:10 0:4:7 0:4:7 ");
  // Another song loaded: the image is no longer the one the places belong to.
  const std::string other = "#TITLE <o>\n#CHANNEL 1\n#A v9 c\n";
  ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(other.data()), static_cast<int>(other.size())), kDone);
  ASSERT_EQ(qvbw_survey(bytes, size, 1, 1000), kDone);
  EXPECT_EQ(notePlaces(), "0:0:0 1:0:0 0:0:0 0:0:0 ");
}

TEST(WebCore, LevelsOfEveryChannel) {
  EXPECT_EQ(qvbw_player_levels(nullptr), nullptr);
  const std::string source = "#TITLE <t>\n#CHANNEL 2\n#A v9 c1\n#B v4,12 c1\n";
  ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(source.data()), static_cast<int>(source.size())), kDone);
  const std::string image(reinterpret_cast<const char*>(qvbw_image()), static_cast<std::size_t>(qvbw_image_size()));
  WebPlayer* player = qvbw_player_new(reinterpret_cast<const std::uint8_t*>(image.data()), static_cast<int>(image.size()));
  ASSERT_NE(player, nullptr);
  // Past the eight buffers that sound before the first timer.
  for (int i = 0; i < 12; ++i) qvbw_player_fill(player, 8192);
  const std::int32_t* levels = qvbw_player_levels(player);
  ASSERT_NE(levels, nullptr);
  EXPECT_EQ(levels[0], 9 * 16);
  EXPECT_EQ(levels[1], 9 * 16);
  EXPECT_EQ(levels[2], 4 * 16);
  EXPECT_EQ(levels[3], 12 * 16);
  qvbw_player_free(player);
}

// Channel A's loop passes as "pass/count@depth:from-to", from and to being
// the ordinals of A's notes and rests that begin and end each pass (E: past them all).
std::string passesOfA() {
  std::vector<std::int32_t> frames;
  for (int i = 0; i < qvbw_survey_event_count(); ++i) {
    const std::int32_t* e = qvbw_survey_events() + 8 * i;
    if (e[1] == 0 && (e[0] == 0 || e[0] == 1)) frames.push_back(e[2]);
  }
  const auto ordinal = [&](std::int32_t frame) {
    for (std::size_t i = 0; i < frames.size(); ++i)
      if (frames[i] >= frame) return std::to_string(i);
    return std::string("E");
  };
  std::string passes;
  for (int i = 0; i < qvbw_survey_repeat_count(); ++i) {
    const std::int32_t* p = qvbw_survey_repeats() + 6 * i;
    if (p[0] != 0) continue;
    passes += std::to_string(p[3]) + "/" + std::to_string(p[4]) + "@" + std::to_string(p[5]) + ":" + ordinal(p[1]) +
              "-" + ordinal(p[2]) + " ";
  }
  return passes;
}

TEST(WebCore, SurveyNumbersEachPassOfEveryLoop) {
  struct Case { const char* channelA; const char* passes; };
  const Case cases[] = {
      {"/:3 c / d :/ e", "1/3@0:0-2 2/3@0:2-4 3/3@0:4-5 "},
      {"/:2 /:2 c :/ d :/ e", "1/2@1:0-1 2/2@1:1-2 1/2@0:0-3 1/2@1:3-4 2/2@1:4-5 2/2@0:3-6 "},
      // The inner loop ends where the outer one jumps back: its next pass is its first again.
      {"/:2 /:2 c :/ :/ d", "1/2@1:0-1 1/2@0:0-2 2/2@1:1-2 1/2@1:2-3 2/2@0:2-4 2/2@1:3-4 "},
      // Back to the mark: the loop starts again from its first pass.
      {"c $ /:2 d :/ e", "1/2@0:1-2 2/2@0:2-3 1/2@0:4-5 2/2@0:5-6 "},
      {"/:2 c :/ /:2 d :/", "1/2@0:0-1 2/2@0:1-2 1/2@0:2-3 2/2@0:3-E "},
      {"c d", ""},
  };
  for (const Case& c : cases) {
    const std::string source = std::string("#TITLE <t>\n#CHANNEL 2\n#A v9 ") + c.channelA + "\n#B v9 /:4 c :/\n";
    ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(source.data()), static_cast<int>(source.size())), kDone);
    const std::string image(reinterpret_cast<const char*>(qvbw_image()), static_cast<std::size_t>(qvbw_image_size()));
    ASSERT_EQ(qvbw_survey(reinterpret_cast<const std::uint8_t*>(image.data()), static_cast<int>(image.size()), 2, 1000),
              kDone);
    EXPECT_EQ(passesOfA(), c.passes) << c.channelA;
  }
}

}  // namespace
