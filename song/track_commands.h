// The track command set: the byte language of a channel's track data.
// Bytes 0x00-0x7F are notes, 0x80 a rest, 0x81 and up commands; every byte that
// is not listed below acts as END. Notes and rests carry a length field: one
// byte 0..254, or 0xFF followed by a big-endian 16-bit tick count.
// The opcode enum and the table of names and operand shapes both come from the
// one list below; the sequencer decodes with decodeItem, the compiler writes
// with writeItem, and the exporter sizes items from the same shapes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qvb {

// X(name, byte, first operand, second operand), in byte order.
#define QVB_TRACK_COMMANDS(X)             \
  X(REST, 0x80, Length, None)             \
  X(VOLUME, 0x81, U8, None)               \
  X(RELEASE, 0x82, U8, None)              \
  X(DETUNE, 0x83, S8, None)               \
  X(SWEEP, 0x84, S8, None)                \
  X(VOLUME_RIGHT, 0x85, U8, None)         \
  X(VOLUME_LEFT, 0x86, U8, None)          \
  X(TEMPO, 0x90, U16, None)               \
  X(VIBRATO_DELAY, 0xA0, U16, None)       \
  X(VIBRATO_DEPTH, 0xA1, U8, None)        \
  X(VIBRATO_RATE, 0xA2, U8, None)         \
  X(VIBRATO_STEP, 0xA3, S8, None)         \
  X(VIBRATO_GROWTH, 0xA4, U8, None)       \
  X(LOOP_MARK, 0xE0, None, None)          \
  X(REPEAT_START, 0xE1, U8, U8)           \
  X(REPEAT_BREAK, 0xE2, U8, None)         \
  X(REPEAT_END, 0xE3, U8, None)           \
  X(TIMBRE, 0xFD, U8, None)               \
  X(VOICE_TYPE, 0xFE, U8, None)           \
  X(END, 0xFF, None, None)

enum Opcode : std::uint8_t {
  NOTE_LAST = 0x7F,  // 0x00..0x7F: note number
#define QVB_OPCODE_ENUMERATOR(name, byte, first, second) name = byte,
  QVB_TRACK_COMMANDS(QVB_OPCODE_ENUMERATOR)
#undef QVB_OPCODE_ENUMERATOR
};

enum class Operand : std::uint8_t { None, U8, S8, U16, Length };

struct CommandInfo {
  std::uint8_t opcode;
  std::string_view name;
  std::array<Operand, 2> operands;
};

inline constexpr CommandInfo kCommands[] = {
#define QVB_COMMAND_ENTRY(name, byte, first, second) {name, #name, {Operand::first, Operand::second}},
    QVB_TRACK_COMMANDS(QVB_COMMAND_ENTRY)
#undef QVB_COMMAND_ENTRY
};

// Every note byte shares this entry; its opcode stands for 0x00..0x7F.
inline constexpr CommandInfo kNoteCommand{0x00, "NOTE", {Operand::Length, Operand::None}};

inline constexpr bool isNote(std::uint8_t byte) { return byte <= NOTE_LAST; }

namespace detail {
constexpr std::array<const CommandInfo*, 256> commandsByByte() {
  std::array<const CommandInfo*, 256> table{};
  const CommandInfo* end = nullptr;
  for (const CommandInfo& info : kCommands)
    if (info.opcode == END) end = &info;
  for (int byte = 0; byte < 256; ++byte) table[byte] = isNote(static_cast<std::uint8_t>(byte)) ? &kNoteCommand : end;
  for (const CommandInfo& info : kCommands) table[info.opcode] = &info;
  return table;
}
inline constexpr std::array<const CommandInfo*, 256> kCommandsByByte = commandsByByte();
}  // namespace detail

// The entry that describes a byte: notes share the NOTE entry; unassigned
// command bytes are described by END, since they act exactly like it.
constexpr const CommandInfo& commandFor(std::uint8_t byte) { return *detail::kCommandsByByte[byte]; }

// Length fields: up to 254 ticks in one byte, else the escape and 16 bits.
inline constexpr std::uint8_t kLongLength = 0xFF;
inline constexpr int kMaxShortLength = 254;
inline constexpr int kMaxLength = 65535;

inline constexpr int kRepeatLevels = 16;

// Bytes an operand of a fixed shape takes; a length field takes 1 or 3.
constexpr int fixedOperandBytes(Operand shape) {
  switch (shape) {
    case Operand::U8:
    case Operand::S8:
      return 1;
    case Operand::U16:
      return 2;
    default:
      return 0;
  }
}

// Bytes of a whole item whose operands have fixed sizes (no length field).
constexpr int fixedItemBytes(std::uint8_t opcode) {
  const CommandInfo& info = commandFor(opcode);
  return 1 + fixedOperandBytes(info.operands[0]) + fixedOperandBytes(info.operands[1]);
}

