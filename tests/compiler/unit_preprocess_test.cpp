// Preprocessing in place: the exact bytes of the work copy afterwards, and the
// line and row of the two structure errors.
#include <gtest/gtest.h>

#include "tests/support/case_name.h"

#include <string>
#include <string_view>
#include <vector>

#include "compiler/compile_errors.h"
#include "compiler/preprocess.h"

namespace qvb {
namespace {

struct Result {
  int code;
  std::int32_t line = -1, row = -1;
  std::string copy;
};

// The copy is allocated at exactly size + 2 bytes, so the sanitizer build
// catches any byte touched past its end.
Result run(std::string_view text) {
  std::vector<std::uint8_t> copy(text.begin(), text.end());
  copy.resize(text.size() + 2, 0);
  copy.shrink_to_fit();
  Result r{};
  r.code = preprocess(copy, r.line, r.row);
  r.copy.assign(copy.begin(), copy.end());
  return r;
}

using namespace std::string_literals;

struct CleanCase {
  std::string text;
  std::string expected;  // the whole work copy
};

class CleanText : public testing::TestWithParam<CleanCase> {};

TEST_P(CleanText, GivesTheseBytes) {
  const Result r = run(GetParam().text);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.copy, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Preprocess, CleanText,
    testing::Values(
        CleanCase{""s, "\n\n"s},
        CleanCase{"a\tb"s, "a b\n\n"s},
        CleanCase{"a\nb\n"s, "a\rb\r\n\n"s},
        CleanCase{"a\r\nb"s, "a\r\0b\n\n"s},
        CleanCase{"a\rb"s, "a\rb\n\n"s},
        // Nested comments, line ends inside them kept.
        CleanCase{"x{ a { b } \n c }y"s, "x\0\0\0\0\0\0\0\0\0\0\r\0\0\0\0y\n\n"s},
        // Escapes and two-byte characters take the next byte along unexamined.
        CleanCase{"\\{a"s, "\\{a\n\n"s},
        CleanCase{"\\\t"s, "\\\t\n\n"s},
        CleanCase{"\x82}"s, "\x82}\n\n"s},
        CleanCase{"{\\}}z"s, "\0\0\0\0z\n\n"s},
        CleanCase{"{\x81}}z"s, "\0\0\0\0z\n\n"s},
        // "#END" cuts the text; inside a comment it is ignored.
        CleanCase{"c#END d"s, "c\0\n\nD d\0\0"s},
        CleanCase{"#ENDING"s, "\0\n\nDING\0\0"s},
        CleanCase{"{#END}x"s, "\0\0\0\0\0\0x\n\n"s},
        CleanCase{"\\#END"s, "\\#END\n\n"s},
        CleanCase{"#end"s, "#end\n\n"s},
        // A 0 byte in the source ends the text.
        CleanCase{"ab\0cd"s, "ab\n\nd\0\0"s},
        // An escape or lead byte as the last byte stays inside the copy.
        CleanCase{"ab\\"s, "ab\\\n\n"s},
        CleanCase{"\xE3"s, "\xE3\n\n"s}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

struct ErrorCase {
  std::string text;
  int code;
  std::int32_t line, row;
};

class BadStructure : public testing::TestWithParam<ErrorCase> {};

TEST_P(BadStructure, ReportsCodeAndPlace) {
  const Result r = run(GetParam().text);
  EXPECT_EQ(r.code, GetParam().code);
  EXPECT_EQ(r.line, GetParam().line);
  EXPECT_EQ(r.row, GetParam().row);
}

INSTANTIATE_TEST_SUITE_P(
    Preprocess, BadStructure,
    testing::Values(ErrorCase{"ab}"s, ERR_BRACE, 1, 3},
                    ErrorCase{"ab\n  }"s, ERR_BRACE, 2, 3},
                    ErrorCase{"ab\r\n  }"s, ERR_BRACE, 2, 3},
                    ErrorCase{"a\rb}"s, ERR_BRACE, 1, 4},  // a lone CR is no new line
                    ErrorCase{"\\\n}"s, ERR_BRACE, 2, 1},  // an escaped LF still ends the line
                    ErrorCase{"\x90x}"s, ERR_BRACE, 1, 3},
                    ErrorCase{"{x}}"s, ERR_BRACE, 1, 4},
                    ErrorCase{"{abc"s, ERR_COMMENT_OPEN, 1, 5},
                    ErrorCase{"{a\n"s, ERR_COMMENT_OPEN, 2, 1},
                    ErrorCase{"{a{b}\r\nc"s, ERR_COMMENT_OPEN, 2, 2},
                    ErrorCase{"{\\"s, ERR_COMMENT_OPEN, 1, 3},
                    ErrorCase{"{\xFF"s, ERR_COMMENT_OPEN, 1, 3}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

TEST(PreprocessTest, CommentAtTheEndIsClearedAndStillClosedByTheEndMark) {
  const Result r = run("ab{\\");
  EXPECT_EQ(r.code, ERR_COMMENT_OPEN);
  EXPECT_EQ(r.copy, "ab\0\0\n\n"s);
}

}  // namespace
}  // namespace qvb
