;; The qvb sound driver's effect frame (release, sweep, vibrato) and its
;; arithmetic: signed steps, period clamps and the divisions that turn a
;; frequency in Hz into the hardware's registers.

	.module qvb_effects
	.include "qvb_driver.inc"

	.area _CODE
;---------------------------------------------------------------- effect frame
effect_frame::
	ld de,#q_chans
	ld a,(q_count)
	or a
	ret z
1$:	ld (q_iter),a
	call effect_channel
	ld hl,#CH_SIZE
	add hl,de
	ld d,h
	ld e,l
	ld a,(q_iter)
	dec a
	jr nz,1$
	ret

effect_channel::
	FLD C_KEYON
	ld a,(hl)
	or a
	jr nz,vibrato
	FLD C_REL
	ld a,(hl)
	or a
	jr z,2$
	ld c,a
	FLD C_LVLR
	call drop_level
	inc hl
	call drop_level
	call hw_wave_level
2$:	FLD C_SWEEP
	ld a,(hl)
	or a
	jr z,vibrato
	ld (q_tmp),a
	FLD C_PMODE
	ld a,(hl)
	or a
	jr nz,3$
	FLD C_FREQ
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ld a,(q_tmp)
	call add_s8
	ld a,h
	or l
	jr nz,4$
	inc hl                  ; a frequency of 0 becomes 1
	jr 4$
3$:	FLD C_PERIOD
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ld a,(q_tmp)
	call sub_s8
	call clamp_period
	call store_period
4$:	call store_freq
	call hw_frequency
vibrato::
	FLD C_VON
	ld a,(hl)
	or a
	ret z
	FLD C_NF+2
	ld a,(hl-)
	or a
	jr nz,vib_armed
	ld a,(hl-)
	ld b,a
	ld c,(hl)
	FLD C_VDELAY
	ld a,c
	sub (hl)
	inc hl
	ld a,b
	sbc a,(hl)
	jr c,vib_count          ; still waiting
	ld a,b
	cp (hl)
	jr nz,vib_armed
	dec hl
	ld a,c
	cp (hl)
	jr nz,vib_armed
	; the vibrato arms on the pitch the note has now
	FLD C_PMODE
	ld a,(hl)
	or a
	ld hl,#C_FREQ
	jr z,1$
	ld hl,#C_PERIOD
1$:	add hl,de
	ld a,(hl+)
	ld c,a
	ld b,(hl)
	FLD C_VBASE
	ld (hl),c
	inc hl
	ld (hl),b
	FLD C_VDEPTH
	ld a,(hl)
	FLD C_VRANGE
	ld (hl+),a
	ld (hl),#0
	FLD C_VSTEP
	ld a,(hl)
	ld c,a
	rla
	sbc a,a
	FLD C_VDELTA
	ld (hl),c
	inc hl
	ld (hl),a
	FLD C_VTIMER
	xor a
	ld (hl+),a
	ld (hl),a
vib_count::
	FLD C_NF
	inc (hl)
	ret nz
	inc hl
	inc (hl)
	ret nz
	inc hl
	inc (hl)
	ret
vib_armed::
	FLD C_VTIMER
	ld a,(hl)
	inc a
	jr z,1$
	ld (hl),a
1$:	ld c,(hl)
	FLD C_VRATE
	ld a,(hl)
	cp c
	ret nz
	FLD C_VTIMER
	ld (hl),#0
	FLD C_VDELTA
	ld a,(hl+)
	ld c,a
	ld b,(hl)
	FLD C_VOFF
	ld a,(hl)
	add a,c
	ld (hl+),a
	ld a,(hl)
	adc a,b
	ld (hl),a
	bit 7,b
	jr nz,vib_down
	ld a,b
	or c
	jr z,vib_down
	; rising: turn at the upper bound, counting the turn
	call load_offset_range  ; HL offset, BC range
	call cmp_s16
	jr c,vib_pitch
	call negate_delta
	FLD C_VTURNS
	ld a,(hl)
	inc a
	jr z,2$
	ld (hl),a
2$:	call grow_range
	jr vib_pitch
vib_down::
	; falling: turn at the lower bound without counting it
	call load_offset_range
	ld a,c                  ; BC = -range
	cpl
	ld c,a
	ld a,b
	cpl
	ld b,a
	inc bc
	push hl                 ; offset <= -range: not (-range < offset)
	ld h,b
	ld l,c
	pop bc
	call cmp_s16
	jr c,vib_pitch
	call negate_delta
	call grow_range
vib_pitch::
	FLD C_VBASE
	ld a,(hl+)
	ld b,(hl)
	ld c,a
	FLD C_VOFF
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	add hl,bc
	push hl
	FLD C_PMODE
	ld a,(hl)
	pop hl
	or a
	call nz,clamp_period
	call store_freq
	jp hw_frequency

load_offset_range::
	FLD C_VRANGE
	ld a,(hl+)
	ld c,a
	ld b,(hl)
	FLD C_VOFF
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ret

negate_delta::
	FLD C_VDELTA
	xor a
	sub (hl)
	ld (hl+),a
	ld a,#0
	sbc a,(hl)
	ld (hl),a
	ret

; turns = growth: turns = 0 and the bound grows by one.
grow_range::
	FLD C_VGROWTH
	ld a,(hl)
	ld c,a
	FLD C_VTURNS
	ld a,(hl)
	cp c
	ret nz
	ld (hl),#0
	FLD C_VRANGE
	inc (hl)
	ret nz
	inc hl
	inc (hl)
	ret

; (HL) less C, or 0.
drop_level::
	ld a,c
	cp (hl)
	jr nc,1$
	ld a,(hl)
	sub c
	ld (hl),a
	ret
