// The demo song compiled in memory, for the benchmarks that play or render it.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "compiler/mml_compiler.h"

namespace qvb::bench {

// Empty when the source cannot be read or does not compile.
inline std::vector<std::uint8_t> demoImage() {
  std::ifstream in(QVBP_SOURCE_DIR "/examples/demo.qvm", std::ios::binary);
  const std::vector<std::uint8_t> text{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
  if (text.empty()) return {};
  MmlCompiler compiler(text.data(), static_cast<std::int32_t>(text.size()));
  if (compiler.status() != 0) return {};
  std::vector<std::uint8_t> image(static_cast<std::size_t>(compiler.imageSize()));
  compiler.copyImage(image.data());
  return image;
}

}  // namespace qvb::bench
