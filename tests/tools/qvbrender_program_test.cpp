// Runs the built qvbrender on small songs and reads its files back.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/tools/render_test_songs.h"

#ifdef QVBRENDER_EXE

namespace qvb {
namespace {

using test::ProcessResult;

struct SoundRead {
  bool ok = false;
  SF_INFO info{};
  std::vector<std::int16_t> samples;
};

SoundRead readSound(const std::string& path) {
  SoundRead r;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &r.info);
  if (!file) return r;
  r.samples.resize(static_cast<std::size_t>(r.info.frames * r.info.channels));
  r.ok = sf_readf_short(file, r.samples.data(), r.info.frames) == r.info.frames;
  sf_close(file);
  return r;
}

std::string asText(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

class QvbRender : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::makeTempDir(); }
  ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), test::program(QVBRENDER_EXE));
    return test::runProcess(args, dir_);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(QvbRender, MinimalImageSoundsSampleForSampleWithTheDefaultName) {
  test::writeFile(path("minimal.qvb"), asText(test::minimalImage()));
  const ProcessResult p = run({"minimal.qvb"});
  ASSERT_EQ(p.exitStatus, 0) << p.err;
  EXPECT_EQ(p.out, "");
  EXPECT_NE(p.err.find("length: 0.805 s (35512 frames)"), std::string::npos) << p.err;
  EXPECT_EQ(p.err.find("intro:"), std::string::npos) << "the song does not loop";
  const SoundRead sound = readSound(path("minimal.wav"));
  ASSERT_TRUE(sound.ok);
  EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(sound.info.samplerate, 44100);
  EXPECT_EQ(sound.info.channels, 2);
  EXPECT_EQ(sound.samples, test::minimalImageSound());
}

TEST_F(QvbRender, ExactLengthsInFrames) {
  test::writeFile(path("song"), asText(test::minimalImage()));
  const std::pair<const char*, sf_count_t> cases[] = {{"5", 220500}, {"0.5", 22050}, {"2.3", 101430}};
  for (const auto& [seconds, frames] : cases) {
    const ProcessResult p = run({"-t", seconds, "song"});
    ASSERT_EQ(p.exitStatus, 0) << p.err;
    const SoundRead sound = readSound(path("song.wav"));
    ASSERT_TRUE(sound.ok);
    EXPECT_EQ(sound.info.frames, frames) << seconds;
    // The song's sound, then the stream goes on silent after its end.
    const std::vector<std::int16_t> song = test::minimalImageSound();
    for (std::size_t i = 0; i < sound.samples.size(); ++i) {
      ASSERT_EQ(sound.samples[i], i < song.size() ? song[i] : 0) << seconds << ", value " << i;
    }
  }
}

TEST_F(QvbRender, WarnsOfASilentChannelAndStillRenders) {
  test::writeFile(path("w.qvm"), "#TITLE <a>\n#CHANNEL 2\n#A v15 c\n#B c d\n");
  const ProcessResult p = run({"w.qvm"});
  ASSERT_EQ(p.exitStatus, 0) << p.err;
  EXPECT_EQ(p.err.rfind("w.qvm:4:1: warning: channel B plays notes but never sets a volume (v): it is silent\n", 0), 0u)
      << p.err;
}

TEST_F(QvbRender, ChoosesTheFileTypeByTheOutputName) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  const std::pair<const char*, int> cases[] = {{"x.flac", SF_FORMAT_FLAC},
                                               {"y.FLAC", SF_FORMAT_FLAC},
                                               {"z.Ogg", SF_FORMAT_OGG},
                                               {"w.wave", SF_FORMAT_WAV}};
  for (const auto& [name, major] : cases) {
    const ProcessResult p = run({"-o", name, "a.qvb"});
    ASSERT_EQ(p.exitStatus, 0) << name << ": " << p.err;
    const SoundRead sound = readSound(path(name));
    ASSERT_TRUE(sound.ok) << name;
    EXPECT_EQ(sound.info.format & SF_FORMAT_TYPEMASK, major) << name;
    EXPECT_EQ(sound.info.samplerate, 44100);
    EXPECT_EQ(sound.info.channels, 2);
    if (major == SF_FORMAT_FLAC) {
      EXPECT_EQ(sound.samples, test::minimalImageSound()) << name;
    }
  }
}

