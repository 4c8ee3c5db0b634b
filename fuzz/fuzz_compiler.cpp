// libFuzzer harness: any bytes as QVM source. The compiler must end with a
// status and, when it succeeds, an image whose channel table lies inside it;
// with the reader's fast paths off it must end exactly the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compiler/mml_compiler.h"
#include "song/qvb_format.h"

namespace {

std::vector<std::uint8_t> imageOf(const qvb::MmlCompiler& compiler) {
  std::vector<std::uint8_t> image(static_cast<std::size_t>(compiler.imageSize()));
  if (compiler.status() == 0 && compiler.copyImage(image.data()) != 1) std::abort();
  return image;
}

void sameOutcome(const qvb::MmlCompiler& fast, const qvb::MmlCompiler& plain) {
  qvb::CompileError a, b;
  if (fast.status() != plain.status() || fast.errorInfo(a) != plain.errorInfo(b)) std::abort();
  if (fast.status() < 0 && (a.line != b.line || a.row != b.row || a.channel != b.channel)) std::abort();
  if (imageOf(fast) != imageOf(plain) || fast.readSteps() != plain.readSteps()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvb::MmlCompiler compiler(data, static_cast<std::int32_t>(size));
  sameOutcome(compiler, qvb::MmlCompiler::withoutRuns(data, static_cast<std::int32_t>(size)));
  qvb::CompileError error;
  if (compiler.status() != 0) {
    if (compiler.status() > 0 || compiler.errorInfo(error) != 1 || compiler.imageSize() != 0) std::abort();
    return 0;
  }
  const std::vector<std::uint8_t> image = imageOf(compiler);
  const std::size_t count = qvb::channelCountOffset(qvb::readBe16(&image[qvb::kTitleLengthOffset]));
  const std::size_t channels = qvb::readBe16(&image[count]);
  for (std::size_t k = 0; k < channels; ++k) {
    const std::uint8_t* entry = &image[count + 2 + qvb::kChannelEntrySize * k];
    const std::size_t offset = qvb::readBe32(entry);
    const std::size_t length = qvb::readBe32(entry + 4);
    if (length == 0 || offset + length > image.size() || image[offset + length - 1] != 0xFF) std::abort();
  }
  return 0;
}
