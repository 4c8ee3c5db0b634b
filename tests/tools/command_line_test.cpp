#include "render/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvb {
namespace {

TEST(SecondsToFrames, ExactDecimalsRoundDown) {
  struct Case {
    const char* text;
    std::int64_t frames;
  };
  // 2.3, 0.7 and 4.35 are one frame short when worked in binary floating point.
  const Case cases[] = {
      {"5", 220500},         {"0.5", 22050},      {".5", 22050},          {"5.", 220500},
      {"0", 0},              {"2.3", 101430},     {"0.7", 30870},         {"4.35", 191835},
      {"007.10", 313110},    {"0.0000226757", 0}, {"0.0000226758", 1},    {"1.99999999999999999999", 88199},
      {"21600", std::int64_t{21600} * 44100},
  };
  for (const Case& c : cases) {
    const auto frames = secondsToFrames(c.text);
    ASSERT_TRUE(frames.has_value()) << c.text;
    EXPECT_EQ(*frames, c.frames) << c.text;
  }
}

TEST(SecondsToFrames, RefusesWhatIsNoPlainDecimal) {
  for (const char* text : {"", ".", "-1", "+1", "1.2.3", "1e3", "abc", " 5", "5 ", "21600.00003", "86400",
                           "9999999", "0x10"}) {
    EXPECT_FALSE(secondsToFrames(text).has_value()) << '"' << text << '"';
  }
}

TEST(DefaultOutputName, ReplacesOnlyTheLastExtensionOfTheFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"song.qvb", "song.wav"},        {"song", "song.wav"},
      {"a.b.qvm", "a.b.wav"},          {"dir.d/song", "dir.d/song.wav"},
      {"dir/song.QVM", "dir/song.wav"}, {".hidden", ".hidden.wav"},
      {"dir/.hidden", "dir/.hidden.wav"}, {"song.wav", "song.wav"},
  };
  for (const auto& [input, output] : cases) EXPECT_EQ(defaultOutputName(input), output) << input;
}

TEST(HasExtension, IgnoresCase) {
  EXPECT_TRUE(hasExtension("x.FLAC", ".flac"));
  EXPECT_TRUE(hasExtension("x.Ogg", ".ogg"));
  EXPECT_FALSE(hasExtension("x.flac.wav", ".flac"));
  EXPECT_FALSE(hasExtension("ogg", ".ogg"));
}

std::optional<CommandLine> parse(std::vector<const char*> args, std::string& error) {
  return parseCommandLine(static_cast<int>(args.size()), args.data(), error);
}

TEST(ParseCommandLine, ReadsEveryOption) {
  std::string error;
  const auto line = parse({"-t", "1.5", "-l", "3", "-f", "0.25", "-o", "out.flac", "in.qvm"}, error);
  ASSERT_TRUE(line.has_value()) << error;
  EXPECT_EQ(line->input, "in.qvm");
  EXPECT_EQ(line->output, "out.flac");
  EXPECT_EQ(line->options.lengthFrames, 66150);
  EXPECT_EQ(line->options.loops, 3);
  EXPECT_EQ(line->options.fadeFrames, 11025);
}

TEST(ParseCommandLine, DefaultsRenderToTheEndWithTwoLoopsAndNoFade) {
  std::string error;
  const auto line = parse({"music/in.qvb"}, error);
  ASSERT_TRUE(line.has_value()) << error;
  EXPECT_EQ(line->output, "music/in.wav");
  EXPECT_EQ(line->options.lengthFrames, -1);
  EXPECT_EQ(line->options.loops, 2);
  EXPECT_EQ(line->options.fadeFrames, 0);
  EXPECT_EQ(line->options.capFrames, 10 * 60 * 44100);
}

TEST(ParseCommandLine, HelpAndVersionWinOverEverythingButAnOptionValue) {
  const std::vector<std::vector<const char*>> help = {{"-h"}, {"--help"}, {"-x", "a.qvb", "b.qvb", "-h"}};
  for (const auto& args : help) {
    std::string error;
    const auto line = parse(args, error);
    ASSERT_TRUE(line.has_value()) << args.back() << ": " << error;
    EXPECT_TRUE(line->help);
    EXPECT_FALSE(line->version);
  }
  std::string error;
  const auto version = parse({"-x", "a.qvb", "b.qvb", "--version"}, error);
  ASSERT_TRUE(version.has_value()) << error;
  EXPECT_TRUE(version->version);
  EXPECT_FALSE(version->help);
  const auto named = parse({"-o", "-h", "a.qvb"}, error);
  ASSERT_TRUE(named.has_value()) << error;
  EXPECT_FALSE(named->help);
  EXPECT_EQ(named->output, "-h");
  const auto namedVersion = parse({"-o", "--version", "a.qvb"}, error);
  ASSERT_TRUE(namedVersion.has_value()) << error;
  EXPECT_FALSE(namedVersion->version);
  EXPECT_EQ(namedVersion->output, "--version");
}

TEST(ParseCommandLine, RefusesBadArguments) {
  const std::vector<std::vector<const char*>> cases = {
      {},
      {"-t"},
      {"-t", "x", "a.qvb"},
      {"-l", "-1", "a.qvb"},
      {"-l", "1001", "a.qvb"},
      {"-f", "1,5", "a.qvb"},
      {"-x", "a.qvb"},
      {"a.qvb", "b.qvb"},
      {"-o", "", "a.qvb"},
      {"-o", "out.wav"},
  };
  for (const auto& args : cases) {
    std::string error;
    EXPECT_FALSE(parse(args, error).has_value()) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace qvb
