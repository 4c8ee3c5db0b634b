// Every entry of the command table, written by the compiler's emit and read
// back by the sequencer's decoder, with sample values at the edges of each
// operand shape: the same opcode, the same operands, and the byte count that
// the track format gives (u8/s8 one byte, u16 two, a length one up to 254
// and three above).
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "compiler/channel_buffers.h"
#include "song/track_commands.h"

namespace qvb {

void PrintTo(const CommandInfo& info, std::ostream* os) { *os << info.name; }

namespace {

std::vector<std::int32_t> samples(Operand shape) {
  switch (shape) {
    case Operand::U8:
      return {0, 1, 255};
    case Operand::S8:
      return {-128, -1, 0, 127};
    case Operand::U16:
      return {0, 255, 256, 65535};
    case Operand::Length:
      return {0, 1, 254, 255, 300, 65535};
    default:
      return {0};
  }
}

int expectedBytes(Operand shape, std::int32_t value) {
  if (shape == Operand::Length) return value <= 254 ? 1 : 3;
  if (shape == Operand::U16) return 2;
  return shape == Operand::None ? 0 : 1;
}

class CommandTable : public testing::TestWithParam<CommandInfo> {};

TEST_P(CommandTable, EmittedItemDecodesToTheSameOperands) {
  const CommandInfo& info = GetParam();
  // Notes: the lowest, a middle and the highest note number.
  const std::vector<std::uint8_t> opcodes =
      info.name == "NOTE" ? std::vector<std::uint8_t>{0x00, 0x45, NOTE_LAST} : std::vector<std::uint8_t>{info.opcode};
  for (const std::uint8_t opcode : opcodes) {
    for (const std::int32_t first : samples(info.operands[0])) {
      for (const std::int32_t second : samples(info.operands[1])) {
        ChannelBuffers out(1);
        ASSERT_EQ(out.select(0), 1);
        out.emit(opcode, first, second);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(out.length(0)));
        out.copyTo(0, bytes.data());
        const std::string what = std::to_string(opcode) + " " + std::to_string(first) + " " + std::to_string(second);
        ASSERT_EQ(out.length(0),
                  1 + expectedBytes(info.operands[0], first) + expectedBytes(info.operands[1], second))
            << what;

        std::int32_t pos = 0;
        const TrackItem item = decodeItem(bytes.data(), out.length(0), pos);
        EXPECT_EQ(item.opcode, opcode) << what;
        EXPECT_EQ(item.info->name, info.name) << what;
        EXPECT_EQ(item.operands[0], first) << what;
        EXPECT_EQ(item.operands[1], second) << what;
        EXPECT_EQ(pos, out.length(0)) << what;
        EXPECT_LE(out.length(0), kMaxItemBytes) << what;
        if (info.operands == kNoteCommand.operands) {  // notes and rests have their own writer
          ChannelBuffers timed(1);
          timed.emitTimed(opcode, first);
          std::vector<std::uint8_t> timedBytes(static_cast<std::size_t>(timed.length(0)));
          timed.copyTo(0, timedBytes.data());
          EXPECT_EQ(timedBytes, bytes) << what;
        }

        // One byte short, the item reads as END and stops at the bound.
        pos = 0;
        const TrackItem cut = decodeItem(bytes.data(), out.length(0) - 1, pos);
        EXPECT_EQ(cut.opcode, END) << what;
        EXPECT_EQ(pos, out.length(0) - 1) << what;
      }
    }
  }
}

std::vector<CommandInfo> everyCommand() {
  std::vector<CommandInfo> all(std::begin(kCommands), std::end(kCommands));
  all.push_back(kNoteCommand);
  return all;
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, CommandTable, testing::ValuesIn(everyCommand()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CommandTable, UnlistedCommandBytesAreDescribedAsEnd) {
  for (const int byte : {0x87, 0x8F, 0x91, 0xA5, 0xDF, 0xE4, 0xFC}) {
    EXPECT_EQ(commandFor(static_cast<std::uint8_t>(byte)).opcode, END) << byte;
  }
  EXPECT_EQ(commandFor(0x45).name, "NOTE");
  EXPECT_EQ(commandFor(REST).name, "REST");
}

}  // namespace
}  // namespace qvb
