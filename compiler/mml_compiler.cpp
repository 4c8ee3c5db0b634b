// Placeholder until the compiler lands: every text is refused as a header error.
#include "compiler/mml_compiler.h"

namespace qvb {

float compilerVersion() { return 0.85f; }

MmlCompiler::MmlCompiler(const std::uint8_t* text, std::int32_t) { status_ = text ? -5 : 1; }

int MmlCompiler::errorInfo(CompileError& info) const {
  if (status_ >= 0) return 0;
  info = {status_, 1, 1};
  return 1;
}

std::int32_t MmlCompiler::imageSize() const { return status_ == 0 ? static_cast<std::int32_t>(image_.size()) : 0; }

int MmlCompiler::copyImage(std::uint8_t*) const { return 0; }

}  // namespace qvb
