// libFuzzer harness for the whole chain: arbitrary bytes are compiled, and
// whatever compiles must keep every promise the later steps rely on. The image
// loads with the ready status; its channel blocks and wave list lie inside it;
// the exporter refuses it by version (and, patched to the version it takes,
// converts it or refuses it with a defined code); and it plays a bounded
// number of fills while the host loads, plays, resets and reloads it the way
// a host does. Any broken promise aborts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "compiler/mml_compiler.h"
#include "export/asm_exporter.h"
#include "fuzz/fast_play.h"
#include "song/qvb_format.h"
#include "song/qvb_player.h"

namespace {

using qvb::fuzz::check;

constexpr int kFills = 32;
constexpr std::int32_t kFillBytes = 256;
constexpr std::size_t kTitleBufferSize = 256;

// Checks the layout the writer promises, field by field against the size, and
// returns the channel count.
std::size_t checkLayout(const std::vector<std::uint8_t>& image) {
  check(image.size() >= qvb::kFixedHeaderSize && qvb::hasMagic(image));
  check(image[qvb::kVersionMajorOffset] == 0 && image[qvb::kVersionMinorOffset] == 85);
  const std::size_t countAt = qvb::channelCountOffset(qvb::readBe16(&image[qvb::kTitleLengthOffset]));
  check(countAt + 2 <= image.size());
  const std::size_t channels = qvb::readBe16(&image[countAt]);
  const std::size_t tableEnd = countAt + 2 + qvb::kChannelEntrySize * channels;
  check(channels > 0 && tableEnd + 4 <= image.size());
  const std::size_t listAt = qvb::readBe32(&image[tableEnd]);
  check(listAt >= tableEnd + 4 && listAt + 2 <= image.size());
  for (std::size_t k = 0; k < channels; ++k) {
    const std::uint8_t* entry = &image[countAt + 2 + qvb::kChannelEntrySize * k];
    const std::size_t offset = qvb::readBe32(entry);
    const std::size_t length = qvb::readBe32(entry + 4);
    check(length > 0 && offset >= tableEnd + 4 && offset + length <= listAt);
    check(image[offset + length - 1] == 0xFF);
  }
  // The wave list is the last thing in the image.
  check(listAt + 2 + qvb::kWaveRecordSize * qvb::readBe16(&image[listAt]) == image.size());
  return channels;
}

void checkExport(std::vector<std::uint8_t> image, std::size_t channels) {
  std::string text;
  check(qvb::AsmExporter::convert(text, image.data(), image.size()) == qvb::ASM_BAD_VERSION);
  check(text.empty());
  image[qvb::kVersionMinorOffset] = qvb::kConverterVersionMinor;
  const int code = qvb::AsmExporter::convert(text, image.data(), image.size());
  if (channels != qvb::kExportChannelCount) check(code == qvb::ASM_BAD_CHANNEL_COUNT);
  else check(code == qvb::ASM_CONVERTED || code == qvb::ASM_BLOCK_TOO_LONG);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvb::MmlCompiler compiler(data, static_cast<std::int32_t>(size));
  qvb::CompileError error;
  if (compiler.status() != 0) {
    check(compiler.status() < 0 && compiler.errorInfo(error) == 1 && compiler.imageSize() == 0);
    check(error.type < 0);
    return 0;
  }
  std::vector<std::uint8_t> image(static_cast<std::size_t>(compiler.imageSize()));
  check(compiler.copyImage(image.data()) == 1);
  const std::size_t channels = checkLayout(image);
  checkExport(image, channels);

  qvb::QvbPlayer player(image.data(), image.size());
  check(player.getStatus() == qvb::PLAYER_READY);
  check(static_cast<std::size_t>(player.getChannelCount()) == channels);
  char title[kTitleBufferSize];
  check(player.getTitle(title, kTitleBufferSize - 1) >= 0);
  const qvb::AudioFormat& format = qvb::fuzz::kFormats[size % 8];
  // Play, reset while playing, play again, reload while playing, release.
  check(player.start() == 1 && player.getStatus() == qvb::PLAYER_PLAYING);
  qvb::fuzz::playFills(player, format, kFills, kFillBytes, true);
  check(player.reset() == 1 && player.getStatus() == qvb::PLAYER_READY && player.mixer() == nullptr);
  check(player.start() == 1);
  qvb::fuzz::playFills(player, format, kFills, kFillBytes, true);
  check(player.load(image.data(), image.size()) == qvb::PLAYER_READY && player.mixer() == nullptr);
  check(player.start() == 1);
  qvb::fuzz::playFills(player, format, kFills, kFillBytes, false);
  check(player.release() == 1 && player.getStatus() == qvb::PLAYER_NO_IMAGE);
  player.start();  // no image: whatever it does, it must not break
  return 0;
}
