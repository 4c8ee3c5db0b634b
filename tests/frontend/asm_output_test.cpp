// qvbp -s on version 0.81 images, run as a process: the assembler file's name,
// its exact bytes, and the message for an image the converter refuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "song/track_commands.h"
#include "tests/support/asm_worked_example.h"
#include "tests/support/qvb_image_builder.h"
#include "tests/support/run_process.h"

namespace qvb {
namespace {

const std::string kBanner =
    "QVB Player for console\n\tDriver version: 0.85\n\tCompiler version: 0.85\n\n";

std::string image081(std::vector<std::vector<std::uint8_t>> channels) {
  test::ImageContents contents;
  contents.versionMinor = 81;
  contents.title = "song";
  contents.channels = std::move(channels);
  const std::vector<std::uint8_t> bytes = test::buildImage(contents);
  return std::string(bytes.begin(), bytes.end());
}

class AsmOutput : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::makeTempDir(); }
  test::ProcessResult run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{test::program(QVBP_EXE)};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::runProcess(argv, dir_);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(AsmOutput, WritesTheTextNextToTheImage) {
  const std::vector<std::uint8_t> bytes = test::buildImage(test::asmWorkedExample());
  const std::string image(bytes.begin(), bytes.end());
  test::writeFile(path("SONG.QVB"), image);
  const test::ProcessResult r = run({"-S", "SONG.QVB"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, kBanner + "filename: SONG.QVB\nfilesize: " + std::to_string(image.size()) +
                       "\nasm_name: SONG.ASM\n\n");
  EXPECT_EQ(test::readFile(path("SONG.ASM")), test::kAsmWorkedExampleText);
}

// A refused image makes no text: an older file stays as it was, and the run fails.
TEST_F(AsmOutput, RefusedImageLeavesNoTextAndAnOlderFileAsItWas) {
  const std::string image = image081({{VOICE_TYPE, 0x00, 0xff}, {VOICE_TYPE, 0x00, 0xff}});
  test::writeFile(path("song.Qvb"), image);
  test::writeFile(path("song.Asm"), "old");
  test::writeFile(path("tune"), image);
  const test::ProcessResult r = run({"-s", "song.Qvb", "tune"});
  EXPECT_EQ(r.exitStatus, 1);
  const std::string size = std::to_string(image.size());
  EXPECT_EQ(r.out, kBanner + "filename: song.Qvb\nfilesize: " + size +
                       "\nasm_name: song.Asm\nqvb2asm convert faild!(error code 3)\n\n"
                       "filename: tune\nfilesize: " + size +
                       "\nasm_name: tune.asm\nqvb2asm convert faild!(error code 3)\n\n");
  EXPECT_EQ(test::readFile(path("song.Asm")), "old");
  EXPECT_FALSE(test::fileExists(path("tune.asm")));
  EXPECT_FALSE(test::fileExists(path("tune.asm.part")));
}

TEST_F(AsmOutput, TextThatCannotBeWrittenIsAWriteError) {
  const std::vector<std::uint8_t> bytes = test::buildImage(test::asmWorkedExample());
  test::writeFile(path("song.qvb"), std::string(bytes.begin(), bytes.end()));
  ASSERT_EQ(symlink("/dev/full", path("song.asm").c_str()), 0);
  const test::ProcessResult r = run({"-s", "song.qvb"});
  EXPECT_EQ(r.out, kBanner + "filename: song.qvb\nfilesize: " + std::to_string(bytes.size()) +
                       "\nasm_name: song.asm\nfile write error!\n\n");
  EXPECT_EQ(r.exitStatus, 1);
}

}  // namespace
}  // namespace qvb
