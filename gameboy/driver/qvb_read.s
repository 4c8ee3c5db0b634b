;; The qvb sound driver's tick: each channel's wait runs down, and a channel
;; whose wait ran out reads its track items (notes, rests and commands) until
;; one takes time or the channel ends.

	.module qvb_read
	.include "qvb_driver.inc"

	.area _CODE
;---------------------------------------------------------------- tick
; Ticks in which no channel reads only count: q_skip of them can pass so,
; and the waits are brought up to date (q_owed) at the next tick that reads.
tick::
	ld hl,#q_skip
	ld a,(hl+)
	or (hl)
	jr z,1$
	dec hl
	ld a,(hl)
	sub #1
	ld (hl+),a
	ld a,(hl)
	sbc #0
	ld (hl+),a
	inc (hl)                ; q_owed follows
	ret nz
	inc hl
	inc (hl)
	ret
1$:	ld de,#q_chans
	ld a,(q_count)
	or a
	ret z
2$:	ld (q_iter),a
	call tick_channel
	ld hl,#CH_SIZE
	add hl,de
	ld d,h
	ld e,l
	ld a,(q_iter)
	dec a
	jr nz,2$
	ld hl,#q_owed
	xor a
	ld (hl+),a
	ld (hl),a
	; the least wait less one, over the channels still playing
	ld bc,#0xFFFF
	ld de,#q_chans + C_WAIT
	ld a,(q_count)
3$:	ld (q_iter),a
	ld a,(de)
	ld l,a
	inc de
	ld a,(de)
	dec de
	ld h,a
	or l
	jr z,4$
	dec hl
	ld a,l
	sub c
	ld a,h
	sbc a,b
	jr nc,4$
	ld b,h
	ld c,l
4$:	ld hl,#CH_SIZE
	add hl,de
	ld d,h
	ld e,l
	ld a,(q_iter)
	dec a
	jr nz,3$
	ld hl,#q_skip
	ld (hl),c
	inc hl
	ld (hl),b
	ret

tick_channel::
	FLD C_WAIT
	ld a,(hl+)
	ld c,a
	ld b,(hl)
	or b
	ret z
	ld a,(q_owed)           ; the ticks that only counted, and this one
	cpl
	ld l,a
	ld a,(q_owed+1)
	cpl
	ld h,a
	add hl,bc               ; wait - owed - 1
	ld b,h
	ld c,l
	FLD C_WAIT
	ld (hl),c
	inc hl
	ld (hl),b
	ld a,b
	or c
	ret nz
	xor a
	ld (q_jumped),a
	ld (q_items),a
	ld (q_items+1),a
	FLD C_PTR
	ld a,(hl+)
	ld c,a
	ld b,(hl)
; BC: the read position. Every item counts against a budget of 65536 a tick.
read_next::
	ld hl,#q_items
	inc (hl)
	jr nz,1$
	inc hl
	inc (hl)
	jp z,ch_finish
1$:	ld a,(bc)
	inc bc
	bit 7,a
	jp z,it_note
	cp #0x80
	jp z,it_rest
	cp #0x87
	jr c,cmd_low
	cp #0x90
	jr z,cmd_tempo
	sub #0xA0
	jp c,cmd_end
	cp #5
	jr c,cmd_vib
	sub #0x40
	jp c,cmd_end
	cp #4
	jr c,cmd_rep
	cp #0xFD - 0xE0
	jp z,cmd_timbre
	cp #0xFE - 0xE0
	jp z,cmd_vtype
	jp cmd_end

cmd_low::
	cp #0x81
	jr z,1$
	sub #0x82 - C_REL
	ld l,a
	ld h,#0
	add hl,de
	ld a,(bc)
	inc bc
	ld (hl),a
	jr read_next
1$:	ld a,(bc)       ; VOLUME: both sides
	inc bc
	FLD C_VOLR
	ld (hl+),a
	ld (hl),a
	jr read_next

cmd_tempo::
	ld a,(bc)
	inc bc
	ld (q_tick_iv+1),a
	ld a,(bc)
	inc bc
	ld (q_tick_iv),a
	jr read_next

cmd_vib::
	or a
	jr nz,2$
	FLD C_VDELAY    ; VIBRATO_DELAY: big-endian operand
	inc hl
	ld a,(bc)
	inc bc
	ld (hl-),a
	ld a,(bc)
	inc bc
	ld (hl+),a
	or (hl)
	jr z,1$
	ld a,#1
1$:	FLD C_VON
	ld (hl),a
	jp read_next
2$:	add a,#C_VDEPTH - 1
	ld l,a
	ld h,#0
	add hl,de
	ld a,(bc)
	inc bc
	ld (hl),a
	jp read_next

cmd_rep::
	or a
	jr nz,1$
	FLD C_LOOP      ; LOOP_MARK
	ld (hl),c
	inc hl
	ld (hl),b
	jp read_next
1$:	ld (q_tmp),a    ; 1 start, 2 break, 3 end
	ld a,(bc)
	inc bc
	cp #16
	jr c,2$
	ld a,(q_tmp)    ; a level without a slot: the item is skipped
	dec a
	jp nz,read_next
	inc bc
	jp read_next
2$:	ld l,a
	add a,a
	add a,a
	add a,l
	add a,#C_REP
	ld l,a
	ld h,#0
	add hl,de
	ld a,(q_tmp)
	cp #2
	jr z,rep_break
	jr nc,rep_end
	ld a,(bc)       ; REPEAT_START: count, start after the operands, no exit
	inc bc
	ld (q_tmp),a
	ld (hl),c
	inc hl
	ld (hl),b
	inc hl
	ld a,(q_tmp)
	ld (hl+),a
	xor a
	ld (hl+),a
	ld (hl),a
	jp read_next
