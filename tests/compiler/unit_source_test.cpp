// The channel split, the character reader with its repeat brackets, and the
// token readers, run on preprocessed text.
#include <gtest/gtest.h>

#include "tests/support/case_name.h"

#include <array>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/mml_source.h"
#include "compiler/preprocess.h"

namespace qvb {
namespace {

struct Prepared {
  explicit Prepared(std::string_view text) : copy(text.begin(), text.end()) {
    copy.resize(text.size() + 2, 0);
    copy.shrink_to_fit();
    std::int32_t line = 0, row = 0;
    EXPECT_EQ(preprocess(copy, line, row), 0);
    splitResult = source.split(copy.data());
  }
  std::vector<std::uint8_t> copy;
  MmlSource source;
  int splitResult = 0;
};

// Everything a channel delivers: characters as they are, reader codes as
// <END>, <CLOSE>, <ONE>, <NESTED>; stops at the first code.
std::string readAll(MmlSource& s, int channel) {
  if (!s.selectChannel(channel)) return "<NONE>";
  std::string out;
  for (int guard = 0; guard < 10000; ++guard) {
    const int c = s.getNonBlank();
    switch (c) {
      case END_OF_TEXT: return out + "<END>";
      case ERR_REPEAT_CLOSE: return out + "<CLOSE>";
      case ERR_REPEAT_ONE: return out + "<ONE>";
      case ERR_REPEAT_NESTED: return out + "<NESTED>";
      case ERR_REPEAT_SPENT: return out + "<SPENT>";
      default: out += static_cast<char>(c);
    }
  }
  return out + "<LOOPING>";
}

TEST(SplitTest, MarkersFileLinesUnderTheirChannels) {
  Prepared p("#A cde\n fg\n#B ab\n#A c");
  ASSERT_EQ(p.splitResult, 0);
  EXPECT_EQ(p.source.lines().lastChannel(), 2);
  EXPECT_EQ(p.source.lines().lineCount(0), 0);
  ASSERT_EQ(p.source.lines().lineCount(1), 3);
  EXPECT_EQ(p.source.lines().line(1, 0).number, 1);
  EXPECT_EQ(p.source.lines().line(1, 1).number, 2);
  EXPECT_EQ(p.source.lines().line(1, 2).number, 4);
  EXPECT_EQ(readAll(p.source, 1), "cdefgc<END>");
  EXPECT_EQ(readAll(p.source, 2), "ab<END>");
  EXPECT_EQ(readAll(p.source, 0), "<END>");
  EXPECT_EQ(p.source.selectChannel(3), 0);
}

TEST(SplitTest, DirectiveLinesAndWhatFollowsThemBelongToTheHeader) {
  Prepared p("x\n#TITLE <t>\n y\n#b q\n#AB c\n z\n#z w");
  ASSERT_EQ(p.splitResult, 0);
  EXPECT_EQ(p.source.lines().lastChannel(), 26);
  EXPECT_EQ(p.source.lines().lineCount(0), 5);  // x, #TITLE, y, #AB, z
  EXPECT_EQ(readAll(p.source, 2), "q<END>");
  EXPECT_EQ(readAll(p.source, 26), "w<END>");
  EXPECT_EQ(p.source.lines().lineCount(3), 0);
  EXPECT_EQ(readAll(p.source, 3), "<END>");
}

TEST(SplitTest, MarkerBytesBecomeSpacesSoColumnsStay) {
  Prepared p("  #C x");
  ASSERT_EQ(p.splitResult, 0);
  ASSERT_TRUE(p.source.selectChannel(3));
  EXPECT_EQ(p.source.getNonBlank(), 'x');
  std::int32_t line = 0, row = 0;
  p.source.position(line, row);
  EXPECT_EQ(line, 1);
  EXPECT_EQ(row, 6);
}

TEST(SplitTest, BadMarkersReportTheirLine) {
  for (const auto& [text, line] : std::vector<std::pair<std::string, int>>{
           {"#A c\n#1 c", 2}, {"\n\n#_", 3}, {"#A c\r\n #! c", 2}, {"a\n{c}#9{x}", 2}}) {
    Prepared p(text);
    EXPECT_EQ(p.splitResult, line) << text;
  }
}

struct ReadCase {
  std::string text;
  std::string delivered;
};

class Repeats : public testing::TestWithParam<ReadCase> {};

TEST_P(Repeats, DeliverTheText) {
  Prepared p("#A " + GetParam().text);
  ASSERT_EQ(p.splitResult, 0);
  EXPECT_EQ(readAll(p.source, 1), GetParam().delivered);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, Repeats,
    testing::Values(ReadCase{"[3 ab | e]", "abeabeab<END>"}, ReadCase{"[ab]", "abab<END>"},
                    ReadCase{"[1ab]", "<ONE>"}, ReadCase{"[a[b]]", "a<NESTED>"}, ReadCase{"a]", "a<CLOSE>"},
                    ReadCase{"[0 a]", "a<CLOSE>"}, ReadCase{"[2a|b]c|d", "abacd<END>"},
                    ReadCase{"[10x]", "xxxxxxxxxx<END>"}, ReadCase{"[2 a]\n[3 b]", "aabbb<END>"},
                    // A body over several lines, comments and removed bytes skipped.
                    ReadCase{"[2 a {x}\n b\n | c ] d", "abcabd<END>"},
                    // Open at the end is no reader error.
                    ReadCase{"[3 ab", "ab<END>"},
                    // Blank bodies end at once however large the count.
                    ReadCase{"a[2147483647 {x} \n ]b", "ab<END>"},
                    ReadCase{"[99999999|]c", "c<END>"}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

// Every byte a later pass reads counts, the ']' included; the read that
// would pass the budget gives the code, and so does every read after it.
TEST(ReaderTest, RepeatsStopWhenTheyHaveReadTheBudgetAgain) {
  Prepared atLimit("#A [6ab]");
  atLimit.source.setReplayBudget(15);
  EXPECT_EQ(readAll(atLimit.source, 1), "abababababab<END>");
  EXPECT_EQ(atLimit.source.replayedBytes(), 15u);
  Prepared over("#A c\n [6ab]");
  over.source.setReplayBudget(14);
  EXPECT_EQ(readAll(over.source, 1), "cabababababab<SPENT>");
  EXPECT_EQ(over.source.getChar(), ERR_REPEAT_SPENT);
  std::int32_t line = 0, row = 0;
  over.source.position(line, row);
  EXPECT_EQ(line, 2);
  EXPECT_EQ(row, 2);  // the '['
}

// A count beyond 32 bits saturates instead of wrapping around to a small one.
TEST(ReaderTest, RepeatCountsBeyond32BitsDoNotWrap) {
  for (const char* text : {"#A [4294967298 a]", "#A [3000000000 a]b", "#A [99999999999999999999 a]"}) {
    Prepared p(text);
    p.source.setReplayBudget(999);
    EXPECT_EQ(readAll(p.source, 1), std::string(334, 'a') + "<SPENT>") << text;
  }
}

TEST(ReaderTest, EndOfChannelMovesToTheFirstHeaderLine) {
  Prepared p("#A c\n#TITLE <x>\n#B d");
  ASSERT_TRUE(p.source.selectChannel(2));
  EXPECT_EQ(p.source.getNonBlank(), 'd');
  std::int32_t line = 0, row = 0;
  p.source.position(line, row);
  EXPECT_EQ(line, 3);
  EXPECT_EQ(row, 4);
  EXPECT_EQ(p.source.getNonBlank(), END_OF_TEXT);
  p.source.position(line, row);
  EXPECT_EQ(line, 2);
  EXPECT_EQ(row, 0);
}

TEST(ReaderTest, CrLfLinesReportOneRowMore) {
  for (const auto& [text, row] : std::vector<std::pair<std::string, int>>{{"#A a\n  x", 3}, {"#A a\r\n  x", 4}}) {
    Prepared p(text);
    ASSERT_TRUE(p.source.selectChannel(1));
    EXPECT_EQ(p.source.getNonBlank(), 'a');
    EXPECT_EQ(p.source.peekNonBlank(), 'x');  // held counts as read
    std::int32_t line = 0, r = 0;
    p.source.position(line, r);
    EXPECT_EQ(line, 2);
    EXPECT_EQ(r, row);
  }
}

TEST(ReaderTest, PeekHoldsOneCharacterForEitherKindOfRead) {
  Prepared p("#A  xy");
  ASSERT_TRUE(p.source.selectChannel(1));
  EXPECT_EQ(p.source.peekNonBlank(), 'x');
  EXPECT_EQ(p.source.peekNonBlank(), 'x');
  EXPECT_EQ(p.source.readChar(false), 'x');
  EXPECT_EQ(p.source.readChar(false), 'y');
  EXPECT_EQ(p.source.readChar(false), '\n');  // raw reads stop at nothing
}

TEST(ReaderTest, NoChannelSelectedReadsNothing) {
  Prepared p("");
  EXPECT_EQ(p.source.lines().lastChannel(), -1);
  EXPECT_EQ(p.source.selectChannel(0), 0);
  EXPECT_EQ(p.source.getNonBlank(), END_OF_TEXT);
  std::int32_t line = 9, row = 9;
  p.source.position(line, row);
  EXPECT_EQ(line, 0);
  EXPECT_EQ(row, 0);
}

struct IntCase {
  std::string text;
  int ok;
  std::int32_t value;
  int next;  // what the following read gives
  bool tooBig = false;
};

class ReadInt : public testing::TestWithParam<IntCase> {};

TEST_P(ReadInt, ReadsSignAndDigits) {
  Prepared p("#A " + GetParam().text);
  ASSERT_TRUE(p.source.selectChannel(1));
  std::int32_t v = 77;
  EXPECT_EQ(p.source.readInt(v), GetParam().ok);
  EXPECT_EQ(v, GetParam().value);
  EXPECT_EQ(p.source.numberTooBig(), GetParam().tooBig);
  EXPECT_EQ(p.source.getNonBlank(), GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, ReadInt,
    testing::Values(IntCase{"- 1 2", 1, -12, END_OF_TEXT}, IntCase{"-x", 0, 0, 'x'}, IntCase{"x", 0, 0, 'x'},
                    IntCase{"+5", 0, 0, '+'}, IntCase{"007,", 1, 7, ','}, IntCase{"1\n2", 1, 12, END_OF_TEXT},
                    IntCase{"[3 1]", 1, 111, END_OF_TEXT}, IntCase{"2147483647", 1, INT_MAX, END_OF_TEXT},
                    IntCase{"-2147483648", 1, INT_MIN, END_OF_TEXT},
                    // Beyond 32 bits the value saturates instead of wrapping.
                    IntCase{"2147483648", 1, INT_MAX, END_OF_TEXT, true},
                    IntCase{"-2147483649", 1, INT_MIN, END_OF_TEXT, true},
                    IntCase{"4294967297", 1, INT_MAX, END_OF_TEXT, true},
                    IntCase{"-99999999999999999999 x", 1, INT_MIN, 'x', true}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

TEST(TokenTest, MatchWordAllowsBlanksAndConsumesTheMismatch) {
  Prepared p("#A T I\nT L Ex  TEMPO");
  ASSERT_TRUE(p.source.selectChannel(1));
  EXPECT_EQ(p.source.matchWord("TITLE"), 1);
  EXPECT_EQ(p.source.getNonBlank(), 'x');
  EXPECT_EQ(p.source.matchWord("TITLE"), 0);
  EXPECT_EQ(p.source.getNonBlank(), 'M');
}

TEST(TokenTest, CountDotsSkipsBlanks) {
  Prepared p("#A . . .x");
  ASSERT_TRUE(p.source.selectChannel(1));
  EXPECT_EQ(p.source.countDots(), 3);
  EXPECT_EQ(p.source.getNonBlank(), 'x');
}

struct ArgsCase {
  std::string text;
  std::array<bool, 3> present;
  std::array<std::int32_t, 3> values;  // where present
  int next;
};

class ReadArgs : public testing::TestWithParam<ArgsCase> {};

TEST_P(ReadArgs, FillsPresentValues) {
  Prepared p("#A " + GetParam().text);
  ASSERT_TRUE(p.source.selectChannel(1));
  std::array<std::int32_t, 3> values{};
  std::array<bool, 3> present{true, true, true};
  p.source.readArgs(values, present);
  EXPECT_EQ(present, GetParam().present);
  for (std::size_t i = 0; i < 3; ++i)
    if (present[i]) {
      EXPECT_EQ(values[i], GetParam().values[i]) << i;
    }
  EXPECT_EQ(p.source.getNonBlank(), GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, ReadArgs,
    testing::Values(ArgsCase{"5,6", {true, true, false}, {5, 6, 0}, END_OF_TEXT},
                    ArgsCase{",6", {false, true, false}, {0, 6, 0}, END_OF_TEXT},
                    ArgsCase{"1,2,3,", {true, true, true}, {1, 2, 3}, ','},
                    ArgsCase{",,-4 x", {false, false, true}, {0, 0, -4}, 'x'},
                    ArgsCase{"x", {false, false, false}, {0, 0, 0}, 'x'},
                    ArgsCase{"1 x", {true, false, false}, {1, 0, 0}, 'x'}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

}  // namespace
}  // namespace qvb
