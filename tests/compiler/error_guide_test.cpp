// The user's guide lists the error codes as a table whose code, name and
// meaning columns must say exactly what the compiler's one list of codes
// (QVB_COMPILE_ERRORS) says, so that the guide and qvbrender's messages never
// drift apart.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compile_errors.h"

namespace qvb::test {
namespace {

struct GuideRow {
  int code;
  std::string name;
  std::string meaning;
};

// Rows of the form "| -512 | ERR_OCTAVE | meaning | ...".
std::vector<GuideRow> guideRows() {
  std::ifstream in(QVBP_SOURCE_DIR "/docs/mml-guide.md");
  std::vector<GuideRow> rows;
  const std::regex row(R"(^\| (-?\d+) \| (ERR_\w+) \| ([^|]*[^ |]) \|)");
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (std::regex_search(line, match, row))
      rows.push_back({std::stoi(match[1]), match[2], match[3]});
  }
  return rows;
}

TEST(ErrorGuide, ListsEveryCodeWithTheCompilersNameAndMeaning) {
  const std::vector<GuideRow> rows = guideRows();
  const auto codes = errorCodes();
  ASSERT_EQ(rows.size(), codes.size()) << "docs/mml-guide.md error table";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].code, codes[i].code) << "row " << i;
    EXPECT_EQ(rows[i].name, codes[i].name) << "code " << codes[i].code;
    EXPECT_EQ(rows[i].meaning, codes[i].meaning) << "code " << codes[i].code;
  }
}

}  // namespace
}  // namespace qvb::test
