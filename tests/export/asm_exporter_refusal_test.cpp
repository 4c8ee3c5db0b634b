// Images the exporter refuses, and exactly what it has written when it does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "export/asm_exporter.h"
#include "song/track_commands.h"
#include "tests/support/asm_worked_example.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {
namespace {

using test::putBe16;
using test::putBe32;
using Bytes = std::vector<std::uint8_t>;

const std::string kFourLines = test::kAsmHeaderLines + "tune::\n";

const std::string kGoodText = kFourLines +
    "\t.byte 0x02, 0x00\t;data size of channel 1 (little endian)\n"
    "\t.byte 0x01, 0x00\t;data size of channel 2 (little endian)\n"
    "\t.byte 0x00, 0x00\t;data size of channel 3 (little endian)\n"
    "\n\t;channel 1 data\n\n\t.byte 0x30, 0xff\n"
    "\n\t;channel 2 data\n\n\t.byte 0x31\n"
    "\n\t;channel 3 data\n\n";

// "tune", three blocks of 4, 3 and 2 bytes; no wave records. Count at 22, table at 24, blocks from 52.
test::ImageContents goodSpec() {
  test::ImageContents contents;
  contents.versionMajor = 0;
  contents.versionMinor = 81;
  contents.title = "tune";
  contents.channels = {{VOICE_TYPE, 0x00, 0x30, 0xff}, {VOICE_TYPE, 0x00, 0x31}, {VOICE_TYPE, 0x00}};
  return contents;
}
constexpr std::size_t kCountAt = 22;
constexpr std::size_t kTableAt = 24;
constexpr std::size_t kBlocksEnd = kTableAt + 24 + 4 + 4 + 3 + 2;  // the wave list follows

struct Refusal {
  const char* name;
  std::function<void(Bytes&)> damage;  // edits (and may cut) the good image
  int code;
  std::string written;
};

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, CodeAndPartialText) {
  Bytes image = test::buildImage(goodSpec());
  GetParam().damage(image);
  // A copy of exactly the image's size, so that a read past it is caught.
  const std::vector<std::uint8_t> exact(image);
  std::string text;
  EXPECT_EQ(AsmExporter::convert(text, exact.data(), exact.size()), GetParam().code);
  EXPECT_EQ(text, GetParam().written);
}

void cut(Bytes& image, std::size_t size) { image.resize(size); }

