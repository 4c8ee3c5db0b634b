// The MML compiler: turns a QVM source text into a QVB image in its
// constructor and reports the outcome through its status.
#pragma once

#include <cstdint>
#include <vector>

namespace qvb {

float compilerVersion();

struct CompileError {
  std::int32_t type = 0;  // the status, a negative code
  std::int32_t line = 0;
  std::int32_t row = 0;
};

class MmlCompiler {
 public:
  MmlCompiler(const std::uint8_t* text, std::int32_t size);

  int status() const { return status_; }
  // 1 and the code, line and row when the compile failed; else 0, info untouched.
  int errorInfo(CompileError& info) const;
  std::int32_t imageSize() const;
  int copyImage(std::uint8_t* destination) const;

 private:
  int status_ = 1;
  std::vector<std::uint8_t> image_;
};

}  // namespace qvb
