// The qvbp command line, run as a process: whole standard output and exit
// status, compared with texts written out by hand.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/minimal_song.h"
#include "tests/support/qvb_image_builder.h"
#include "tests/support/run_process.h"

namespace qvb {
namespace {

using namespace std::chrono_literals;
using test::buildImage;
using test::ImageContents;
using test::ProcessResult;

const std::string kBanner =
    "QVB Player for console\n\tDriver version: 0.85\n\tCompiler version: 0.85\n\n";
const std::string kUsage =
    "Usage: qvbp [options] files ...\n"
    "[Options] -c\tcompile from qvm to qvb\n"
    "          -s\toutput as GB asm\n";

using test::kMinimalSource;
const std::string kMinimalImage(test::kMinimalImage.begin(), test::kMinimalImage.end());

std::string asString(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::makeTempDir(); }

  ProcessResult run(std::vector<std::string> args, std::chrono::milliseconds limit = 30s) {
    args.insert(args.begin(), test::program(QVBP_EXE));
    return test::runProcess(args, dir_, limit);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) { test::writeFile(path(name), bytes); }

  std::string dir_;
};

std::string songImage(std::uint8_t minor, const std::string& title, int channels) {
  ImageContents contents;
  contents.versionMinor = minor;
  contents.title = title;
  contents.channels.assign(static_cast<std::size_t>(channels), {0xFF});
  return asString(buildImage(contents));
}

TEST_F(Driver, NoArgumentsPrintsUsageAndFails) {
  const ProcessResult r = run({});
  EXPECT_EQ(r.out, kBanner + kUsage);
  EXPECT_EQ(r.exitStatus, 255);
}

TEST_F(Driver, BadOptionsPrintUsageBeforeAnyFileIsTouched) {
  write("song.qvb", songImage(85, "x", 1));
  for (const std::string option : {"-x", "-", "-cc", "-sx", "--"}) {
    const ProcessResult r = run({option, "song.qvb"});
    EXPECT_EQ(r.out, kBanner + kUsage) << option;
    EXPECT_EQ(r.exitStatus, 255) << option;
  }
}

TEST_F(Driver, CompileFlagPrintsTheInformationOfEveryLayout) {
  struct Case { std::uint8_t minor; const char* version; };
  for (const Case c : {Case{20, "0.20"}, Case{40, "0.40"}, Case{85, "0.85"}}) {
    const std::string image = songImage(c.minor, "Tune", 3);
    write("song.qvb", image);
    const ProcessResult r = run({"-c", "song.qvb"});
    EXPECT_EQ(r.out, kBanner + "filename: song.qvb\nfilesize: " + std::to_string(image.size()) +
                         "\ndata version: " + c.version +
                         "\ndata title: Tune\nused channel: 3\n\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_FALSE(test::fileExists(path("song.qvb.qvb")));
  }
}

TEST_F(Driver, UpperCaseOptionAndMissingFileGoOnWithTheNextArgument) {
  write("b.qvb", songImage(85, "B", 2));
  const ProcessResult r = run({"-C", "missing.qvb", "b.qvb"});
  EXPECT_EQ(r.out, kBanner + "filename: missing.qvb\nfile open error!\n" +
                       "filename: b.qvb\nfilesize: " + std::to_string(songImage(85, "B", 2).size()) +
                       "\ndata version: 0.85\ndata title: B\nused channel: 2\n\n");
  EXPECT_EQ(r.exitStatus, 1) << "a file was not handled";
}

TEST_F(Driver, DirectoryIsAFileOpenError) {
  const ProcessResult r = run({"-c", "."});
  EXPECT_EQ(r.out, kBanner + "filename: .\nfile open error!\n");
  EXPECT_EQ(r.exitStatus, 1);
}

// A sparse file one byte larger than a song may be: refused unread.
TEST_F(Driver, AFileLargerThanASongMayBeIsAFileOpenError) {
  write("big.qvm", "");
  std::filesystem::resize_file(path("big.qvm"), (64 << 20) + 1);
  const ProcessResult r = run({"-c", "big.qvm"});
  EXPECT_EQ(r.out, kBanner + "filename: big.qvm\nfile open error!\n");
  EXPECT_EQ(r.exitStatus, 1);
}

TEST_F(Driver, UsageAfterHandledFilesStillEndsTheRun) {
  write("a.qvb", songImage(85, "A", 1));
  const ProcessResult r = run({"-c", "a.qvb", "-q", "a.qvb"});
  EXPECT_EQ(r.out, kBanner + "filename: a.qvb\nfilesize: " + std::to_string(songImage(85, "A", 1).size()) +
                       "\ndata version: 0.85\ndata title: A\nused channel: 1\n\n" + kUsage);
  EXPECT_EQ(r.exitStatus, 255);
}

TEST_F(Driver, TitleIsCutAt254Bytes) {
  const std::string image = songImage(85, std::string(300, 'w'), 1);
  write("long.qvb", image);
  const ProcessResult r = run({"-c", "long.qvb"});
  EXPECT_NE(r.out.find("data title: " + std::string(254, 'w') + "\nused channel: 1\n"),
            std::string::npos);
}

TEST_F(Driver, CorruptImageGoesToTheCompilerAndIsReported) {
  // Magic and version but nothing after: the compiler sees the text
  // "QuaverMachine" up to the first zero byte, which is no header item.
  write("cut.qvb", std::string("QuaverMachine\0\x00\x55\x00", 17));
  write("b.qvb", songImage(85, "B", 1));
  const ProcessResult r = run({"-c", "cut.qvb", "b.qvb"});
  EXPECT_EQ(r.out, kBanner + "filename: cut.qvb\nfilesize: 17\n" +
                       "data error\n\ttype: -5\n\tline: 1\n\trow: 1\n" +
                       "filename: b.qvb\nfilesize: " + std::to_string(songImage(85, "B", 1).size()) +
                       "\ndata version: 0.85\ndata title: B\nused channel: 1\n\n");
}

// Two stems, since Windows file names ignore case.
TEST_F(Driver, CompilesSourceNextToItUnderC) {
  write("song.qvm", kMinimalSource);
  write("TUNE.QVM", kMinimalSource);
  const ProcessResult r = run({"-c", "song.qvm", "TUNE.QVM"});
  const std::string lines = "\nfilesize: " + std::to_string(kMinimalSource.size()) + "\n";
  EXPECT_EQ(r.out, kBanner + "filename: song.qvm" + lines +
                       "dataname: song.qvb\nfilesize: 41\n"
                       "data version: 0.85\ndata title: a\nused channel: 1\n\n"
                       "filename: TUNE.QVM" + lines +
                       "dataname: TUNE.QVB\nfilesize: 41\n"
                       "data version: 0.85\ndata title: a\nused channel: 1\n\n");
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(test::readFile(path("song.qvb")), kMinimalImage);
  EXPECT_EQ(test::readFile(path("TUNE.QVB")), kMinimalImage);
}

TEST_F(Driver, CompileErrorsArePrintedAndTheNextFileHandled) {
  const std::string bad = "#TITLE <a>\n#CHANNEL 1\n#A v 16 c\n";
  write("bad.qvm", bad);
  write("empty.qvm", "");
  const ProcessResult r = run({"-c", "bad.qvm", "empty.qvm"});
  // v 16 is out of range; looking for a digit after "16" the reader has
  // already consumed up to the c, the ninth byte of the line.
  EXPECT_EQ(r.out, kBanner + "filename: bad.qvm\nfilesize: " + std::to_string(bad.size()) + "\n" +
                       "data error\n\ttype: -515\n\tline: 3\n\trow: 9\n" +
                       "filename: empty.qvm\nfilesize: 0\n" +
                       "data error\n\ttype: -6\n\tline: 0\n\trow: 0\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_FALSE(test::fileExists(path("bad.qvb")));
}

// Refused: no text is left, and the run fails.
TEST_F(Driver, AsmOutputOfACompiledSourceIsRefusedByVersion) {
  write("song.qvm", kMinimalSource);
  write("tune.bin", kMinimalImage);
  const ProcessResult r = run({"-s", "song.qvm", "tune.bin"});
  EXPECT_EQ(r.out, kBanner + "filename: song.qvm\nfilesize: " + std::to_string(kMinimalSource.size()) +
                       "\nasm_name: song.asm\nqvb2asm convert faild!(error code 2)\n\n"
                       "filename: tune.bin\nfilesize: 41\n"
                       "asm_name: tune.bin.asm\nqvb2asm convert faild!(error code 2)\n\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_FALSE(test::fileExists(path("song.asm")));
  EXPECT_FALSE(test::fileExists(path("song.qvb")));
}

// The output name is a link to the always-full device: the write fails at
// the flush, is reported in place, the device stays and the run fails.
TEST_F(Driver, ImageThatCannotBeWrittenIsAWriteError) {
  write("song.qvm", kMinimalSource);
  ASSERT_EQ(symlink("/dev/full", path("song.qvb").c_str()), 0);
  const ProcessResult r = run({"-c", "song.qvm"});
  EXPECT_EQ(r.out, kBanner + "filename: song.qvm\nfilesize: " + std::to_string(kMinimalSource.size()) +
                       "\ndataname: song.qvb\nfilesize: 41\nfile write error!\n"
                       "data version: 0.85\ndata title: a\nused channel: 1\n\n");
  EXPECT_EQ(r.exitStatus, 1);
}

// A file size limit of zero blocks makes every write to a regular file fail,
// as a full disk does: the image there before stays and no part is left.
TEST_F(Driver, CutOffImageLeavesTheOlderOneAsItWas) {
  write("song.qvm", kMinimalSource);
  write("song.qvb", "old");
  const ProcessResult r = test::runProcess(
      {"/bin/sh", "-c", std::string("trap '' XFSZ; ulimit -f 0; exec ") + QVBP_EXE + " -c song.qvm"}, dir_);
  EXPECT_NE(r.out.find("filesize: 41\nfile write error!\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(test::readFile(path("song.qvb")), "old");
  EXPECT_FALSE(test::fileExists(path("song.qvb.part")));
}

// An output in the way of a folder, and without -c a file that fails before
// it would play: the run fails as well.
TEST_F(Driver, AnOutputThatCannotBeCreatedOrASongThatCannotBePlayedFailsTheRun) {
  write("song.qvm", kMinimalSource);
  std::filesystem::create_directory(path("song.qvb"));
  const ProcessResult r = run({"-c", "song.qvm"});
  EXPECT_NE(r.out.find("dataname: song.qvb\nfilesize: 41\nfile open error!\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(run({"missing.qvm"}).exitStatus, 1);
}

// A title holding terminal orders (the window title, clearing the screen):
// into a pipe it is written as it is, on a terminal (script(1) gives one) it
// is shown.
TEST_F(Driver, ATitleGoesIntoAPipeAsItIsAndOntoATerminalWithItsControlsShown) {
  if (std::system("command -v script >/dev/null") != 0) GTEST_SKIP() << "script is not installed";
  const std::string title = "\x1b]0;owned\x07\x1b[2J";
  write("t.qvb", songImage(85, title, 1));
  EXPECT_NE(run({"-c", "t.qvb"}).out.find("data title: " + title + "\n"), std::string::npos);
  const ProcessResult r = test::runProcess({"script", "-qec", std::string(QVBP_EXE) + " -c t.qvb", "/dev/null"}, dir_);
  EXPECT_NE(r.out.find("data title: \\x1b]0;owned\\x07\\x1b[2J\r\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
}

// Playing never ends by itself: the process is still alive at the deadline,
// has printed the information lines without the empty line, and never
// reached the arguments after the played file.
TEST_F(Driver, PlayingAFileIsTheEndOfTheRun) {
  write("a.qvb", songImage(85, "A", 1));
  write("b.qvb", songImage(85, "B", 1));
  const ProcessResult r = run({"a.qvb", "-c", "b.qvb", "-x"}, 1500ms);
  EXPECT_TRUE(r.killed);
  EXPECT_EQ(r.out, kBanner + "filename: a.qvb\nfilesize: " + std::to_string(songImage(85, "A", 1).size()) +
                       "\ndata version: 0.85\ndata title: A\nused channel: 1\n");
}

TEST_F(Driver, CompileFlagAppliesOnlyToTheFilesAfterIt) {
  write("song.qvm", kMinimalSource);
  const ProcessResult r = run({"song.qvm", "-c", "song.qvm"}, 1500ms);
  EXPECT_TRUE(r.killed);
  EXPECT_EQ(r.out.find("dataname"), std::string::npos);
  EXPECT_FALSE(test::fileExists(path("song.qvb")));
}

}  // namespace
}  // namespace qvb
