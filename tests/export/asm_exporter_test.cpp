#include "export/asm_exporter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "song/qvb_format.h"
#include "song/track_commands.h"
#include "tests/support/case_name.h"
#include "tests/support/asm_worked_example.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {
namespace {

using test::buildImage;
using test::ImageContents;
using test::putBe16;
using test::putBe32;
using Bytes = std::vector<std::uint8_t>;

const std::string& kHeaderLines = test::kAsmHeaderLines;
const std::string& kWorkedExampleText = test::kAsmWorkedExampleText;
using test::asmWorkedExample;

ImageContents v081(std::string title, std::vector<Bytes> channels) {
  ImageContents contents;
  contents.versionMajor = 0;
  contents.versionMinor = 81;
  contents.title = std::move(title);
  contents.channels = std::move(channels);
  return contents;
}

// Offset of channel i's table entry in an image built from `contents`.
std::size_t entryAt(const ImageContents& contents, std::size_t channel) {
  const std::size_t l = contents.title.size();
  return 18 + l + (l & 1) + 2 + 8 * channel;
}

struct Conversion {
  int code;
  std::string text;
};

Conversion convert(const Bytes& image, std::size_t size) {
  Conversion c{};
  c.code = AsmExporter::convert(c.text, image.data(), size);
  return c;
}
Conversion convert(const Bytes& image) { return convert(image, image.size()); }

TEST(AsmExporter, WorkedExampleToString) {
  const Conversion c = convert(buildImage(asmWorkedExample()));
  EXPECT_EQ(c.code, ASM_CONVERTED);
  EXPECT_EQ(c.text, kWorkedExampleText);
}

TEST(AsmExporter, WorkedExampleToStreamHasSingleLineFeeds) {
  const Bytes image = buildImage(asmWorkedExample());
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(AsmExporter::convert(file, image.data(), image.size()), ASM_CONVERTED);
  std::rewind(file);
  std::string text;
  for (int ch = std::fgetc(file); ch != EOF; ch = std::fgetc(file)) text += static_cast<char>(ch);
  std::fclose(file);
  EXPECT_EQ(text, kWorkedExampleText);
}

// Data come from dataOffset, not from where the canonical arrangement puts them.
TEST(AsmExporter, BlocksAreFoundThroughTheirOffsets) {
  ImageContents contents = v081("x", {{0xaa, 0xbb, 0x11}, {0xcc, 0xdd, 0x22, 0x33}, {0xee, 0xef}});
  Bytes image = buildImage(contents);
  // Channel 3 points at channel 2's block, channel 1 at channel 2's data bytes.
  const std::uint32_t second = readBe32(&image[entryAt(contents, 1)]);
  putBe32(image, entryAt(contents, 2), second);
  putBe32(image, entryAt(contents, 2) + 4, 4);
  putBe32(image, entryAt(contents, 0), second + 2);
  putBe32(image, entryAt(contents, 0) + 4, 2);
  const Conversion c = convert(image);
  EXPECT_EQ(c.code, ASM_CONVERTED);
  EXPECT_EQ(c.text, kHeaderLines + "x::\n"
                    "\t.byte 0x00, 0x00\t;data size of channel 1 (little endian)\n"
                    "\t.byte 0x02, 0x00\t;data size of channel 2 (little endian)\n"
                    "\t.byte 0x02, 0x00\t;data size of channel 3 (little endian)\n"
                    "\n\t;channel 1 data\n\n"
                    "\n\t;channel 2 data\n\n\t.byte 0x22, 0x33\n"
                    "\n\t;channel 3 data\n\n\t.byte 0x22, 0x33\n");
}

// Channel 1 carries the block under test; the data bytes are 0x00, 0x01, ...
struct BlockCase {
  std::size_t length;
  const char* sizeLine;
  const char* dataLines;
};

class BlockLengths : public testing::TestWithParam<BlockCase> {};

TEST_P(BlockLengths, SizeWordAndEightBytesALine) {
  const BlockCase& bc = GetParam();
  Bytes block(bc.length);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
  const Conversion c = convert(buildImage(v081("t", {block, {VOICE_TYPE, 0x00}, {VOICE_TYPE, 0x00}})));
  EXPECT_EQ(c.code, ASM_CONVERTED);
  const std::string expected = kHeaderLines + "t::\n" + bc.sizeLine +
      "\t;data size of channel 1 (little endian)\n"
      "\t.byte 0x00, 0x00\t;data size of channel 2 (little endian)\n"
      "\t.byte 0x00, 0x00\t;data size of channel 3 (little endian)\n"
      "\n\t;channel 1 data\n\n" + bc.dataLines +
      "\n\t;channel 2 data\n\n"
      "\n\t;channel 3 data\n\n";
  EXPECT_EQ(c.text, expected);
}

// Blocks of 0 and 1 bytes have no voice-type command to drop: nothing is exported.
INSTANTIATE_TEST_SUITE_P(
    AsmExporter, BlockLengths,
    testing::Values(
        BlockCase{0, "\t.byte 0x00, 0x00", ""},
        BlockCase{1, "\t.byte 0x00, 0x00", ""},
        BlockCase{2, "\t.byte 0x00, 0x00", ""},
        BlockCase{3, "\t.byte 0x01, 0x00", "\t.byte 0x02\n"},
        BlockCase{9, "\t.byte 0x07, 0x00",
                  "\t.byte 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08\n"},
        BlockCase{10, "\t.byte 0x08, 0x00",
                  "\t.byte 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09\n"},
        BlockCase{11, "\t.byte 0x09, 0x00",
                  "\t.byte 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09\n"
                  "\t.byte 0x0a\n"},
        BlockCase{19, "\t.byte 0x11, 0x00",
                  "\t.byte 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09\n"
                  "\t.byte 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11\n"
                  "\t.byte 0x12\n"}),
    [](const auto& p) { return test::caseName(p.index, "length " + std::to_string(p.param.length)); });

TEST(AsmExporter, HighBytesPrintInLowerCase) {
  Bytes block{VOICE_TYPE, 0x02};
  for (int b = 0x80; b <= 0xff; ++b) block.push_back(static_cast<std::uint8_t>(b));
  const Conversion c = convert(buildImage(v081("hi", {{VOICE_TYPE, 0x02}, block, {VOICE_TYPE, 0x02}})));
  ASSERT_EQ(c.code, ASM_CONVERTED);
  std::string lines;
  for (int b = 0x80; b <= 0xff; b += 8) {
    char line[80];
    std::snprintf(line, sizeof line, "\t.byte 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x\n",
                  b, b + 1, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7);
    lines += line;
  }
  EXPECT_NE(c.text.find("\t.byte 0x80, 0x00\t;data size of channel 2"), std::string::npos);
  EXPECT_NE(c.text.find("\n\t;channel 2 data\n\n" + lines + "\n\t;channel 3 data\n\n"),
            std::string::npos);
  EXPECT_NE(c.text.find("0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff\n"), std::string::npos);
}

TEST(AsmExporter, LongestBlockIsAccepted) {
  Bytes block(65535);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  const Conversion c = convert(buildImage(v081("big", {{VOICE_TYPE, 0x00}, {VOICE_TYPE, 0x00}, block})));
  ASSERT_EQ(c.code, ASM_CONVERTED);
  // 65533 bytes: 8191 full lines and one of five.
  EXPECT_NE(c.text.find("\t.byte 0xfd, 0xff\t;data size of channel 3 (little endian)\n"),
            std::string::npos);
  const std::size_t data = c.text.find("\n\t;channel 3 data\n\n");
  ASSERT_NE(data, std::string::npos);
  std::size_t lines = 0;
  for (std::size_t at = data; (at = c.text.find("\t.byte ", at + 1)) != std::string::npos;) ++lines;
  EXPECT_EQ(lines, 8192u);
  // The last five bytes are block[65530..65534] = (i * 7) & 0xff.
  EXPECT_TRUE(c.text.ends_with("\t.byte 0xd6, 0xdd, 0xe4, 0xeb, 0xf2\n")) << c.text.substr(c.text.size() - 60);
}

TEST(AsmExporter, TitleLengthIsUnsignedAndPadded) {
  for (std::size_t length : {200u, 201u}) {
    std::string title(length, 'a');
    title.back() = 'z';
    const Conversion c = convert(buildImage(v081(title, {{VOICE_TYPE, 0x00, 0x42}, {0, 0}, {0, 0}})));
    EXPECT_EQ(c.code, ASM_CONVERTED) << length;
    EXPECT_TRUE(c.text.starts_with(kHeaderLines + title + "::\n"
                                   "\t.byte 0x01, 0x00\t;data size of channel 1")) << length;
  }
}

TEST(AsmExporter, LabelStopsAtZeroByte) {
  const struct {
    std::string title;
    std::string label;
  } cases[] = {{"", "::\n"}, {std::string("ab\0cd", 5), "ab::\n"}, {"\xe3\x81\x82", "\xe3\x81\x82::\n"}};
  for (const auto& tc : cases) {
    const Conversion c = convert(buildImage(v081(tc.title, {{0, 0}, {0, 0}, {0, 0}})));
    EXPECT_EQ(c.code, ASM_CONVERTED);
    EXPECT_TRUE(c.text.starts_with(kHeaderLines + tc.label)) << c.text;
  }
}

}  // namespace
}  // namespace qvb