1$:	ld (hl),#0
	ret

;---------------------------------------------------------------- arithmetic
add_s8::
	ld c,a
	rla
	sbc a,a
	ld b,a
	add hl,bc
	ret

sub_s8::
	ld c,a
	rla
	sbc a,a
	ld b,a
	ld a,l
	sub c
	ld l,a
	ld a,h
	sbc a,b
	ld h,a
	ret

; Carry set when HL < BC as signed numbers. Changes B and H.
cmp_s16::
	ld a,h
	xor #0x80
	ld h,a
	ld a,b
	xor #0x80
	ld b,a
	ld a,l
	sub c
	ld a,h
	sbc a,b
	ret

; HL (signed) into 0..4095.
clamp_period::
	bit 7,h
	jr nz,1$
	ld a,h
	cp #0x10
	ret c
	ld hl,#4095
	ret
1$:	ld hl,#0
	ret

store_period::
	push hl
	FLD C_PERIOD
	pop bc
	ld (hl),c
	inc hl
	ld (hl),b
	ld h,b
	ld l,c
	ret

store_freq::
	push hl
	FLD C_FREQ
	pop bc
	ld (hl),c
	inc hl
	ld (hl),b
	ld h,b
	ld l,c
	ret

;; (HL << 16 | A << 8 | (q_div)) / DE with HL < DE <= 32767: the quotient's
;; low 16 bits in BC. Changes DE and HL.
udiv16::
	call div_setup
	.rept 4
	QSTEP
	.endm
	jr div_nibble
; The same over 12 bits: A's high nibble holds dividend bits 11..8 (its low
; nibble and the carry 0).
udiv12::
	call div_setup
div_nibble:
	.rept 4
	QSTEP
	.endm
	rla
	ld (q_div+1),a
div_low:
	ld a,(q_div)
	.rept 8
	QSTEP
	.endm
	rla
	ld c,a
	ld a,(q_div+1)
	ld b,a
	ret
; The same when the quotient is below 256: HL (< DE) and the low byte.
udiv8::
	call div_setup
	xor a
	ld (q_div+1),a
	jr div_low
; BC = DE, DE = -DE; keeps A, HL and the carry.
div_setup:
	ld b,d
	ld c,e
	push af
	xor a
	sub e
	ld e,a
	ld a,#0
	sbc a,d
	ld d,a
	pop af
	ret

; The frequency of period HL: 55930 / HL, or 65535 for period 0.
period_hz::
	ld a,h
	or l
	jr nz,1$
	dec hl
	ret
1$:	push de
	ld d,h
	ld e,l
	ld a,#<55930
	ld (q_div),a
	ld a,#>55930
	ld hl,#0
	call udiv16
	ld h,b
	ld l,c
	pop de
	ret

; The frequency register of HL Hz on channel kind A (0 pulse: 131072 / f;
; 1 wave: 65536 / f), rounded to the nearest period, into BC. Below the
; channel's range it is 0, above 32767 Hz the top.
hz_to_x::
	push de
	ld d,h
	ld e,l
	ld c,a
	ld a,d
	or a
	jr nz,1$
	ld a,e
	bit 0,c
	jr nz,2$
	cp #64
	jr c,x_low
	jr 1$
2$:	cp #32
	jr c,x_low
1$:	bit 7,d
	jr nz,x_high
	; the dividend K + f / 2 (K = 0x20000 or 0x10000), its bits above the
	; twelfth starting the remainder: the quotient is at most 2048
	ld l,e
	ld a,d
	srl a
	rr l
	ld h,a
	ld a,l
	ld (q_div),a
	ld b,#2                 ; K >> 16
	bit 0,c
	jr z,3$
	dec b
3$:	ld a,b                  ; from (K + f / 2) >> 8 < f on, 8 bits do
	cp d
	jr c,4$
	jr nz,5$
	ld a,h
	cp e
	jr nc,5$
4$:	ld l,h
	ld h,b
	call udiv8
	jr 6$
5$:	ld a,b
	swap a
	ld l,a
	ld a,h
	swap a
	ld h,a
	and #0x0F
	add a,l
	ld l,a
	ld a,h
	and #0xF0
	ld h,#0
	call udiv12
6$:
	xor a                   ; x = 2048 - quotient
	sub c
	ld c,a
	ld a,#8
	sbc a,b
	ld b,a
	pop de
	ret
x_low::
	ld bc,#0
	pop de
	ret
x_high::
	ld bc,#2047
	pop de
	ret

; NR43 for HL Hz: the noise generator clocked near 100 * f.
hz_to_nr43::
	ld a,h
	or l
	jr nz,1$
	ld a,#0xD7
	ret
1$:	push de
	ld bc,#0                ; from 32768 Hz the quotient is 0
	bit 7,h
	jr nz,8$
	ld d,h
	ld e,l
	srl h
	rr l
	ld bc,#5232
	add hl,bc
	ld a,l
	ld (q_div),a
	ld a,d                  ; the dividend's high byte below f: 8 bits do
	or a
	jr nz,9$
	ld a,h
	cp e
	jr c,9$
	ld hl,#0
	call udiv16
	jr 8$
9$:	ld l,h
	ld h,#0
	call udiv8
8$:	pop de
	ld h,#0                 ; the shift
2$:	ld a,b
	or a
	jr nz,3$
	ld a,c
	cp #15
	jr c,4$
3$:	inc bc
	srl b
	rr c
	inc h
	jr 2$
4$:	cp #2
	jr nc,5$
	xor a
	jr 6$
5$:	inc a
	srl a
6$:	ld l,a
	ld a,h
	cp #14
	jr c,7$
	ld a,#0xD7
	ret
7$:	swap a
	or l
	ret