TEST_F(QvbRender, ReportsIntroAndLoopAndFadesAfterTheLastLoop) {
  // VOLUME 240, note 60 for 8 ticks, mark, note 62 for 16 ticks, END.
  test::writeFile(path("loop.qvb"), asText(test::songOf({{0x81, 0xF0, 0x3C, 0x08, 0xE0, 0x3E, 0x10, 0xFF}})));
  const ProcessResult p = run({"-l", "1", "-f", "0.5", "loop.qvb"});
  ASSERT_EQ(p.exitStatus, 0) << p.err;
  EXPECT_NE(p.err.find("intro: 0.137 s (6072 frames)"), std::string::npos) << p.err;
  EXPECT_NE(p.err.find("loop: 0.267 s (11776 frames)"), std::string::npos) << p.err;
  EXPECT_NE(p.err.find("length: 0.404 s (17848 frames), 1 loop"), std::string::npos) << p.err;
  const SoundRead sound = readSound(path("loop.wav"));
  ASSERT_TRUE(sound.ok);
  EXPECT_EQ(sound.info.frames, 17848 + 22050);
  // Full level just before the fade, a fraction near its end.
  EXPECT_EQ(std::abs(sound.samples[2 * 17847]), 3840);
  EXPECT_EQ(std::abs(sound.samples[2 * (17848 + 22049)]), 3840 / 22050);
  EXPECT_EQ(std::abs(sound.samples[2 * (17848 + 11025)]), 3840 * 11025 / 22050);
}

TEST_F(QvbRender, SourceTextIsCompiledInMemory) {
  test::writeFile(path("min.qvm"), "#TITLE <a>\n#CHANNEL 1\n#A v 15 c\n");
  const ProcessResult p = run({"min.qvm"});
  ASSERT_EQ(p.exitStatus, 0) << p.err;
  const SoundRead sound = readSound(path("min.wav"));
  ASSERT_TRUE(sound.ok);
  EXPECT_EQ(sound.samples, test::minimalImageSound());
}

TEST_F(QvbRender, FailsClearlyOnBadInputAndOutput) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  test::writeFile(path("bad.qvm"), "#TITLE <a>\n#CHANNEL 1\n#A v 15 c &&&\n");
  test::writeFile(path("empty.qvb"), "");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"missing.qvb"}, 1, "cannot read missing.qvb"},
      {{"-o", "no/such/dir/x.wav", "a.qvb"}, 1, "cannot write no/such/dir/x.wav"},
      {{"bad.qvm"}, 1, "bad.qvm:3:"},
      // No bytes: no image, and as source it has neither title nor channels (-6, no place).
      {{"empty.qvb"}, 1, "empty.qvb:0:0: error -6 "},
      {{"."}, 1, "cannot read ."},
      {{"-o", "./a.qvb", "a.qvb"}, 1, "would overwrite the input"},
      {{}, 2, "usage: qvbrender"},
      {{"-t", "soon", "a.qvb"}, 2, "usage: qvbrender"},
      {{"-q", "a.qvb"}, 2, "usage: qvbrender"},
      {{"a.qvb", "a.qvb"}, 2, "usage: qvbrender"},
      {{"-l"}, 2, "usage: qvbrender"},
  };
  for (const Case& c : cases) {
    const ProcessResult p = run(c.args);
    EXPECT_EQ(p.exitStatus, c.status) << c.message << ": " << p.err;
    EXPECT_NE(p.err.find(c.message), std::string::npos) << p.err;
    EXPECT_EQ(p.out, "");
  }
  EXPECT_FALSE(test::fileExists(path("no/such/dir/x.wav")));
  EXPECT_EQ(test::readFile(path("a.qvb")), asText(test::minimalImage()));
}

// A stream with no end (yes | qvbrender /dev/stdin) would grow until memory ran out.
TEST_F(QvbRender, AStreamLongerThanASongMayBeIsRefusedOneBytePastTheLimit) {
  const ProcessResult p = test::runProcess(
      {"/bin/sh", "-c", std::string("head -c 67108865 /dev/zero | ") + QVBRENDER_EXE + " /dev/stdin"}, dir_);
  EXPECT_EQ(p.exitStatus, 1);
  EXPECT_EQ(p.err, "qvbrender: cannot read /dev/stdin: more than 64 MiB, the most a song file may hold\n");
}

TEST_F(QvbRender, HelpPrintsTheUsageAndSucceeds) {
  for (const char* option : {"-h", "--help"}) {
    const ProcessResult p = run({option});
    EXPECT_EQ(p.exitStatus, 0) << option;
    EXPECT_EQ(p.out.rfind("usage: qvbrender", 0), 0u) << option << ": " << p.out;
    EXPECT_EQ(p.err, "") << option;
  }
}

// Lists the folder's entries other than the given ones: a temporary file
// left behind shows up here.
std::vector<std::string> otherEntries(const std::string& dir, const std::vector<std::string>& known) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) names.push_back(name);
  }
  return names;
}

