// Files for tests, on every system the tests build for: a fresh folder for
// each test, and whole files written and read as bytes.
#pragma once

#include <string>

namespace qvb::test {

// A fresh empty directory for one test (under TMPDIR when it is set), removed
// by the caller when wanted.
std::string makeTempDir();

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

}  // namespace qvb::test
