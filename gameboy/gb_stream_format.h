// The song data the Game Boy driver replays: per hardware channel, a stream
// of register frames with the waits between them, worked out on the computer
// from the sequencer. The driver knows nothing of the track command set; it
// only writes what a frame says when the frame's time comes. This header is
// the one place the layout lives: the build writes the assembler's copy
// (qvb_format.inc) from it.
//
// Time is counted in slots of 1/1024 s (four steps of the 4096 Hz timer).
//
// Song header (little-endian; where the game's pointer to the song points):
//   +0  u8   channel count (0..4)
//   +1  u8   the song's hardware channels, bit c for channel c
//   per channel, kChannelEntrySize bytes:
//   +0  u8   hardware channel: 0 pulse 1, 1 pulse 2, 2 wave, 3 noise
//   +1  u8   ROM bank of the stream's start (0: not banked)
//   +2  u16  the stream's address
//   +4  u16  the loop's remainder: each pass of the loop lasts its gaps plus
//            kLoopRemainder / kLoopDivisor of a slot; a driver adds this to
//            an accumulator at every gap marked kGapLoops and waits one slot
//            more when it reaches kLoopDivisor (then takes kLoopDivisor off)
//
// Stream: two gaps, then records. Each record is a frame followed by a gap
// (the gap two frames on: the driver reads one frame ahead, so that it
// knows the time of the frame after next when it sets the timer):
//   u16 g1, u16 g2, F1, g3, F2, g4, F3, ...
// g1 is the time from qvb_init to F1, g(i+1) from F(i) to F(i+1).
// A gap is 1..kMaxGap slots, with kGapLoops set where the gap crosses the
// loop's end; kGapNever: no frame follows (the channel has finished).
//
// Frame: a mask byte, then what it names, in this order:
//   kFrameJump   alone: u16 address, u8 bank follow; the frame is read
//                there instead (a loop, or the next ROM bank)
//   kFrameWave   16 bytes of wave RAM (the driver turns the DAC off for the
//                copy; the frame's NR30 write turns it on again)
//   kFrameReg0..kFrameReg4  NRx0..NRx4 (NRx4 with bit 7: restart)
//   kFramePan    this channel's NR51 bits (in their places)
// A record never crosses the end of a ROM bank: a jump to the next bank
// comes first.
#pragma once

#include <cstdint>

namespace qvb::gb {

inline constexpr int kSlotsPerSecond = 1024;
inline constexpr int kTimerStepsPerSlot = 4;  // TAC 0x04: 4096 Hz
inline constexpr std::uint8_t kTimerControl = 0x04;
// The longest interval one timer period can make: 256 steps.
inline constexpr int kMaxSlotsPerPeriod = 256 / kTimerStepsPerSlot;
// A game that calls the driver once a frame (VBlank) instead: a frame is
// 70224 cycles, 70224 / 4096 slots = 17 + 37/256.
inline constexpr int kSlotFractionBits = 8;
inline constexpr int kVblankSlots256 = 70224 * 256 / 4096;  // 4389: exact

inline constexpr int kSongHeaderSize = 2;
inline constexpr int kChannelEntrySize = 6;
inline constexpr int kEntryHardware = 0;
inline constexpr int kEntryBank = 1;
inline constexpr int kEntryAddress = 2;
inline constexpr int kEntryLoopRemainder = 4;

inline constexpr std::uint16_t kGapNever = 0x0000;
inline constexpr std::uint16_t kGapLoops = 0x8000;
inline constexpr std::uint16_t kMaxGap = 0x7FFF;
// Slots are 1/1024 s and song time 1/22050 s units: a loop of L units lasts
// L * 512 / 11025 slots, so its remainder is counted in 11025ths.
inline constexpr std::uint16_t kLoopDivisor = 11025;

inline constexpr std::uint8_t kFrameReg0 = 0x01;  // bit n: NRx(n)
inline constexpr std::uint8_t kFramePan = 0x20;
inline constexpr std::uint8_t kFrameWave = 0x40;
inline constexpr std::uint8_t kFrameJump = 0x80;
inline constexpr int kWaveRamBytes = 16;
inline constexpr int kJumpSize = 4;  // mask, address, bank
// The largest record: mask, wave, five registers, pan, gap.
inline constexpr int kMaxRecordSize = 1 + kWaveRamBytes + 5 + 1 + 2;

// Where banked streams live: bank n at 0x4000..0x7FFF.
inline constexpr std::uint16_t kBankWindow = 0x4000;
inline constexpr std::uint16_t kBankSize = 0x4000;
inline constexpr std::uint16_t kBankRegister = 0x2000;

}  // namespace qvb::gb
