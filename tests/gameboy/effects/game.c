/* A game's sound effect over a song, built as a GBS file: its play routine
   calls qvb_update, then on set calls takes pulse 2 and the wave channel
   for an effect of its own, gives them back and stops the song, then
   takes pulse 2 and gives it back again, which must not wake the song. Each step
   is marked in gbsplay's register dump by a write of NR50 before it. */
#include "effects.h"

#define REG(address) (*(volatile uint8_t *)(address))

static uint8_t calls;

/* A beep on pulse 2 and a tone of the game's own wave on the wave channel,
   both on both sides. */
static void effect(void) {
  uint8_t i;
  REG(0xFF1A) = 0x00;
  for (i = 0; i < 16; ++i) REG(0xFF30 + i) = 0x5A;
  REG(0xFF1A) = 0x80;
  REG(0xFF1C) = 0x20;
  REG(0xFF1D) = 0x5A;
  REG(0xFF1E) = 0x87;
  REG(0xFF16) = 0x80;
  REG(0xFF17) = 0xF0;
  REG(0xFF18) = 0x5A;
  REG(0xFF19) = 0x87;
  REG(0xFF25) = REG(0xFF25) | 0x66;
}

void game_init(void) {
  calls = 0;
  qvb_init(qvb_song_effects);
}

void game_play(void) {
  qvb_update();
  ++calls;
  if (calls == 30) {
    REG(0xFF24) = 0x76;
    qvb_mute(QVB_PULSE2 | QVB_WAVE);
    effect();
  } else if (calls == 90) {
    REG(0xFF24) = 0x75;
    qvb_mute(0);
  } else if (calls == 150) {
    REG(0xFF24) = 0x74;
    qvb_stop();
  } else if (calls == 160) {
    qvb_mute(QVB_PULSE2);
  } else if (calls == 170) {
    qvb_mute(0);
  }
}
