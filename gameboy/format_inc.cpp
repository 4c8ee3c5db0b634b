// Writes the assembler's copy of the song data layout (qvb_format.inc) from
// gameboy/gb_stream_format.h, so that the driver and the exporter read one
// definition. Run by the build; prints `NAME = value` lines to stdout.
#include <cstdio>

#include "gameboy/gb_stream_format.h"

namespace {

using namespace qvb::gb;

// What the driver's code takes for granted beyond the values themselves.
static_assert(kGapNever == 0, "the driver tests a gap for kGapNever by its zero");
static_assert(kGapLoops == 0x8000 && kMaxGap == 0x7FFF, "the loop flag is a gap's top bit");
static_assert(kFrameReg0 == 1, "NRx0..NRx4 are the mask's bits 0..4");
static_assert(kFramePan > kFrameReg0 << 4 && kFrameWave > kFramePan && kFrameJump == 0x80,
              "the driver walks the mask's register bits from bit 0 and tests the jump as bit 7");
static_assert(kChannelEntrySize == 6 && kEntryHardware == 0 && kEntryBank == 1 && kEntryAddress == 2 &&
                  kEntryLoopRemainder == 4,
              "the driver reads a channel entry's fields in order");
static_assert(kTimerStepsPerSlot == 4 && kMaxSlotsPerPeriod == 64, "TMA = 256 - 4 x slots");
static_assert(kVblankSlots256 < 256 * 256 && kSlotFractionBits == 8, "a VBlank step is 8.8 slots");

int bitOf(unsigned mask) {
  int bit = 0;
  while ((mask >> bit) != 1) ++bit;
  return bit;
}

void put(const char* name, unsigned value) { std::printf("%s = 0x%04X\n", name, value); }

}  // namespace

int main() {
  std::printf(";; Generated at build time from gameboy/gb_stream_format.h; do not edit.\n");
  put("F_HEADER_SIZE", kSongHeaderSize);
  put("F_ENTRY_SIZE", kChannelEntrySize);
  put("F_GAP_LOOPS_BIT", bitOf(kGapLoops) - 8);  // in the gap's high byte
  put("F_MAX_GAP_HI", kMaxGap >> 8);
  put("F_LOOP_DIVISOR", kLoopDivisor);
  put("F_FRAME_REGS", kFrameReg0 * 0x1F);
  put("F_FRAME_PAN", kFramePan);
  put("F_FRAME_WAVE", kFrameWave);
  put("F_FRAME_JUMP_BIT", bitOf(kFrameJump));
  put("F_WAVE_BYTES", kWaveRamBytes);
  put("F_VBLANK_STEP", kVblankSlots256 >> kSlotFractionBits);
  put("F_VBLANK_FRACTION", kVblankSlots256 & ((1u << kSlotFractionBits) - 1));
  put("F_TIMER_CONTROL", kTimerControl);
  put("F_STEPS_PER_SLOT", kTimerStepsPerSlot);
  put("F_MAX_SLOTS", kMaxSlotsPerPeriod);
  put("F_BANK_REGISTER", kBankRegister);
  return 0;
}
