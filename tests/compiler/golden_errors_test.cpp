// Golden error reports: for each faulty source the code, the 1-based line and
// the row (bytes of that line consumed when the fault was seen, a held
// look-ahead character included; 0 and 0 for the checks after the header, and
// the first header line with row 0 for faults found at the end of a channel).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/compile_errors.h"
#include "tests/compiler/compile_fixture.h"

namespace qvb::test {
namespace {

struct ErrorCase {
  std::string name;
  std::string source;
  int code;
  int line;
  int row;
};

const std::string kHead = "#TITLE <t>\n#CHANNEL 1\n";
const std::string kHeadCrLf = "#TITLE <t>\r\n#CHANNEL 1\r\n";
const std::string kFamicom = "#TITLE <f>\n#CHANNEL 3\n#PRAGMA FAMICOM\n";

std::string repeatText(const std::string& unit, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += unit;
  return text;
}

const std::vector<ErrorCase>& errorCases() {
  static const std::vector<ErrorCase> cases = {
      // Text structure: braces, channel markers.
      {"BraceOutsideComment", kHead + "#A c } d\n", ERR_BRACE, 3, 6},
      {"BraceOutsideCommentCrLf", kHeadCrLf + "#A c } d\r\n", ERR_BRACE, 3, 6},
      {"BraceAfterTwoByteChar", kHead + "#A \x82x }\n", ERR_BRACE, 3, 7},
      {"CommentOpenAtEnd", kHead + "#A c {d\n", ERR_COMMENT_OPEN, 4, 1},
      {"CommentOpenNoLineEnd", kHead + "#A c {d", ERR_COMMENT_OPEN, 3, 8},
      {"NestedCommentOpen", kHead + "#A { { } c", ERR_COMMENT_OPEN, 3, 11},
      {"BadMarkerLine7", kHead + "#A c\n\n\n\n#1 c\n", ERR_CHANNEL_MARKER, 7, 0},
      {"BadMarkerAtLineEnd", "#TITLE <t>\n#_\n", ERR_CHANNEL_MARKER, 2, 0},
      {"BadMarkerCrLf", kHeadCrLf + "#- c\r\n", ERR_CHANNEL_MARKER, 3, 0},
      // Header items.
      {"CommandBeforeMarker", kHead + "c\n#A c\n", ERR_HEADER, 3, 1},
      {"JunkAfterChannelCount", "#TITLE <t>\n#CHANNEL 1 x\n#A c\n", ERR_HEADER, 2, 12},
      {"JunkAfterChannelCountCrLf", "#TITLE <t>\r\n#CHANNEL 1 x\r\n#A c\r\n", ERR_HEADER, 2, 13},
      {"UnknownWordSameInitial", "#TITLE <t>\n#TEMPO 1\n#A c\n", ERR_HEADER, 2, 3},
      {"UnknownInitial", "#TITLE <t>\n#XYZ\n#A c\n", ERR_HEADER, 2, 2},
      {"TwoLetterWordIsDirective", "#TITLE <t>\n#AB c\n#A c\n", ERR_HEADER, 2, 2},
      {"LowerCaseDirective", "#title <t>\n", ERR_HEADER, 1, 2},
      // Repeat-bracket faults in the header become the header's own codes.
      {"StrayCloseInHeader", "#TITLE <t> ]\n#CHANNEL 1\n#A c\n", ERR_HEADER, 1, 12},
      {"RepeatOfOneInChannelCount", "#TITLE <t>\n#CHANNEL [1 2]\n#A c\n", ERR_CHANNEL, 2, 11},
      {"CommentEndsTitle", "#TITLE <ab{x}cd>\n#CHANNEL 1\n#A c\n", ERR_HEADER, 1, 14},
      // Checks after the header, reported at 0 and 0.
      {"NoChannelCount", "#TITLE <t>\n#A c\n", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
      {"NoTitle", "#CHANNEL 1\n#A c\n", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
      {"EmptyTitle", "#TITLE <>\n#CHANNEL 1\n#A c\n", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
      {"EmptySource", "", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
      {"OnlyComments", "{ nothing here }\n\n", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
      {"FamicomFourChannels", "#TITLE <t>\n#PRAGMA FAMICOM\n#CHANNEL 4\n#A c\n#B c\n#C c\n#D c\n", ERR_CHANNEL_COUNT, 0,
       0},
      {"FamicomTwoChannels", "#TITLE <t>\n#PRAGMA FAMICOM\n#CHANNEL 2\n#A c\n#B c\n", ERR_CHANNEL_COUNT, 0, 0},
      {"LastChannelWithoutText", "#TITLE <t>\n#CHANNEL 3\n#A c\n#B c\n", ERR_CHANNEL_COUNT, 0, 0},
      {"TextBeyondChannelCount", "#TITLE <t>\n#CHANNEL 3\n#A c\n#B c\n#C c\n#D c\n", ERR_CHANNEL_COUNT, 0, 0},
      {"NoChannelText", kHead, ERR_CHANNEL_COUNT, 0, 0},
      // Directives.
      {"TitleWithoutBracket", "#TITLE t\n#CHANNEL 1\n#A c\n", ERR_TITLE, 1, 8},
      {"TitleWithoutBracketCrLfFirstLine", "#TITLE t\r\n#CHANNEL 1\r\n#A c\r\n", ERR_TITLE, 1, 8},
      {"TitleNeverClosed", "#TITLE <abc", ERR_TITLE, 1, 12},
      // Raw title reads run on through the following lines up to the end mark.
      {"TitleRunsToEnd", "#CHANNEL 1\n#TITLE <abc\n#A c\n", ERR_TITLE, 2, 18},
      {"ChannelZero", "#CHANNEL 0 #TITLE <t>\n#A c\n", ERR_CHANNEL, 1, 12},
      {"ChannelNegativeAtHeaderEnd", "#TITLE <t>\n#CHANNEL -2\n#A c\n", ERR_CHANNEL, 1, 0},
      {"ChannelNoNumber", "#TITLE <t>\n#CHANNEL x\n#A c\n", ERR_CHANNEL, 2, 10},
      {"PragmaOther", "#TITLE <t>\n#PRAGMA FAMILY\n#CHANNEL 1\n#A c\n", ERR_PRAGMA, 2, 13},
      {"WaveIndexTooBig", kHead + "#WAV 256,<[32 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 9},
      {"WaveValueTooBig", kHead + "#WAV 0,<128,[31 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 12},
      {"WaveValueTooSmall", kHead + "#WAV 0,<-129,[31 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 13},
      {"WaveRampStartTooBig", kHead + "#WAV 0,<(128,0),32>\n#A c\n", ERR_WAV_SYNTAX, 3, 13},
      {"WaveRampOfOne", kHead + "#WAV 0,<(0,1),1,[31 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 16},
      {"WaveRampOfZero", kHead + "#WAV 0,<(0,1),0,[32 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 16},
      {"WaveRampNegativeCount", kHead + "#WAV 0,<(0,1),-1,[33 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 17},
      {"WaveLeadingComma", kHead + "#WAV 0,<,1>\n#A c\n", ERR_WAV_SYNTAX, 3, 9},
      {"WaveDoubleComma", kHead + "#WAV 0,<1,,2>\n#A c\n", ERR_WAV_SYNTAX, 3, 11},
      {"WaveMissingComma", kHead + "#WAV 0 <1>\n#A c\n", ERR_WAV_SYNTAX, 3, 8},
      {"WaveMissingOpen", kHead + "#WAV 0,1>\n#A c\n", ERR_WAV_SYNTAX, 3, 8},
      {"WaveBadSeparator", kHead + "#WAV 0,<1;2>\n#A c\n", ERR_WAV_SYNTAX, 3, 10},
      {"WaveThreeValues", kHead + "#WAV 0,<1,2,3>\n#A c\n", ERR_WAV_COUNT, 3, 14},
      {"WaveEmpty", kHead + "#WAV 0,<>\n#A c\n", ERR_WAV_COUNT, 3, 9},
      {"WaveThirtyThree", kHead + "#WAV 0,<[33 0,]>\n#A c\n", ERR_WAV_COUNT, 3, 16},
      // Commands: the row is that of the last character read, look-ahead included.
      {"OctaveTooHigh", kHead + "#A o9 c\n", ERR_OCTAVE, 3, 7},
      {"OctaveZero", kHead + "#A o0 c\n", ERR_OCTAVE, 3, 7},
      {"OctaveUpPastEight", kHead + "#A o8<\n", ERR_OCTAVE, 3, 6},
      {"OctaveDownPastOne", kHead + "#A o1>\n", ERR_OCTAVE, 3, 6},
      {"OctaveAtChannelEnd", kHead + "#A o9\n", ERR_OCTAVE, 1, 0},
      {"OctaveCrLfRowOneHigher", kHeadCrLf + "#A o9 c\r\n", ERR_OCTAVE, 3, 8},
      {"GateTooHigh", kHead + "#A q17 c\n", ERR_GATE, 3, 8},
      {"GateZero", kHead + "#A q0 c\n", ERR_GATE, 3, 7},
      {"NoteLengthZero", kHead + "#A c0 d\n", ERR_LENGTH, 3, 7},
      {"NoteLengthTooLong", kHead + "#A c1025 d\n", ERR_LENGTH, 3, 10},
      {"RestLengthTooLong", kHead + "#A r1025 d\n", ERR_LENGTH, 3, 10},
      {"DefaultLengthZero", kHead + "#A l0 c\n", ERR_LENGTH, 3, 7},
      {"TieLengthZero", kHead + "#A c4^0 d\n", ERR_LENGTH, 3, 9},
      {"VolumeTooHigh", kHead + "#A v16 c\n", ERR_VOLUME, 3, 8},
      {"VolumeNegative", kHead + "#A v-1 c\n", ERR_VOLUME, 3, 8},
      {"VolumeLeftMissing", kHead + "#A v, c\n", ERR_VOLUME, 3, 7},
      {"VolumeLeftTooHigh", kHead + "#A v3,16 c\n", ERR_VOLUME, 3, 10},
      {"ReleaseTooHigh", kHead + "#A s256 c\n", ERR_RELEASE, 3, 9},
      {"ReleaseNegative", kHead + "#A s-1 c\n", ERR_RELEASE, 3, 8},
      {"SweepTooHigh", kHead + "#A s,128 c\n", ERR_RELEASE, 3, 10},
      {"SweepTooLow", kHead + "#A s,-129 c\n", ERR_RELEASE, 3, 11},
      {"DetuneTooHigh", kHead + "#A k128 c\n", ERR_DETUNE, 3, 9},
      {"DetuneTooLow", kHead + "#A k-129 c\n", ERR_DETUNE, 3, 10},
      {"TimbreTooHigh", kHead + "#A @256 c\n", ERR_TIMBRE, 3, 9},
      {"TimbreNegative", kHead + "#A @-1 c\n", ERR_TIMBRE, 3, 8},
      {"VoiceTypeTooHigh", kHead + "#A %256 c\n", ERR_VOICE_TYPE, 3, 9},
      {"TempoTooHigh", kHead + "#A t513 c\n", ERR_TEMPO, 3, 9},
      {"TempoZero", kHead + "#A t0 c\n", ERR_TEMPO, 3, 7},
      {"LoopCountOne", kHead + "#A /:1 c :/\n", ERR_LOOP_COUNT, 3, 8},
      {"LoopCountTooHigh", kHead + "#A /:256 c :/\n", ERR_LOOP_COUNT, 3, 10},
      {"BreakWithoutLoop", kHead + "#A / c\n", ERR_LOOP_BREAK, 3, 6},
      {"EndWithoutLoop", kHead + "#A :/ c\n", ERR_LOOP_END, 3, 5},
      {"VibratoDelayTooHigh", kHead + "#A mp65536 c\n", ERR_VIBRATO, 3, 12},
      {"VibratoDelayNegative", kHead + "#A mp-1 c\n", ERR_VIBRATO, 3, 9},
      {"VibratoDepthTooHigh", kHead + "#A mp,256 c\n", ERR_VIBRATO, 3, 11},
      {"VibratoRateTooHigh", kHead + "#A mp,,256 c\n", ERR_VIBRATO, 3, 12},
      {"VibratoStepTooHigh", kHead + "#A mp,,,128 c\n", ERR_VIBRATO, 3, 13},
      {"VibratoGrowthTooHigh", kHead + "#A mp,,,,256 c\n", ERR_VIBRATO, 3, 14},
      {"LengthFive", kHead + "#A c5 d\n", ERR_LENGTH_DIVIDE, 3, 7},
      {"DotOnOddTicks", kHead + "#A c32.. d\n", ERR_LENGTH_DIVIDE, 3, 10},
      // l5 itself is accepted; the note that falls back on it is refused.
      {"DefaultLengthFiveUsed", kHead + "#A l5 c d\n", ERR_LENGTH_DIVIDE, 3, 9},
      {"NoteOneTickTooLong", kHead + "#A " + tied("c1", "1", 340) + "^4^16^64 d\n", ERR_LENGTH_OVERFLOW, 3, 695},
      {"Note342Whole", kHead + "#A " + tied("c1", "1", 341) + " d\n", ERR_LENGTH_OVERFLOW, 3, 689},
      {"Rest342Whole", kHead + "#A " + tied("r1", "1", 341) + " d\n", ERR_LENGTH_OVERFLOW, 3, 689},
      {"SilentPartTooLong", kHead + "#A q1 " + tied("c1", "1", 364) + " d\n", ERR_LENGTH_OVERFLOW, 3, 738},
      {"UpperCaseNote", kHead + "#A C d\n", ERR_SYNTAX, 3, 4},
      {"UnknownLetter", kHead + "#A x\n", ERR_SYNTAX, 3, 4},
      {"Digit", kHead + "#A 1\n", ERR_SYNTAX, 3, 4},
      {"ColonWithoutSlash", kHead + "#A :x\n", ERR_SYNTAX, 3, 5},
      {"MWithoutP", kHead + "#A mx\n", ERR_SYNTAX, 3, 5},
      {"EscapedBraceIsText", kHead + "#A \\{ c\n", ERR_SYNTAX, 3, 4},
      {"BackslashLastByte", kHead + "#A c \\", ERR_SYNTAX, 3, 6},
      {"LeadByteLastByte", kHead + "#A c \x82", ERR_SYNTAX, 3, 6},
      {"RepeatCloseWithoutOpen", kHead + "#A a]\n", ERR_SYNTAX, 3, 5},
      {"RepeatOfZeroLeavesClose", kHead + "#A [0 a]\n", ERR_SYNTAX, 3, 8},
      {"RepeatOfOne", kHead + "#A [1ab]\n", ERR_SYNTAX, 3, 5},
      {"RepeatNested", kHead + "#A [c [d]]\n", ERR_SYNTAX, 3, 7},
      {"RepeatReadingTooMuch", kHead + "#A c [2147483647 d]\n", ERR_REPEAT_LIMIT, 3, 6},
      {"SeventeenthLoop", kHead + "#A " + repeatText("/:", 17) + " c\n", ERR_LOOP_DEPTH, 3, 39},
      {"LoopOpenAtEnd", kHead + "#A /: c\n", ERR_LOOP_OPEN, 1, 0},
      // The first header line need not be line 1.
      {"LoopOpenHeaderAfterChannel", "#A /: c\n#TITLE <t>\n#CHANNEL 1\n", ERR_LOOP_OPEN, 2, 0},
      {"LoopOpenAtEndCrLf", kHeadCrLf + "#A /: c\r\n", ERR_LOOP_OPEN, 1, 0},
      // FAMICOM: pulse channels take the duties 2, 4, 6, 7 only.
      {"FamicomPulseDutyThree", kFamicom + "#A @3 c\n#B c\n#C c\n", ERR_TIMBRE, 4, 7},
      {"FamicomSecondPulseDutyFive", kFamicom + "#A c\n#B @5 c\n#C c\n", ERR_TIMBRE, 5, 7},
      // The sine channel takes no timbre at all, and no channel a voice type;
      // the operand is read before the command is refused.
      {"FamicomSineChannelTimbre", kFamicom + "#A c\n#B c\n#C @4 c\n", ERR_TIMBRE, 6, 7},
      {"FamicomVoiceType", kFamicom + "#A c\n#B %1 c\n#C c\n", ERR_VOICE_TYPE, 5, 7},
      // Limits of the image fields.
      {"TitleOneByteTooLong", "#TITLE <" + std::string(65536, 'a') + ">\n#CHANNEL 1\n#A c\n", ERR_TITLE_TOO_LONG, 1,
       65544},
      {"TooManyWaves", kHead + repeatText("#WAV 0,<[32 0,]>\n", 256) + "#A c\n", ERR_TOO_MANY_WAVES, 258, 16},
      // Numbers beyond 32 bits: each, taken modulo 2^32, would be a valid value.
      {"Beyond32BitsTempo", kHead + "#A t4294967416 c\n", ERR_TEMPO, 3, 16},
      {"Beyond32BitsVolume", kHead + "#A v4294967311 c\n", ERR_VOLUME, 3, 16},
      {"Beyond32BitsNoteLength", kHead + "#A c4294967344 d\n", ERR_LENGTH, 3, 16},
      {"Beyond32BitsDetune", kHead + "#A k-4294967295 c\n", ERR_DETUNE, 3, 17},
      {"Beyond32BitsVibrato", kHead + "#A mp4294967297 c\n", ERR_VIBRATO, 3, 17},
      {"Beyond32BitsChannelCount", "#CHANNEL 4294967297 #TITLE <t>\n#A c\n", ERR_CHANNEL, 1, 21},
      // The largest count that fits is no range error: the channels must match it.
      {"Beyond32BitsChannelCountLargestThatFits", "#CHANNEL 2147483647 #TITLE <t>\n#A c\n", ERR_CHANNEL_COUNT, 0, 0},
      {"Beyond32BitsChannelCountOnePastIt", "#CHANNEL 2147483648 #TITLE <t>\n#A c\n", ERR_CHANNEL, 1, 21},
      {"Beyond32BitsWaveIndex", kHead + "#WAV 4294967296,<[32 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 16},
      {"Beyond32BitsWaveRampEnd", kHead + "#WAV 0,<(0,2147483648),32>\n#A c\n", ERR_WAV_SYNTAX, 3, 22},
      {"Beyond32BitsWaveRampCount", kHead + "#WAV 0,<(0,1),4294967328>\n#A c\n", ERR_WAV_SYNTAX, 3, 25},
      // A repeat count saturates, so the repeat runs into the replay budget.
      {"Beyond32BitsRepeatCount", kHead + "#A [4294967295 c]\n", ERR_REPEAT_LIMIT, 3, 4},
  };
  return cases;
}

class GoldenError : public testing::TestWithParam<ErrorCase> {};

TEST_P(GoldenError, CodeLineAndRow) {
  const ErrorCase& c = GetParam();
  const CompileResult result = compileSource(c.source);
  EXPECT_EQ(result.status, c.code);
  EXPECT_EQ(result.error.type, c.code);
  EXPECT_EQ(result.error.line, c.line);
  EXPECT_EQ(result.error.row, c.row);
  EXPECT_TRUE(result.image.empty());
}

INSTANTIATE_TEST_SUITE_P(Errors, GoldenError, testing::ValuesIn(errorCases()),
                         [](const testing::TestParamInfo<ErrorCase>& p) { return p.param.name; });

// Every code a compile can report, apart from running out of memory, is
// reached by at least one case above.
TEST(GoldenErrorCoverage, EveryReportableCodeHasACase) {
  for (const ErrorCodeInfo& info : errorCodes()) {
    if (info.code == ERR_MEMORY) continue;
    bool found = false;
    for (const ErrorCase& c : errorCases()) found = found || c.code == info.code;
    EXPECT_TRUE(found) << info.name << " has no golden case";
  }
}

// The largest title and the largest wave list still fit their fields.
TEST(GoldenLimits, LargestTitleAndWaveListCompile) {
  const CompileResult title = compileSource("#TITLE <" + std::string(65535, 'a') + ">\n#CHANNEL 1\n#A c\n");
  ASSERT_EQ(title.status, 0);
  const ImageParts titleParts = splitImage(title.image);
  ASSERT_EQ(titleParts.problem, "");
  EXPECT_EQ(titleParts.title.size(), 65535u);

  const CompileResult waves = compileSource(kHead + repeatText("#WAV 9,<[32 0,]>\n", 255) + "#A c\n");
  ASSERT_EQ(waves.status, 0);
  const ImageParts waveParts = splitImage(waves.image);
  ASSERT_EQ(waveParts.problem, "");
  EXPECT_EQ(waveParts.waves.size(), 255u);
}

}  // namespace
}  // namespace qvb::test
