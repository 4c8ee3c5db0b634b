;; The qvb sound driver's hardware side: the queue of register writes, and
;; what a note, rest, release, timbre or frequency change writes to a
;; channel's registers, its NR51 bits and wave RAM.

	.module qvb_hw
	.include "qvb_driver.inc"

	.area _CODE
;---------------------------------------------------------------- hardware

; Register writes wait in a queue for the call after next, which begins
; with them: events are worked out two calls ahead, so the time they take
; never delays what is heard, and work that does not fit one call can be
; finished in the next (two queues take turns). In qvb_init and qvb_stop
; they go out at once. An entry for register 0x30 stands for the whole of
; wave RAM, from q_wsrc.
; qput: A to register 0xFF00 + C; keeps BC and DE.
qput::
	push af
queue_tail:
	ld hl,#q_qptr
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ld (hl),c
	inc hl
	pop af
	ld (hl+),a
	ld a,l
	ld (q_qptr),a
	ld a,h
	ld (q_qptr+1),a
	ret

; qput_ch: A to the register C bytes past the channel's NRx1; keeps B and DE.
qput_ch::
	push af
	FLD C_BASE
	ld a,(hl)
	add a,c
	ld c,a
	jr queue_tail

; Writes this call's queue out at once (qvb_init, qvb_stop); keeps DE.
flush::
	push bc
	ld hl,#q_fbase
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ld a,(q_qptr)           ; B = entries: (end - start) / 2
	sub l
	srl a
	ld b,a
	ld a,l
	ld (q_qptr),a
	ld a,h
	ld (q_qptr+1),a
	jr write_out

; Writes out the queue of two calls ago, A bytes long; keeps BC and DE.
flush_old::
	push bc
	srl a
	ld b,a
	ld hl,#q_obase
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ld (q_oend),a
	ld a,h
	ld (q_oend+1),a
write_out:
	inc b
	dec b
	jr z,2$
1$:	ld a,(hl+)
	ld c,a
	cp #0x30
	jr z,3$
	ld a,(hl+)
	ldh (c),a
	dec b
	jr nz,1$
2$:	pop bc
	ret
3$:	inc hl                  ; wave RAM from q_wsrc, its DAC off meanwhile
	push hl
	push de
	xor a
	ldh (0x1A),a
	ld a,(q_wsrc)
	ld e,a
	ld a,(q_wsrc+1)
	ld d,a
4$:	ld a,(de)
	inc de
	ldh (c),a
	inc c
	ld a,c
	cp #0x40
	jr nz,4$
	ld a,#0x80
	ldh (0x1A),a
	pop de
	pop hl
	dec b
	jr nz,1$
	jr 2$

; Takes the channel out of both sides of NR51 (its bits in q_nr51, queued).
hw_unpan::
	FLD C_HW
	ld a,(hl)
	ld c,a
	ld b,#0
	ld hl,#pan_masks
	add hl,bc
	ld a,(hl)
	cpl
	ld c,a
	ld a,(q_nr51)
	and c
	ld (q_nr51),a
	ld c,#0x25
	call qput
	ret

; Silences the channel and takes its DAC (first use of the channel).
hw_claim::
	FLD C_HW
	ld a,(hl)
	or a
	jr nz,1$
	xor a
	ld c,#0x10              ; pulse 1 without its sweep
	call qput
1$:	call hw_unpan
	FLD C_TRIG
	ld (hl),#1
	FLD C_DUTY
	ld (hl),#0xFF
	call hw_silence
	FLD C_HW
	ld a,(hl)
	cp #2
	ret nz
	jp load_wave

hw_silence::
	xor a
	FLD C_ENV
	ld (hl),a
	PUT 1
	ret

; The closest the channel comes to the voice's type and timbre.
hw_timbre::
	FLD C_HW
	ld a,(hl)
	cp #2
	jr z,1$
	ret nc
	FLD C_TYPE
	ld a,(hl)
	or a
	ld a,#0x80              ; a square: half the cycle
	jr z,2$
	FLD C_TIMBRE
	ld a,(hl)
	cp #8
	ld a,#0x80
	jr nc,2$
	ld a,(hl)
	ld c,a
	ld b,#0
	ld hl,#duties
	add hl,bc
	ld a,(hl)
2$:	ld b,a
	FLD C_DUTY
	ld a,b
	cp (hl)
	ret z
	ld (hl),a
	PUT 0
	ret
1$:	ld a,#1                 ; the wave: once the reading reaches its item
	ld (q_wpend),a          ; that takes time (wave_now)
	ret

; Loads the wave a timbre or voice type asked for, when the reading reaches
; a note (which restarts the channel itself), a rest or the channel's end.
; Keeps BC.
wave_for_note::
	FLD C_KEYON
	ld (hl),#0
