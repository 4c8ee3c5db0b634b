/* A small Game Boy game that plays a song from qvbgb's kit: the song runs on
   the driver's timer while the game waits for video frames; the A button
   makes a jump sound on pulse 2 (the song goes on beneath it and has the
   channel back a quarter of a second later); Start stops the music.
   Built in README.md. */
#include "famicom.h"

#define REG(address) (*(volatile uint8_t *)(address))
#define P1 REG(0xFF00)
#define NR21 REG(0xFF16)
#define NR22 REG(0xFF17)
#define NR23 REG(0xFF18)
#define NR24 REG(0xFF19)
#define NR51 REG(0xFF25)
#define LY REG(0xFF44)
#define IE REG(0xFFFF)

#define BUTTON_A 0x01
#define BUTTON_START 0x08
#define JUMP_FRAMES 15

static uint8_t jump_frames; /* left of the jump sound; 0: pulse 2 is the song's */
static uint16_t jump_pitch;

static uint8_t buttons(void) {
  uint8_t held;
  P1 = 0x10;                /* the action buttons */
  held = P1;
  held = P1;                /* read twice: the lines settle */
  P1 = 0x30;
  return ~held & 0x0F;
}

static void wait_frame(void) {
  while (LY != 144) {
  }
  while (LY == 144) {
  }
}

/* The driver's routines are not called while its interrupt may come. */
static void take_pulse2(uint8_t take) {
  __asm__("di");
  qvb_mute(take ? QVB_PULSE2 : 0);
  __asm__("ei");
}

static void start_jump(void) {
  take_pulse2(1);
  jump_frames = JUMP_FRAMES;
  jump_pitch = 1600;
  NR21 = 0x80;              /* 50 % duty */
  NR22 = 0xF3;              /* loud, fading */
  NR23 = jump_pitch & 0xFF;
  NR24 = 0x80 | (jump_pitch >> 8);
  NR51 = NR51 | 0x22;       /* pulse 2 on both sides: the game's bits now */
}

/* Once a frame: the jump's pitch rises; at its end the song has pulse 2 back. */
static void step_jump(void) {
  if (jump_frames == 0) return;
  if (--jump_frames == 0) {
    take_pulse2(0);
    return;
  }
  jump_pitch += 24;
  NR23 = jump_pitch & 0xFF;
  NR24 = jump_pitch >> 8;
}

void main(void) {
  uint8_t held, before = 0;
  jump_frames = 0;
  qvb_init(qvb_song_famicom);
  IE = 0x04;                /* the timer interrupt */
  __asm__("ei");
  for (;;) {
    wait_frame();
    held = buttons();
    if ((held & ~before & BUTTON_A) && jump_frames == 0) start_jump();
    step_jump();
    if (held & ~before & BUTTON_START) {
      __asm__("di");
      qvb_stop();
      __asm__("ei");
    }
    before = held;
  }
}
