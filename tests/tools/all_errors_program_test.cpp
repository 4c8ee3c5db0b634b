// A song with five mistakes: each of our programs shows the five in one run,
// the compiler's first one first; qvbp itself stops at that one.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

const std::string kFiveMistakes =
    "#TITLE <Five>\n#CHANNEL 2\n#WAV 0,<1,2,3>\n#A v10 o4 c d e f v16 g a\n#A l7 c /: d e :/\n#B v12 C d e o9 c\n";

int errorLines(const std::string& text) {
  int lines = 0;
  for (std::size_t at = 0; (at = text.find(": error ", at)) != std::string::npos; ++at) ++lines;
  return lines;
}

TEST(AllErrorsPrograms, OurProgramsShowFiveMistakesAsFiveErrorsAndQvbpTheFirst) {
  const std::string dir = makeTempDir();
  writeFile(dir + "/five.qvm", kFiveMistakes);
  const std::string first = "five.qvm:3:1: error -260 ERR_WAV_COUNT: this #WAV gives 3 values; a wave takes exactly 32\n";
  std::vector<std::vector<std::string>> commands{{program(QVBRENDER_EXE), "five.qvm"},
                                                 {program(QVBPLAY_EXE), "--null", "five.qvm"}};
#ifdef QVBGB_EXE
  commands.push_back({program(QVBGB_EXE), "five.qvm"});
#endif
  for (const auto& command : commands) {
    const ProcessResult r = runProcess(command, dir);
    EXPECT_NE(r.exitStatus, 0) << command[0];
    EXPECT_EQ(errorLines(r.err), 5) << command[0] << "\n" << r.err;
    EXPECT_EQ(r.err.rfind(first, 0), 0u) << command[0] << "\n" << r.err;
  }
  // qvbp tells its one error's code as "type: -260".
  const ProcessResult qvbp = runProcess({program(QVBP_EXE), "five.qvm"}, dir);
  const std::string said = qvbp.out + qvbp.err;
  EXPECT_NE(said.find("type: -260\n"), std::string::npos) << said;
  EXPECT_EQ(said.find("type:"), said.rfind("type:")) << said;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qvb::test