INSTANTIATE_TEST_SUITE_P(
    AsmExporter, Refusals,
    testing::Values(
        Refusal{"Good", [](Bytes& i) { cut(i, kBlocksEnd); }, ASM_CONVERTED,
                kGoodText},
        Refusal{"Empty", [](Bytes& i) { cut(i, 0); }, ASM_BAD_MAGIC, ""},
        Refusal{"ShortMagic", [](Bytes& i) { cut(i, 13); }, ASM_BAD_MAGIC, ""},
        Refusal{"MagicWithoutZero", [](Bytes& i) { i[13] = ' '; }, ASM_BAD_MAGIC, ""},
        Refusal{"MagicLowerCase", [](Bytes& i) { i[0] = 'q'; }, ASM_BAD_MAGIC, ""},
        Refusal{"CompilerVersion", [](Bytes& i) { i[15] = 85; }, ASM_BAD_VERSION, ""},
        Refusal{"Minor80", [](Bytes& i) { i[15] = 80; }, ASM_BAD_VERSION, ""},
        Refusal{"Major1", [](Bytes& i) { i[14] = 1; }, ASM_BAD_VERSION, ""},
        Refusal{"MajorMissing", [](Bytes& i) { cut(i, 15); }, ASM_PAST_END, ""},
        Refusal{"BadVersionNoTitleLength", [](Bytes& i) { i[15] = 85; cut(i, 16); },
                ASM_BAD_VERSION, ""},
        Refusal{"TitleLengthMissing", [](Bytes& i) { cut(i, 17); }, ASM_PAST_END, ""},
        Refusal{"TitlePastEnd", [](Bytes& i) { putBe16(i, 16, 0xffff); }, ASM_PAST_END, ""},
        Refusal{"TitleCut", [](Bytes& i) { cut(i, 21); }, ASM_PAST_END, ""},
        Refusal{"TwoChannels", [](Bytes& i) { putBe16(i, kCountAt, 2); },
                ASM_BAD_CHANNEL_COUNT, kFourLines},
        Refusal{"ChannelCount259", [](Bytes& i) { putBe16(i, kCountAt, 0x0103); },
                ASM_BAD_CHANNEL_COUNT, kFourLines},
        Refusal{"CountCut", [](Bytes& i) { cut(i, kCountAt + 1); }, ASM_PAST_END, kFourLines},
        Refusal{"CountCutWrongCount", [](Bytes& i) { putBe16(i, kCountAt, 2); cut(i, kTableAt); },
                ASM_BAD_CHANNEL_COUNT, kFourLines},
        Refusal{"TableCut", [](Bytes& i) { cut(i, kTableAt + 23); }, ASM_PAST_END, kFourLines},
        Refusal{"Length65536", [](Bytes& i) { putBe32(i, kTableAt + 8 * 2 + 4, 0x10000); },
                ASM_BLOCK_TOO_LONG, kFourLines},
        Refusal{"LengthAllOnes", [](Bytes& i) { putBe32(i, kTableAt + 4, 0xffffffff); },
                ASM_BLOCK_TOO_LONG, kFourLines},
        // The length check comes before the place of the blocks is looked at.
        Refusal{"LongBlockAndCut", [](Bytes& i) { putBe32(i, kTableAt + 12, 0x10000); cut(i, kTableAt + 24); },
                ASM_BLOCK_TOO_LONG, kFourLines},
        Refusal{"LastBlockCut", [](Bytes& i) { cut(i, kBlocksEnd - 1); }, ASM_PAST_END, kFourLines},
        Refusal{"OffsetPastEnd", [](Bytes& i) { putBe32(i, kTableAt + 8, 0x7fffffff); },
                ASM_PAST_END, kFourLines},
        Refusal{"OffsetWraps", [](Bytes& i) { putBe32(i, kTableAt, 0xffffffff); putBe32(i, kTableAt + 4, 2); },
                ASM_PAST_END, kFourLines},
        Refusal{"EmptyBlockPastEnd", [](Bytes& i) { putBe32(i, kTableAt + 16, 0x1000); putBe32(i, kTableAt + 20, 0); },
                ASM_PAST_END, kFourLines},
        Refusal{"OneByteBlockAtEnd", [](Bytes& i) { putBe32(i, kTableAt + 16, static_cast<std::uint32_t>(i.size() - 1)); putBe32(i, kTableAt + 20, 1); },
                ASM_CONVERTED,
                kGoodText}),
    [](const testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

TEST(AsmExporter, NullImageIsNotAnImage) {
  std::string text;
  EXPECT_EQ(AsmExporter::convert(text, nullptr, 0), ASM_BAD_MAGIC);
  EXPECT_EQ(text, "");
}

TEST(AsmExporter, StreamKeepsThePartialText) {
  Bytes image = test::buildImage(goodSpec());
  putBe16(image, kCountAt, 4);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(AsmExporter::convert(file, image.data(), image.size()), ASM_BAD_CHANNEL_COUNT);
  EXPECT_EQ(std::ftell(file), static_cast<long>(kFourLines.size()));
  std::fclose(file);
}

TEST(AsmExporter, RefusedWriteIsReported) {
  const Bytes image = test::buildImage(goodSpec());
  char path[] = "/tmp/qvb_asm_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::FILE* readOnly = fdopen(fd, "r");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(AsmExporter::convert(readOnly, image.data(), image.size()), ASM_WRITE_FAILED);
  std::fclose(readOnly);
  std::remove(path);
}

}  // namespace
}  // namespace qvb