rep_break::
	inc hl
	inc hl
	ld a,(hl+)
	dec a
	jp nz,read_next         ; not the last pass
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	or h
	jp z,read_next          ; no exit recorded yet
	ld b,h
	ld c,l
	jp read_next
rep_end::
	inc hl
	inc hl
	push hl
	inc hl
	ld (hl),c
	inc hl
	ld (hl),b
	pop hl
	ld a,(hl)
	or a
	jp z,read_next          ; a count of 0 plays the body once
	dec a
	ld (hl),a
	jp z,read_next
	dec hl
	ld a,(hl-)
	ld b,a
	ld c,(hl)
	jp read_next

cmd_timbre::
	ld a,(bc)
	inc bc
	FLD C_TIMBRE
	ld (hl),a
	push bc
	call hw_timbre
	pop bc
	jp read_next

cmd_vtype::
	ld a,(bc)
	inc bc
	ld (q_tmp),a
	rlca
	and #1
	FLD C_PMODE
	cp (hl)
	ld (hl),a
	call c,leave_period_mode
	ld a,(q_tmp)
	and #0x0F
	cp #5
	jr nc,3$                ; no such type: only the phase restarts
	FLD C_TYPE
	ld (hl),a
	cp #1
	jr nz,1$
	ld a,#3                 ; a pulse starts at timbre 3
	jr 2$
1$:	cp #4
	jr nz,3$
	xor a                   ; a wave starts at slot 0
2$:	FLD C_TIMBRE
	ld (hl),a
3$:	push bc
	call hw_timbre
	pop bc
	jp read_next

; In period mode C_FREQ holds the period: out of it, its frequency.
leave_period_mode::
	push bc
	FLD C_FREQ
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	call period_hz
	call store_freq
	pop bc
	ret

cmd_end::
	ld a,(q_prerun)
	or a
	jr nz,prerun_stop
	ld a,(q_jumped)
	or a
	jr nz,ch_finish         ; a second END in one reading: nothing takes time
	FLD C_LOOP
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	or h
	jr z,ch_finish
	ld b,h
	ld c,l
	ld a,#1
	ld (q_jumped),a
	jp read_next
ch_finish::
	xor a
	FLD C_WAIT
	ld (hl+),a
	ld (hl),a
	FLD C_KEYON
	ld (hl),a
	ld a,(q_wpend)
	or a
	call nz,wave_now
	xor a
	FLD C_LVLR
	ld (hl+),a
	ld (hl),a
	jp hw_silence

; Before the song starts, a channel's leading commands (which take no time)
; run in qvb_init, so that its first tick only has its notes to play. The
; item that takes time, or ends the channel, is left to that tick.
prerun_stop::
	dec bc
	ld a,(q_wpend)
	or a
	call nz,wave_now
	FLD C_PTR
	ld (hl),c
	inc hl
	ld (hl),b
	ret

it_note::
	ld a,(q_prerun)
	or a
	jr nz,prerun_stop
	ld a,(q_wpend)
	or a
	call nz,wave_for_note
	dec bc
	ld a,(bc)
	inc bc
	ld (q_note),a
	call read_length
	push bc
	ld a,(q_note)
	call note_on
	pop bc
	jr timed
it_rest::
	ld a,(q_prerun)
	or a
	jr nz,prerun_stop
	ld a,(q_wpend)
	or a
	call nz,wave_now
	call read_length
	push bc
	call rest_on
	pop bc
timed::
	FLD C_WAIT
	ld a,(hl+)
	or (hl)
	jp z,read_next
	FLD C_PTR
	ld (hl),c
	inc hl
	ld (hl),b
	ret

read_length::
	FLD C_WAIT
	ld a,(bc)
	inc bc
	cp #0xFF
	jr z,1$
	ld (hl+),a
	ld (hl),#0
	ret
1$:	inc hl
	ld a,(bc)
	inc bc
	ld (hl-),a
	ld a,(bc)
	inc bc
	ld (hl),a
	ret

note_on::
	ld l,a
	ld h,#0
	add hl,hl
	push hl
	FLD C_PMODE
	ld a,(hl)
	or a
	jr nz,1$
	FLD C_DET
	ld a,(hl)
	or a
	jr nz,3$
	FLD C_HW                ; no detune: the register from a table
	ld a,(hl)
	cp #3
	jr z,3$
	cp #2
	pop hl
	push hl
	ld bc,#qvb_note_x_pulse
	jr nz,4$
	ld bc,#qvb_note_x_wave
4$:	add hl,bc
	ld a,(hl+)
	ld b,(hl)
	ld c,a
	FLD C_XLO
	ld (hl),c
	inc hl
	ld (hl),b
	ld a,#1
	ld (q_fastx),a
3$:	pop hl
	ld bc,#qvb_note_hz
	add hl,bc
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	push hl
	FLD C_DET
	ld a,(hl)
	pop hl
	call add_s8
	jr 2$
1$:	pop hl
	ld bc,#qvb_note_period
	add hl,bc
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	push hl
	FLD C_DET
	ld a,(hl)
	pop hl
	call sub_s8
	call clamp_period
	call store_period
2$:	call store_freq
	FLD C_VOLR
	ld a,(hl+)
	ld c,(hl)
	FLD C_LVLR
	ld (hl+),a
	ld (hl),c
	FLD C_KEYON
	ld (hl),#1
	FLD C_NF
	xor a
	ld (hl+),a
	ld (hl+),a
	ld (hl),a
	jp hw_note_on

rest_on::
	FLD C_KEYON
	ld (hl),#0
	FLD C_REL
	ld a,(hl)
	or a
	jp nz,hw_release
	FLD C_LVLR
	xor a
	ld (hl+),a
	ld (hl),a
	jp hw_silence