// The most bytes an operand of this shape can take: a length field's long
// form takes three.
constexpr int maxOperandBytes(Operand shape) { return shape == Operand::Length ? 3 : fixedOperandBytes(shape); }

namespace detail {
constexpr int maxItemBytes() {
  int most = 1 + maxOperandBytes(kNoteCommand.operands[0]) + maxOperandBytes(kNoteCommand.operands[1]);
  for (const CommandInfo& info : kCommands)
    most = std::max(most, 1 + maxOperandBytes(info.operands[0]) + maxOperandBytes(info.operands[1]));
  return most;
}
}  // namespace detail

// The longest item writeItem can write.
inline constexpr int kMaxItemBytes = detail::maxItemBytes();

// One item as read from a block: its opcode byte (a note number for notes),
// its table entry and its operand values (u8 0..255, s8 -128..127, u16 and
// length 0..65535; unused operands are 0).
struct TrackItem {
  std::uint8_t opcode = END;
  const CommandInfo* info = &commandFor(END);
  std::array<std::int32_t, 2> operands{};
};

namespace detail {
// The operands of the item whose opcode was just read; false when the block
// ends inside them.
constexpr bool decodeOperands(const std::uint8_t* data, std::int32_t length, std::int32_t& pos, TrackItem& item) {
  for (std::size_t i = 0; i < item.operands.size(); ++i) {
    const Operand shape = item.info->operands[i];
    if (shape == Operand::None) break;
    const std::int64_t left = static_cast<std::int64_t>(length) - pos;
    if (left < 1) return false;
    std::int32_t value = data[pos];
    if (shape == Operand::S8) value = static_cast<std::int8_t>(data[pos]);
    if (shape == Operand::U16 || (shape == Operand::Length && data[pos] == kLongLength)) {
      const int skip = shape == Operand::Length ? 1 : 0;
      if (left < 2 + skip) return false;
      value = data[pos + skip] << 8 | data[pos + skip + 1];
      pos += skip + 1;
    }
    ++pos;
    item.operands[i] = value;
  }
  return true;
}
}  // namespace detail

// Reads the item at pos of a block of length bytes and moves pos behind it.
// An item that the block's end cuts, or a pos outside the block, reads as
// END and leaves pos at the end of the block.
constexpr TrackItem decodeItem(const std::uint8_t* data, std::int32_t length, std::int32_t& pos) {
  TrackItem item;
  bool whole = data != nullptr && pos >= 0 && pos < length;
  if (whole) {
    item.opcode = data[pos++];
    item.info = &commandFor(item.opcode);
    whole = detail::decodeOperands(data, length, pos, item);
  }
  if (!whole) {
    item = TrackItem{};
    pos = length < 0 ? 0 : length;
  }
  return item;
}

namespace detail {
template <typename Put>
void writeOperand(Put& put, Operand shape, std::int32_t value) {
  switch (shape) {
    case Operand::None:
      break;
    case Operand::U8:
    case Operand::S8:
      put(value & 0xFF);
      break;
    case Operand::Length:
      if (value <= kMaxShortLength) {
        put(value);
        break;
      }
      put(kLongLength);
      [[fallthrough]];
    case Operand::U16:
      put((value >> 8) & 0xFF);
      put(value & 0xFF);
      break;
  }
}
}  // namespace detail

// Writes one item through put(int byte): the opcode (a note number for notes)
// and its operands by the table's shapes. Lengths up to 254 take the short
// form; callers keep every value inside its shape's range.
template <typename Put>
void writeItem(Put&& put, std::uint8_t opcode, std::int32_t first = 0, std::int32_t second = 0) {
  put(opcode);
  const CommandInfo& info = commandFor(opcode);
  detail::writeOperand(put, info.operands[0], first);
  if (info.operands[1] != Operand::None) detail::writeOperand(put, info.operands[1], second);
}

// Notes and rests, the bulk of every track: the opcode and one length field.
static_assert(kNoteCommand.operands[0] == Operand::Length && kNoteCommand.operands[1] == Operand::None &&
              commandFor(REST).operands == kNoteCommand.operands);

// writeItem for a timed item, without the table lookup.
template <typename Put>
void writeTimedItem(Put&& put, std::uint8_t opcode, std::int32_t length) {
  put(opcode);
  detail::writeOperand(put, Operand::Length, length);
}

// The same into memory with room for kMaxItemBytes; returns the item's end.
inline std::uint8_t* writeTimedItem(std::uint8_t* at, std::uint8_t opcode, std::int32_t length) {
  writeTimedItem([&at](int b) { *at++ = static_cast<std::uint8_t>(b); }, opcode, length);
  return at;
}

}  // namespace qvb
