// Every program reads songs and writes its files under names in any language
// and with spaces; under Wine (QVBP_TEST_WINDOWS_BIN) this is the Windows
// programs' UTF-8 code page at work, in argv, fopen and rename alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/minimal_song.h"
#include "tests/support/run_process.h"

namespace qvb {
namespace {

using test::ProcessResult;

// A letter the Western Windows code page has, letters no single-byte code
// page has, and a character outside the Basic Multilingual Plane (a UTF-16
// surrogate pair on Windows); spaces in two of them.
const char* const kNames[] = {"Café Song", "日本", "tune \xF0\x9F\x8E\xB5"};

class FileNames : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    dir_ = test::makeTempDir();
    name_ = GetParam();
    test::writeFile(path(".qvm"), test::kMinimalSource);
  }
  ProcessResult run(const char* built, std::vector<std::string> args) {
    args.insert(args.begin(), test::program(built));
    return test::runProcess(args, dir_);
  }
  std::string path(const std::string& extension) const { return dir_ + "/" + name_ + extension; }

  std::string dir_;
  std::string name_;
};

TEST_P(FileNames, QvbpCompilesTheSongBesideItAndNamesItInItsReport) {
  const ProcessResult r = run(QVBP_EXE, {"-c", name_ + ".qvm"});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
  EXPECT_NE(r.out.find("filename: " + name_ + ".qvm\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("data title: a\n"), std::string::npos) << "the song was read: " << r.out;
  const std::string image = test::readFile(path(".qvb"));
  EXPECT_EQ(image, std::string(test::kMinimalImage.begin(), test::kMinimalImage.end()));
}

TEST_P(FileNames, QvbrenderWritesTheSoundUnderTheSongsNameAndUnderOneGiven) {
  ProcessResult r = run(QVBRENDER_EXE, {name_ + ".qvm"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(test::fileExists(path(".wav")));
  r = run(QVBRENDER_EXE, {"-o", name_ + " 2.wav", name_ + ".qvm"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(test::readFile(path(" 2.wav")), test::readFile(path(".wav")));
}

#ifdef QVBGB_EXE
TEST_P(FileNames, QvbgbWritesTheRomUnderTheSongsName) {
  const ProcessResult r = run(QVBGB_EXE, {name_ + ".qvm"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(test::fileExists(path(".gb")));
  EXPECT_FALSE(test::fileExists(path(".gb.part")));
}
#endif

#ifdef QVBPLAY_EXE
TEST_P(FileNames, QvbplayPlaysTheSongAndNamesIt) {
  const ProcessResult r = run(QVBPLAY_EXE, {"--null", "-l", "1", name_ + ".qvm"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("playing " + name_ + ".qvm: a\n"), std::string::npos) << r.out;
}
#endif

INSTANTIATE_TEST_SUITE_P(InAnyLanguage, FileNames, ::testing::ValuesIn(kNames));

}  // namespace
}  // namespace qvb
