// The song data the Game Boy driver replays: one stream of records, each the
// register writes of one instant for any of the song's channels, with the
// time to the record after it, worked out on the computer from the
// sequencer. The driver knows nothing of the track command set; it only
// writes what a record says when the record's time comes. This header is
// the one place the layout lives: the build writes the assembler's copy
// (qvb_format.inc) from it.
//
// Time is counted in slots of 1/1024 s (four steps of the 4096 Hz timer).
//
// Song header (where the game's pointer to the song points; little-endian):
//   +0  u8   the song's hardware channels, bit c for channel c
//            (0 pulse 1, 1 pulse 2, 2 wave, 3 noise)
//   +1  u8   ROM bank of the stream (0: not banked)
//   +2  u16  the stream's address
//   +4  u16  the loop's remainder: each pass of the loop lasts its gaps plus
//            remainder / kLoopDivisor of a slot (see kGapCarry)
//   +6  u8   g1: slots from qvb_init to the first record (1..kMaxGap)
//   +7  u8   g2: slots from the first record to the second (0: none)
//
// Record: a gap byte, then sub-frames. The gap is the time from the next
// record to the one after it (two records on: the driver sets the timer
// one interval ahead), 1..kMaxGap slots; kGapEnd: none follows, the song
// has ended; kGapCarry added: the gap crosses the loop's end, and gets one
// slot more whenever the remainders the passes add up reach kLoopDivisor;
// kJump instead of a gap: u16 address and u8 bank follow, and the record is
// read there (the loop's start, or the next ROM bank).
//
// Sub-frame: a byte H, then what it names:
//   bits 0..4  NRx0..NRx4 of the channel follow in that order (NRx4 with bit
//              7: restart)
//   bits 5..6  the channel; with bits 0..4 clear, instead: kSubPan (the
//              song's NR51 bits follow), kSubWave (16 bytes of wave RAM
//              follow: the driver turns the DAC off for the copy, and a
//              register sub-frame of the wave channel turns it on again),
//              kSubNothing
//   bit 7      another sub-frame follows
// A record (with a jump after it) never crosses the end of a ROM bank.
#pragma once

#include <cstdint>

namespace qvb::gb {

inline constexpr int kSlotsPerSecond = 1024;
inline constexpr int kTimerStepsPerSlot = 4;  // TAC 0x04: 4096 Hz
inline constexpr std::uint8_t kTimerControl = 0x04;
// A game that calls the driver once a frame (VBlank) instead: a frame is
// 70224 cycles, 70224 / 4096 slots = 17 + 37/256.
inline constexpr int kSlotFractionBits = 8;
inline constexpr int kVblankSlots256 = 70224 * 256 / 4096;  // 4389: exact

inline constexpr int kSongHeaderSize = 8;
inline constexpr int kHeaderChannels = 0;
inline constexpr int kHeaderBank = 1;
inline constexpr int kHeaderAddress = 2;
inline constexpr int kHeaderRemainder = 4;
inline constexpr int kHeaderFirstGap = 6;
inline constexpr int kHeaderSecondGap = 7;

// The longest gap: the most one timer period holds (256 steps), less the
// slot a loop's carry may add.
inline constexpr std::uint8_t kMaxGap = 63;
inline constexpr std::uint8_t kGapEnd = 0x00;
inline constexpr std::uint8_t kGapCarry = 0x80;
inline constexpr std::uint8_t kJump = 0xFF;
// Slots are 1/1024 s and song time 1/22050 s units: a loop of L units lasts
// L * 512 / 11025 slots, so its remainder is counted in 11025ths.
inline constexpr std::uint16_t kLoopDivisor = 11025;
// Where the passes' accumulator starts: the first carry comes once the
// remainders pass 0.65 of a slot, so a pass after the first lies from 0.35
// of a slot early to 0.65 late against its exact time (a record itself
// lands up to a slot after its moment): never as much as 1 ms early.
inline constexpr std::uint16_t kLoopAccumulatorStart = kLoopDivisor * 35 / 100;

inline constexpr std::uint8_t kSubRegisters = 0x1F;  // bit n: NRx(n)
inline constexpr int kSubChannelShift = 5;
inline constexpr std::uint8_t kSubMore = 0x80;
inline constexpr std::uint8_t kSubPan = 0 << kSubChannelShift;
inline constexpr std::uint8_t kSubWave = 1 << kSubChannelShift;
inline constexpr std::uint8_t kSubNothing = 2 << kSubChannelShift;
inline constexpr int kWaveRamBytes = 16;
inline constexpr int kJumpSize = 4;  // kJump, address, bank
// The largest record: its gap, the wave, four channels' registers, the pan.
inline constexpr int kMaxRecordSize = 1 + (1 + kWaveRamBytes) + 4 * (1 + 5) + 2;

// Where banked streams live: bank n at 0x4000..0x7FFF.
inline constexpr std::uint16_t kBankWindow = 0x4000;
inline constexpr std::uint16_t kBankSize = 0x4000;
inline constexpr std::uint16_t kBankRegister = 0x2000;

}  // namespace qvb::gb
