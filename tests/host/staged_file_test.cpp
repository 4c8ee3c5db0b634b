// A file written over through a StagedFile keeps the mode it had.
#include "host/staged_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/temp_files.h"

namespace qvb {
namespace {

namespace fs = std::filesystem;

TEST(StagedFile, AFileWrittenOverKeepsItsModeWhateverTheUmask) {
  const std::string dir = test::makeTempDir();
  const std::string target = dir + "/song.wav";
  const mode_t umaskBefore = umask(0);  // a new file would be 0666
  for (const mode_t mode : {0600, 0640, 0444}) {
    test::writeFile(target, "old");
    ASSERT_EQ(chmod(target.c_str(), mode), 0);
    StagedFile file(target);
    ASSERT_TRUE(file.writeAll("new", 3));
    ASSERT_TRUE(file.commit());
    struct stat after {};
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, mode) << std::oct << mode;
  }
  umask(umaskBefore);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qvb
