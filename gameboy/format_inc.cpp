// Writes the assembler's copy of the song data layout (qvb_format.inc) from
// gameboy/gb_stream_format.h, so that the driver and the exporter read one
// definition. Run by the build; prints `NAME = value` lines to stdout.
#include <cstdio>

#include "gameboy/gb_stream_format.h"

namespace {

using namespace qvb::gb;

// What the driver's code takes for granted beyond the values themselves.
static_assert(kGapEnd == 0 && kJump == 0xFF, "the driver tests a gap byte for the end by its zero, a jump by 0xFF");
static_assert(kGapCarry == 0x80 && kMaxGap < 64, "the carry is a gap's top bit; a gap and its carry fit a period");
static_assert(kSubRegisters == 0x1F && kSubChannelShift == 5 && kSubMore == 0x80,
              "the driver shifts a sub-frame's register bits out from bit 0, then finds bit 7 at bit 2");
static_assert(kHeaderChannels == 0 && kHeaderBank == 1 && kHeaderAddress == 2 && kHeaderRemainder == 4 &&
                  kHeaderFirstGap == 6 && kHeaderSecondGap == 7,
              "the driver reads the header's fields in order");
static_assert(kTimerStepsPerSlot == 4, "TMA = 256 - 4 x slots");
static_assert(kVblankSlots256 < 256 * 256 && kSlotFractionBits == 8, "a VBlank step is 8.8 slots");

void put(const char* name, unsigned value) { std::printf("%s = 0x%04X\n", name, value); }

}  // namespace

int main() {
  std::printf(";; Generated at build time from gameboy/gb_stream_format.h; do not edit.\n");
  put("F_HEADER_SIZE", kSongHeaderSize);
  put("F_GAP_CARRY", kGapCarry);
  put("F_JUMP", kJump);
  put("F_LOOP_DIVISOR", kLoopDivisor);
  put("F_LOOP_ACCUMULATOR_START", kLoopAccumulatorStart);
  put("F_SUB_PAN", kSubPan);
  put("F_SUB_WAVE", kSubWave);
  put("F_SUB_NOTHING", kSubNothing);
  put("F_WAVE_BYTES", kWaveRamBytes);
  put("F_VBLANK_STEP", kVblankSlots256 >> kSlotFractionBits);
  put("F_VBLANK_FRACTION", kVblankSlots256 & ((1u << kSlotFractionBits) - 1));
  put("F_TIMER_CONTROL", kTimerControl);
  put("F_BANK_REGISTER", kBankRegister);
  return 0;
}
