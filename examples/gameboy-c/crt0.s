; The start of the example game's ROM: the interrupt vectors, the entry
; from the cartridge header, the stack, and a jump to main. The timer
; interrupt saves what the driver changes and calls it.
; The game keeps no initialised variables, so nothing is copied to RAM.
	.module crt0
	.globl _main, _qvb_update

	.area _HEADER (ABS)
	.org 0x0050             ; the timer interrupt
	jp timer_interrupt
	.org 0x0100             ; the cartridge's entry
	nop
	jp start
	.org 0x0150
start:
	di
	ld sp,#0xE000
	call _main
1$:	halt
	jr 1$

	.area _CODE
; Changes nothing: qvb_update's AF, BC, DE, HL are saved around it.
timer_interrupt:
	push af
	push bc
	push de
	push hl
	call _qvb_update
	pop hl
	pop de
	pop bc
	pop af
	reti