// A file size limit of one block lets the header through and fails the
// first sound written: the file that was there before is kept.
TEST_F(QvbRender, FailedWriteKeepsTheFileThatWasThere) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  test::writeFile(path("a.wav"), "old");
  const ProcessResult p = test::runProcess(
      {"/bin/sh", "-c", std::string("trap '' XFSZ; ulimit -f 1; exec ") + QVBRENDER_EXE + " a.qvb"}, dir_);
  EXPECT_EQ(p.exitStatus, 1) << p.err;
  EXPECT_NE(p.err.find("cannot write a.wav"), std::string::npos) << p.err;
  EXPECT_EQ(test::readFile(path("a.wav")), "old");
  EXPECT_EQ(otherEntries(dir_, {"a.qvb", "a.wav"}), std::vector<std::string>{});
}

// No sound at all: a WAV file holds none, a FLAC file cannot (the library
// writes an empty file no reader takes), so it is refused, the old file kept.
TEST_F(QvbRender, ARenderOfNoFramesIsAnEmptyWavButNoFlac) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  const ProcessResult wav = test::runProcess({QVBRENDER_EXE, "-t", "0", "a.qvb"}, dir_);
  EXPECT_EQ(wav.exitStatus, 0) << wav.err;
  EXPECT_EQ(test::readFile(path("a.wav")).size(), 44u);
  test::writeFile(path("a.flac"), "old");
  const ProcessResult flac = test::runProcess({QVBRENDER_EXE, "-t", "0", "-o", "a.flac", "a.qvb"}, dir_);
  EXPECT_EQ(flac.exitStatus, 1) << flac.err;
  EXPECT_NE(flac.err.find("cannot write a.flac: a FLAC file cannot be empty"), std::string::npos) << flac.err;
  EXPECT_EQ(test::readFile(path("a.flac")), "old");
  EXPECT_EQ(otherEntries(dir_, {"a.qvb", "a.wav", "a.flac"}), std::vector<std::string>{});
}

// The signal comes once the render has opened its part file, long before an
// hour of sound is done; the old file stays and nothing is left.
TEST_F(QvbRender, StoppedRenderLeavesNoFileBehind) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  for (const auto& [signal, status] : {std::pair{"INT", 130}, std::pair{"TERM", 143}, std::pair{"HUP", 129}}) {
    test::writeFile(path("a.wav"), "old");
    const std::string script = std::string(QVBRENDER_EXE) + " -t 3600 a.qvb & pid=$!; "
        "until test -e a.wav.part; do sleep 0.01; done; kill -" + signal +
        " $pid; wait $pid";
    const ProcessResult p = test::runProcess({"/bin/sh", "-c", script}, dir_);
    EXPECT_EQ(p.exitStatus, status) << signal << ": " << p.err;
    EXPECT_NE(p.err.find("a.wav not written"), std::string::npos) << p.err;
    EXPECT_EQ(test::readFile(path("a.wav")), "old") << signal;
    EXPECT_EQ(otherEntries(dir_, {"a.qvb", "a.wav"}), std::vector<std::string>{}) << signal;
  }
}

// The link stays a link: the file it names is the one written.
TEST_F(QvbRender, ALinkToAFileNotThereYetIsWrittenThrough) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  std::filesystem::create_directory(path("out"));
  ASSERT_EQ(symlink("out/song.wav", path("link.wav").c_str()), 0);
  const ProcessResult p = run({"-o", "link.wav", "a.qvb"});
  EXPECT_EQ(p.exitStatus, 0) << p.err;
  EXPECT_TRUE(std::filesystem::is_symlink(path("link.wav")));
  EXPECT_EQ(readSound(path("out/song.wav")).samples, test::minimalImageSound());
}

// The always-full device, as a full disk: the system's reason for every type,
// and nothing on standard output.
TEST_F(QvbRender, AFullDeviceIsReportedInOurWordsForEveryFileType) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  for (const std::string name : {"full.wav", "full.flac", "full.ogg"}) {
    ASSERT_EQ(symlink("/dev/full", path(name).c_str()), 0);
    const ProcessResult p = run({"-o", name, "a.qvb"});
    EXPECT_EQ(p.exitStatus, 1) << name;
    EXPECT_EQ(p.err, "qvbrender: cannot write " + name + ": No space left on device\n");
    EXPECT_EQ(p.out, "") << name;
  }
}

TEST_F(QvbRender, OutputOntoADeviceIsWrittenInPlace) {
  test::writeFile(path("a.qvb"), asText(test::minimalImage()));
  const ProcessResult p = run({"-o", "/dev/null", "a.qvb"});
  EXPECT_EQ(p.exitStatus, 0) << p.err;
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
  EXPECT_EQ(otherEntries(dir_, {"a.qvb"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace qvb

#endif