wave_now::
	xor a
	ld (q_wpend),a
	push bc
	call load_wave
	pop bc
	ret

; Wave RAM from the sine or the chosen slot; the next note restarts the
; channel (at once when one sounds).
load_wave::
	FLD C_TYPE
	ld a,(hl)
	ld b,a
	FLD C_TIMBRE
	ld c,(hl)
	FLD C_WTYPE
	ld a,(hl)
	cp b
	jr nz,5$
	cp #4
	ret nz                  ; the sine is there already
	inc hl
	ld a,(hl)
	cp c
	ret z                   ; so is this slot
5$:	FLD C_LASTOK
	ld (hl),#0
	FLD C_WTYPE
	ld (hl),b
	inc hl
	ld (hl),c
	FLD C_EMPTY
	ld (hl),#0
	ld a,b
	cp #4
	ld hl,#sine16
	jr nz,3$
	ld a,(q_waves)
	ld l,a
	ld a,(q_waves+1)
	ld h,a
	ld a,(q_nwaves)
	or a
	jr z,2$
	ld b,a
1$:	ld a,(hl+)
	cp c
	jr z,3$
	ld a,#16
	add a,l
	ld l,a
	adc a,h
	sub l
	ld h,a
	dec b
	jr nz,1$
2$:	FLD C_EMPTY            ; an empty slot: silent
	ld (hl),#1
	ld hl,#sine16
3$:	ld a,l                 ; one queue entry: the flush copies the 16 bytes
	ld (q_wsrc),a
	ld a,h
	ld (q_wsrc+1),a
	ld c,#0x30
	call qput
	FLD C_TRIG
	ld (hl),#1
	FLD C_KEYON
	ld a,(hl)
	or a
	ret z
	jp hw_note_on

; A = the louder level's top nibble; NR51 gets the sides that sound.
levels::
	FLD C_LVLR
	ld a,(hl+)
	ld b,(hl)
	and #0xF0
	ld c,a
	jr z,1$
	ld c,#0x01
1$:	ld a,b
	and #0xF0
	jr z,2$
	set 4,c
2$:	FLD C_HW
	ld a,(hl)
	or a
	jr z,4$
	ld b,a
3$:	sla c
	dec b
	jr nz,3$
4$:	ld b,a
	FLD C_PAN
	ld a,c
	cp (hl)
	jr z,6$
	ld (hl),a
	ld a,b
	ld hl,#pan_masks
	add a,l
	ld l,a
	adc a,h
	sub l
	ld h,a
	ld a,(hl)
	cpl
	ld b,a
	ld a,(q_nr51)
	and b
	or c
	ld (q_nr51),a
	ld c,#0x25
	call qput
6$:
	FLD C_LVLR
	ld a,(hl+)
	cp (hl)
	jr nc,5$
	ld a,(hl)
5$:	swap a
	and #0x0F
	ld b,a
	FLD C_EMPTY
	ld a,(hl)
	or a
	ld a,b
	ret z
	xor a
	ret

; The frequency register (or NR43) for the channel's frequency, kept in C_XLO/XHI.
compute_x::
	call freq_x
	FLD C_XLO
	ld (hl),c
	inc hl
	ld (hl),b
	ret

; The frequency register (or NR43) for the channel's pitch, into BC. In
; period mode C_FREQ holds the period, and the register comes from a table.
freq_x::
	FLD C_HW
	ld b,(hl)
	FLD C_PMODE
	ld c,(hl)
	FLD C_FREQ
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ld a,b
	cp #3
	jr z,1$
	srl a                   ; 0 pulse, 1 wave
	inc c
	dec c
	jp z,hz_to_x
	jp period_x
1$:	inc c
	dec c
	call nz,period_hz
	call hz_to_nr43
	ld c,a
	ld b,#0
	ret

; The frequency register of period HL (0..4095) on channel kind A (0 pulse,
; 1 wave) into BC, as hz_to_x gives it for the period's frequency.
period_x::
	ld c,a
	ld a,h
	or l
	jr z,3$                 ; 65535 Hz: the top
	ld a,l                  ; from 1748 on below 32 Hz, from 874 on below 64
	sub #<1748
	ld a,h
	sbc #>1748
	jr nc,4$
	bit 0,c
	jr nz,1$
	ld a,l
	sub #<874
	ld a,h
	sbc #>874
	jr nc,4$
1$:	push de
	add hl,hl
	ld de,#qvb_period_h - 2
	add hl,de
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	pop de
	inc hl
	bit 0,c
	jr z,2$
	inc hl
	srl h
	rr l
2$:	srl h
	rr l
	xor a                   ; x = 2048 - the quotient
	sub l
	ld c,a
	ld a,#8
	sbc a,h
	ld b,a
	ret
