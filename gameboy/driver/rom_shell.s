; The shell around the driver: a ROM that plays the song placed at
; qvb_song_data, and the entry points of a GBS file (loaded at 0x0400).
; The idle loop counts in q_idle, 24 cycles a count, so that the time the
; driver takes can be read from outside.

	.module rom_shell
	.globl qvb_init, qvb_update, qvb_song_data

	.area _HEADER (ABS)
	.org 0x0050
	jp timer_interrupt
	.org 0x0100
	nop
	jp start
	.org 0x0150
start:
	di
	ld sp,#0xE000
	ld hl,#qvb_song_data
	call qvb_init
	xor a
	ld hl,#q_idle
	ld (hl+),a
	ld (hl+),a
	ld (hl),a
	ld a,#0xF0              ; 256 Hz: 4096 Hz / 16
	ldh (0x06),a
	ldh (0x05),a
	ld a,#0x04
	ldh (0x07),a
	ldh (0xFF),a
	xor a
	ldh (0x0F),a
	ei
idle:
	ld hl,#q_idle
1$:	inc (hl)
	jr nz,1$
	inc hl
	inc (hl)
	jr nz,idle
	inc hl
	inc (hl)
	jr idle

timer_interrupt:
	push af
	push hl
	call qvb_update
	pop hl
	pop af
	reti

	.area _CODE
gbs_init::
	ld hl,#qvb_song_data
	call qvb_init
	ldh a,(0x06)            ; the first call one period from now
	ldh (0x05),a
	ret
gbs_play::
	jp qvb_update

	.area _DATA
q_idle::	.ds 3
