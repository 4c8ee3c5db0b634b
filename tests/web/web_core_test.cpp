// The page's entry points, called natively as the page calls them: every
// argument is checked before it is used.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

struct WebPlayer;
extern "C" {
int qvbw_load(const std::uint8_t* bytes, int size);
int qvbw_render(const std::uint8_t* image, int size, int lengthFrames, int loops, int fadeFrames);
int qvbw_sample_frames();
const std::uint8_t* qvbw_image();
int qvbw_image_size();
int qvbw_export_asm(const std::uint8_t* image, int size);
WebPlayer* qvbw_player_new(const std::uint8_t* image, int size);
const std::int16_t* qvbw_player_fill(WebPlayer* web, int frames);
void qvbw_player_free(WebPlayer* web);
int qvbw_game_boy(const std::uint8_t* image, int size, int kind);
int qvbw_game_boy_size();
const char* qvbw_text();
}

namespace {

constexpr int kDone = 1, kBadArgument = -2;

TEST(WebCore, NoBytesBehindANullPointerAndNoNegativeSizes) {
  EXPECT_EQ(qvbw_load(nullptr, 5), kBadArgument);
  EXPECT_EQ(qvbw_load(nullptr, -1), kBadArgument);
  EXPECT_EQ(qvbw_load(nullptr, 0), 0);  // no bytes at all: refused as a song
  EXPECT_EQ(qvbw_render(nullptr, 5, -1, 2, 0), kBadArgument);
  EXPECT_NE(qvbw_export_asm(nullptr, 5), 0);
  EXPECT_EQ(qvbw_player_new(nullptr, 5), nullptr);
  EXPECT_EQ(qvbw_game_boy(nullptr, 5, 0), -1);
}

TEST(WebCore, GameBoyFilesOfASongThatFitsAndTheReasonForOneThatDoesNot) {
  struct Case { const char* source; int kind, result; const char* reason; };
  const Case cases[] = {
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 c\n", 0, 0, ""},
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 c\n", 1, 0, ""},
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 c\n", 2, -1, ""},
      {"#TITLE <t>\n#CHANNEL 1\n#A v9 %1 c %3 c\n", 0, 1, "channel A switches between"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(qvbw_load(reinterpret_cast<const std::uint8_t*>(c.source), static_cast<int>(std::string(c.source).size())),
              kDone);
    const std::string image(reinterpret_cast<const char*>(qvbw_image()), static_cast<std::size_t>(qvbw_image_size()));
    EXPECT_EQ(qvbw_game_boy(reinterpret_cast<const std::uint8_t*>(image.data()), static_cast<int>(image.size()), c.kind),
              c.result) << c.source << c.kind;
    if (c.result == 0) {
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

}  // namespace
