// Runs a program as a child process for command-line tests: captures its
// standard output and error, and its exit status, or kills it after a while.
// A Windows program (.exe) runs through Wine; what it writes in text mode
// reads back with plain line ends, so the expected texts are the Linux ones,
// and its time limit starts after an allowance for Wine's start-up.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/temp_files.h"

namespace qvb::test {

struct ProcessResult {
  // A Windows program's CR LF reads as LF here, and a bare LF as the two
  // characters "\n", so that a program writing bare line ends fails.
  std::string out;
  std::string err;
  int exitStatus = -1;  // 0..255 when it exited by itself
  bool killed = false;  // still running at the deadline, then killed
};

// The program a test runs: the one built here, or, when the environment names
// a folder in QVBP_TEST_WINDOWS_BIN, the Windows build of it there.
std::string program(const std::string& built);

// Runs argv[0] with its arguments in directory `cwd`. A program still running
// after `limit` is killed (a program that plays a song never ends by itself).
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

// How a shell command starts the program: through Wine for a Windows one.
std::string shellCommand(const std::string& program);

}  // namespace qvb::test
