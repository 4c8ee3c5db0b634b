// Every error of a source in one load: the first as the compiler finds it,
// then the later ones in the text's order, none that only the blanking of an
// earlier fault made, and the hints that say how to fix each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/compile_errors.h"
#include "loader/song_loader.h"

namespace qvb {
namespace {

struct Place {
  std::int32_t code, line, row;
  bool operator==(const Place&) const = default;
};

std::vector<Place> errorsOf(const std::string& source) {
  const LoadedSong song = loadSong({reinterpret_cast<const std::uint8_t*>(source.data()), source.size()});
  std::vector<Place> places;
  if (song.ok()) return places;
  places.push_back({song.diagnosis.error.type, song.diagnosis.error.line, song.diagnosis.error.row});
  for (const SongDiagnosis& d : song.laterErrors) places.push_back({d.error.type, d.error.line, d.error.row});
  return places;
}

std::string firstMessage(const std::string& source) {
  const LoadedSong song = loadSong({reinterpret_cast<const std::uint8_t*>(source.data()), source.size()});
  return describeProblem(song.diagnosis, "s.qvm");
}

TEST(AllErrors, FiveMistakesAreFiveErrorsTheCompilersFirstFirst) {
  const std::string source =
      "#TITLE <Five>\n"
      "#CHANNEL 2\n"
      "#WAV 0,<1,2,3>\n"
      "#A v10 o4 c d e f v16 g a\n"
      "#A l7 c /: d e :/\n"
      "#B v12 C d e o9 c\n";
  const std::vector<Place> expected{{ERR_WAV_COUNT, 3, 1},
                                    {ERR_VOLUME, 4, 19},
                                    {ERR_LENGTH_DIVIDE, 5, 7},
                                    {ERR_SYNTAX, 6, 8},
                                    {ERR_OCTAVE, 6, 14}};
  EXPECT_EQ(errorsOf(source), expected);
  // A stray brace is found before everything else and stays first.
  const std::vector<Place> brace{{ERR_BRACE, 3, 8}, {ERR_CHANNEL_COUNT, 2, 1}, {ERR_VOLUME, 4, 4}};
  EXPECT_EQ(errorsOf("#TITLE <t>\n#CHANNEL 3\n#A v10 }\n#B v16\n"), brace);
}

// One mistake each, which a careless blanking would turn into more.
TEST(AllErrors, AFaultTakenAwayLeavesNoErrorOfItsOwn) {
  struct Case {
    const char* channelText;
    std::vector<Place> errors;
  } const cases[] = {
      {"v10 l7 c d e", {{ERR_LENGTH_DIVIDE, 3, 11}}},          // one l, not every note after it
      {"v10 [c [d e]2 f]2 o9", {{ERR_SYNTAX, 3, 11}, {ERR_OCTAVE, 3, 22}}},  // the inner ']' goes too
      {"v10 /:1 c :/ o9", {{ERR_LOOP_COUNT, 3, 8}, {ERR_OCTAVE, 3, 17}}},   // the loop stays
      {"v10 /:2 c", {{ERR_LOOP_OPEN, 3, 12}}},
      {"v10 c :/ o9", {{ERR_LOOP_END, 3, 10}, {ERR_OCTAVE, 3, 13}}},
      {"v10 {a comment}4 c", {{ERR_VOLUME, 3, 4}}},             // the number's tail goes with it
      {"v10 c\n#A o9 o9", {{ERR_OCTAVE, 4, 4}, {ERR_OCTAVE, 4, 7}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(errorsOf(std::string("#TITLE <t>\n#CHANNEL 1\n#A ") + c.channelText + "\n"), c.errors) << c.channelText;
  }
  std::string deep = "v10";
  for (int i = 0; i < 17; ++i) deep += " /:2";
  deep += " c";
  for (int i = 0; i < 17; ++i) deep += " :/";
  const std::vector<Place> depth{{ERR_LOOP_DEPTH, 3, 72}, {ERR_OCTAVE, 3, 129}};
  EXPECT_EQ(errorsOf("#TITLE <t>\n#CHANNEL 1\n#A " + deep + " o9\n"), depth);
}

TEST(AllErrors, NoMoreThanTwentyAreShown) {
  for (const int mistakes : {20, 21}) {
    std::string source = "#TITLE <t>\n#CHANNEL 1\n#A v10";
    for (int i = 0; i < mistakes; ++i) source += " o9";
    const std::vector<Place> found = errorsOf(source + "\n");
    ASSERT_EQ(found.size(), 1 + kMaxLaterErrors) << mistakes;
    EXPECT_EQ(found.back(), (Place{ERR_OCTAVE, 3, 8 + 3 * static_cast<std::int32_t>(kMaxLaterErrors)}));
  }
}

TEST(AllErrors, HintsSayHowToFixTheMistake) {
  struct Case {
    const char* channelText;
    const char* hint;
  } const cases[] = {
      {"v10 C", "(channel A: commands are lower case: 'c', not 'C')"},
      {"v10 c8^v10 8", "'v10 8' reads as v108: blanks and comments do not end a number; the '^' at 3:10 has no "
                       "length, so it ties on a note of the default length (a tie's length follows it: c8^8)"},
      {"v10 {c d e}4", "'v10 {c d e}4' reads as v104: blanks and comments do not end a number"},
      {"v10 $ 4", "a number with no command before it"},
      {"v10 l5 c", "this note takes the length that l set; the lengths that divide a whole note are"},
  };
  for (const Case& c : cases) {
    const std::string message = firstMessage(std::string("#TITLE <t>\n#CHANNEL 1\n#A ") + c.channelText + "\n");
    EXPECT_NE(message.find(c.hint), std::string::npos) << message;
  }
  EXPECT_NE(firstMessage("#TITLE <t>\n#CHANNEL 1\n#WAV 0,<[33 1,]>\n#A c\n")
                .find("this #WAV gives 33 values; a wave takes exactly 32"),
            std::string::npos);
}

}  // namespace
}  // namespace qvb
