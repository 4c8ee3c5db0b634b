/*
 * The qvb Game Boy sound driver for C games built with SDCC (sdcc -msm83).
 * It replays a song written by `qvbgb --asm DIR SONG`, whose data are named
 * qvb_song_NAME after the song's file (its header NAME.h declares it), so
 * that a game may hold many songs.
 *
 * The driver either owns the timer (qvb_init: call qvb_update from the
 * timer interrupt, which the game enables, IE bit 2) or is called once a
 * video frame (qvb_init_vblank: call qvb_update from the VBlank interrupt or
 * the main loop; each note up to a frame late). None of these may run while
 * qvb_update can interrupt it: call them from the interrupt that calls
 * qvb_update, or with that interrupt off.
 *
 * Sound effects: qvb_mute(QVB_PULSE2) hands pulse 2 to the game; the song
 * goes on without being heard there, and the channel's NR51 bits are the
 * game's. qvb_mute(0) gives it back, sounding at once as the song has it.
 *
 * Banked songs (`--bank N`): the driver switches the bank at 0x4000 to read
 * the song and then writes qvb_rom_bank back; a game that switches banks
 * itself keeps qvb_rom_bank up to date.
 *
 * Licence: zlib (its notice heads each of the driver's files in a kit; in
 * qvbp's sources it is LICENSE). A game that carries the driver in its ROM
 * needs no notice in the ROM or in its documentation; the notice stays in
 * these source files.
 */
#ifndef QVB_H
#define QVB_H

#include <stdint.h>

/* The channels, as bits for qvb_mute. */
#define QVB_PULSE1 0x01
#define QVB_PULSE2 0x02
#define QVB_WAVE 0x04
#define QVB_NOISE 0x08

/* The song starts now on the driver's timer (TAC, TMA, TIMA are its own). */
void qvb_init(const uint8_t *song);
/* The song starts now; qvb_update comes once a video frame. */
void qvb_init_vblank(const uint8_t *song);
/* The driver's work: from the timer interrupt, or once a video frame. */
void qvb_update(void);
/* The song's channels silent and out of NR51; qvb_update does nothing. */
void qvb_stop(void);
/* The game takes the channels in `channels` and gives back the others. */
void qvb_mute(uint8_t channels);
/* The game's ROM bank, restored after the driver read a banked song. */
extern uint8_t qvb_rom_bank;

#endif
