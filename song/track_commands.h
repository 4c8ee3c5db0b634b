// The track command set: the byte language of a channel's track data.
// Bytes 0x00-0x7F are notes, 0x80 a rest, 0x81 and up commands; every byte that
// is not listed below acts as END. Notes and rests carry a length field: one
// byte 0..254, or 0xFF followed by a big-endian 16-bit tick count.
// The sequencer, the compiler and the exporter all take opcodes and operand
// shapes from this one table, so they cannot drift apart.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qvb {

enum Opcode : std::uint8_t {
  NOTE_LAST = 0x7F,  // 0x00..0x7F: note number
  REST = 0x80,
  VOLUME = 0x81,
  RELEASE = 0x82,
  DETUNE = 0x83,
  SWEEP = 0x84,
  VOLUME_RIGHT = 0x85,
  VOLUME_LEFT = 0x86,
  TEMPO = 0x90,
  VIBRATO_DELAY = 0xA0,
  VIBRATO_DEPTH = 0xA1,
  VIBRATO_RATE = 0xA2,
  VIBRATO_STEP = 0xA3,
  VIBRATO_GROWTH = 0xA4,
  LOOP_MARK = 0xE0,
  REPEAT_START = 0xE1,
  REPEAT_BREAK = 0xE2,
  REPEAT_END = 0xE3,
  TIMBRE = 0xFD,
  VOICE_TYPE = 0xFE,
  END = 0xFF,
};

enum class Operand : std::uint8_t { None, U8, S8, U16, Length };

struct CommandInfo {
  std::uint8_t opcode;
  std::string_view name;
  std::array<Operand, 2> operands;
};

inline constexpr std::array<CommandInfo, 21> kCommands{{
    {REST, "REST", {Operand::Length, Operand::None}},
    {VOLUME, "VOLUME", {Operand::U8, Operand::None}},
    {RELEASE, "RELEASE", {Operand::U8, Operand::None}},
    {DETUNE, "DETUNE", {Operand::S8, Operand::None}},
    {SWEEP, "SWEEP", {Operand::S8, Operand::None}},
    {VOLUME_RIGHT, "VOLUME_RIGHT", {Operand::U8, Operand::None}},
    {VOLUME_LEFT, "VOLUME_LEFT", {Operand::U8, Operand::None}},
    {TEMPO, "TEMPO", {Operand::U16, Operand::None}},
    {VIBRATO_DELAY, "VIBRATO_DELAY", {Operand::U16, Operand::None}},
    {VIBRATO_DEPTH, "VIBRATO_DEPTH", {Operand::U8, Operand::None}},
    {VIBRATO_RATE, "VIBRATO_RATE", {Operand::U8, Operand::None}},
    {VIBRATO_STEP, "VIBRATO_STEP", {Operand::S8, Operand::None}},
    {VIBRATO_GROWTH, "VIBRATO_GROWTH", {Operand::U8, Operand::None}},
    {LOOP_MARK, "LOOP_MARK", {Operand::None, Operand::None}},
    {REPEAT_START, "REPEAT_START", {Operand::U8, Operand::U8}},
    {REPEAT_BREAK, "REPEAT_BREAK", {Operand::U8, Operand::None}},
    {REPEAT_END, "REPEAT_END", {Operand::U8, Operand::None}},
    {TIMBRE, "TIMBRE", {Operand::U8, Operand::None}},
    {VOICE_TYPE, "VOICE_TYPE", {Operand::U8, Operand::None}},
    {END, "END", {Operand::None, Operand::None}},
    {0x00, "NOTE", {Operand::Length, Operand::None}},  // stands for every byte 0x00..0x7F
}};

inline constexpr bool isNote(std::uint8_t byte) { return byte <= NOTE_LAST; }

// The entry that describes a byte: notes share the NOTE entry; unassigned
// command bytes are described by END, since they act exactly like it.
constexpr const CommandInfo& commandFor(std::uint8_t byte) {
  if (isNote(byte)) return kCommands.back();
  for (const CommandInfo& info : kCommands)
    if (info.opcode == byte && info.name != "NOTE") return info;
  return kCommands[kCommands.size() - 2];  // END
}

// Length fields: up to 254 ticks in one byte, else the escape and 16 bits.
inline constexpr std::uint8_t kLongLength = 0xFF;
inline constexpr int kMaxShortLength = 254;
inline constexpr int kMaxLength = 65535;

inline constexpr int kRepeatLevels = 16;

}  // namespace qvb