3$:	ld bc,#2047
	ret
4$:	ld bc,#0
	ret

hw_note_on::
	ld a,(q_fastx)
	or a
	call z,compute_x
	xor a
	ld (q_fastx),a
	FLD C_VOLR              ; the note's levels are the track volumes: the
	ld a,(hl+)              ; last note's nibble and NR51 hold when they match
	ld c,(hl)
	ld b,a
	FLD C_LASTOK
	ld a,(hl)
	or a
	jr z,7$
	FLD C_LASTR
	ld a,(hl+)
	cp b
	jr nz,7$
	ld a,(hl+)
	cp c
	jr nz,7$
	ld a,(hl)
	jr 8$
7$:	push bc
	call levels
	pop bc
	push af
	FLD C_LASTR
	ld (hl),b
	inc hl
	ld (hl),c
	inc hl
	pop af
	ld (hl+),a
	ld (hl),#1
8$:	ld b,a
	FLD C_HW
	ld a,(hl)
	cp #2
	jr z,wave_on
	ld a,b
	swap a                  ; volume, constant envelope
	FLD C_ENV
	cp (hl)
	jr z,1$
	ld (hl),a
	PUT 1
	FLD C_TRIG
	ld (hl),#1
1$:	FLD C_TRIG
	ld a,(hl)
	ld (hl),#0
	or a
	ld b,#0
	jr z,write_x
	ld b,#0x80
write_x::
	FLD C_HW
	ld a,(hl)
	cp #3
	jr z,2$
	FLD C_XLO
	ld a,(hl+)
	PUT 2
	FLD C_XHI
	ld a,(hl)
	or b
	PUT 3
	ret
2$:	FLD C_XLO
	ld a,(hl)
	PUT 2
	ld a,b
	PUT 3
	ret
wave_on::
	ld a,b
	call wave_code
	FLD C_ENV
	ld (hl),a
	PUT 1
	FLD C_TRIG
	ld a,(hl)
	ld (hl),#0
	or a
	ld b,#0
	jr z,write_x
	ld b,#0x80
	jp write_x

; NR32 for a volume nibble A: 0, 25, 50 or 100 %.
wave_code::
	or a
	ret z
	cp #6
	ld c,#0x60
	jr c,1$
	cp #12
	ld c,#0x40
	jr c,1$
	ld c,#0x20
1$:	ld a,c
	ret

; Frequency changes (sweep, vibrato) go on without a restart; a silent
; channel takes them at its next note. Only what changed is written: the
; low register alone takes effect without the high one.
hw_frequency::
	FLD C_ENV
	ld a,(hl)
	or a
	ret z
	call freq_x
	FLD C_XHI
	ld a,(hl)
	cp b
	jr nz,2$
	dec hl
	ld a,(hl)
	cp c
	ret z
	ld (hl),c
	ld a,c
	PUT 2
	ret
2$:	ld (hl),b
	dec hl
	ld (hl),c
	ld b,#0
	jp write_x

; A rest with release: the hardware envelope falls from the level sounding;
; the wave channel's level falls in the effect frames instead.
hw_release::
	FLD C_HW
	ld a,(hl)
	cp #2
	ret z
	FLD C_REL
	ld a,(hl)
	cp #16
	jr c,1$
	ld a,#15
1$:	ld c,a
	ld b,#0
	ld hl,#paces
	add hl,bc
	ld b,(hl)
	FLD C_LVLR
	ld a,(hl+)
	cp (hl)
	jr nc,2$
	ld a,(hl)
2$:	and #0xF0
	or b
	FLD C_ENV
	ld (hl),a
	PUT 1
	FLD C_TRIG
	ld (hl),#0
	ld b,#0x80
	jp write_x

hw_wave_level::
	FLD C_HW
	ld a,(hl)
	cp #2
	ret nz
	FLD C_LASTOK
	ld (hl),#0
	call levels
	call wave_code
	FLD C_ENV
	cp (hl)
	ret z
	ld (hl),a
	PUT 1
	ret

hw_bases::	.db 0x11, 0x16, 0x1B, 0x20
hw_types::	.db 0, 0, 3, 2
pan_masks::	.db 0x11, 0x22, 0x44, 0x88
; Pulse timbres 0..7 (eighths low): 3 and 5 have no duty of their own.
duties::		.db 0x80, 0x00, 0x40, 0x40, 0x80, 0xC0, 0xC0, 0x00
; Envelope pace for a release of 0..15 a frame (16 and up: 1).
paces::		.db 7, 7, 7, 6, 4, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1
sine16::		.db 0x89, 0xAC, 0xDE, 0xEF, 0xFF, 0xEE, 0xDC, 0xA9
		.db 0x86, 0x53, 0x21, 0x10, 0x00, 0x11, 0x23, 0x56

