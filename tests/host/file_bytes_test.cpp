// Input files are read whole up to the limit and refused past it.
#include "host/file_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace qvb {
namespace {

constexpr std::size_t kLimit = 16;

std::string fileHolding(std::size_t size) {
  const std::string path = testing::TempDir() + "file_bytes_" + std::to_string(size);
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
  return path;
}

void expectReadUpToTheLimit(const std::string& path, std::size_t size) {
  InputFile in(path, kLimit);
  std::vector<std::uint8_t> bytes;
  const FileRead read = in.readAll(bytes);
  if (size <= kLimit) {
    EXPECT_EQ(read, FileRead::Ok) << size;
    EXPECT_EQ(bytes.size(), size);
  } else {
    EXPECT_EQ(read, FileRead::TooLarge) << size;
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(in.problem(), "more than 16 bytes, the most a song file may hold");
  }
}

TEST(InputFile, AFileIsReadUpToTheLimitAndRefusedPastItBeforeItIsRead) {
  for (const std::size_t size : {kLimit, kLimit + 1}) expectReadUpToTheLimit(fileHolding(size), size);
  // The limit itself, on sparse files that are never read.
  const std::string path = fileHolding(0);
  for (const std::size_t size : {kMaxInputBytes, kMaxInputBytes + 1}) {
    std::filesystem::resize_file(path, size);
    EXPECT_EQ(InputFile(path).tooLarge(), size > kMaxInputBytes) << size;
  }
}

#ifndef _WIN32
// A pipe tells no size: it is read up to one byte past the limit.
TEST(InputFile, APipeIsReadUpToTheLimitAndRefusedOneBytePastIt) {
  for (const std::size_t size : {kLimit, kLimit + 1, 4 * kLimit}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], std::string(size, 'x').data(), size), static_cast<ssize_t>(size));
    close(ends[1]);
    expectReadUpToTheLimit("/dev/fd/" + std::to_string(ends[0]), size);
    close(ends[0]);
  }
}
#endif

}  // namespace
}  // namespace qvb
