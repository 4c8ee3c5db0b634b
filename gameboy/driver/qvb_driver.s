; qvb sound driver for the Game Boy: plays a song's track commands on the
; console's sound hardware with the timing of the qvb sequencer.
;
; Interface (qvb_init and qvb_stop change AF, BC, DE and HL):
;   qvb_init    HL = song data (made by qvbgb). Turns the sound on and the
;               song's channels silent; the song starts at once.
;   qvb_update  call once per timer interrupt at 256 Hz: TAC = 0x04 (4096 Hz)
;               and TMA = 0xF0. Ticks and effect frames fall due on an exact
;               accumulator, so nothing drifts. Changes only AF and HL.
;   qvb_stop    silences the song's channels; qvb_update then does nothing.
; Call qvb_init and qvb_stop with the timer interrupt off (or from it).
; The driver writes only the registers of the channels the song uses, their
; bits of NR51, NR10 when pulse 1 is used, NR50 and NR52 in qvb_init,
; and wave RAM when the wave channel is used. RAM: the _DATA area below.
;
; Song data: u8 channel count (0..4), u8 wave count, per channel u8 hardware
; channel (0 pulse 1, 1 pulse 2, 2 wave, 3 noise) and u16 offset of its track
; block from the start of the data; per wave u8 slot and 16 bytes of 4-bit
; samples; then the blocks. Every block ends with an END that no item can
; cross, so reading never leaves it.

	.module qvb_driver
	.include "qvb_driver.inc"

	.area _DATA
q_chans::	.ds CH_SIZE * MAX_CHANNELS
q_eff::		.ds 3   ; 256ths of a unit until the effect frame, less 1
q_tick::		.ds 4   ; the same for the tick
q_tick_iv::	.ds 2
q_tick_on::	.ds 1
q_playing::	.ds 1
q_next::		.ds 3   ; the sooner countdown, less the calls since the last look
q_sync::		.ds 3   ; what it was at the last look
q_count::	.ds 1
q_nwaves::	.ds 1
q_waves::	.ds 2
q_song::		.ds 2
q_items::	.ds 2
q_jumped::	.ds 1
q_tmp::		.ds 1
q_note::		.ds 1
q_iter::		.ds 1
q_nr51::		.ds 1   ; NR51 as the queue leaves it
q_qptr::		.ds 2   ; where the next queued write goes
q_fbase::	.ds 2   ; the queue this call fills, written out two calls on
q_obase::	.ds 2   ; the other queue, filled the call before ...
q_oend::		.ds 2   ; ... up to here
q_queue_a::	.ds 2 * QUEUE_MAX
q_queue_b::	.ds 2 * QUEUE_MAX
q_defer::	.ds 1   ; 1: events that fell due wait for the next call
q_limited::	.ds 1   ; 1: a call stops taking events once it has worked a while
q_work::		.ds 1   ; 0: no queue holds writes and no event waits
q_prerun::	.ds 1   ; 1 while qvb_init runs the commands before each first note
q_skip::		.ds 2   ; ticks that can pass with no channel reading
q_owed::		.ds 2   ; ticks passed so, not yet taken off the waits
q_fastx::	.ds 1   ; 1: note_on left the frequency register in C_XLO/XHI
q_wpend::	.ds 1   ; 1: the wave channel's wave waits for its item that takes time
q_wsrc_a::	.ds 2   ; the 16 bytes queue A's wave RAM entry copies
q_wsrc_b::	.ds 2   ; the same for queue B
q_div::		.ds 2   ; the division's low dividend byte, then its quotient's high byte
q_regs::		.ds 2 * REG_SLOTS ; squeeze: per register, written? and its last value
q_end::

	.area _CODE
;---------------------------------------------------------------- interface
qvb_init::
	push hl
	xor a
	ld hl,#q_chans
	ld bc,#q_end - q_chans
1$:	ld (hl+),a
	dec c
	jr nz,1$
	dec b
	bit 7,b
	jr z,1$
	ld a,#<EFFECT_INTERVAL  ; the tick starts at the effect frame's rate
	ld (q_tick_iv),a
	ld a,#>EFFECT_INTERVAL
	ld (q_tick_iv+1),a
	ld hl,#q_qptr
	ld a,#<q_queue_a
	ld (hl+),a
	ld a,#>q_queue_a
	ld (hl+),a
	ld a,#<q_queue_a        ; q_fbase
	ld (hl+),a
	ld a,#>q_queue_a
	ld (hl+),a
	ld a,#<q_queue_b        ; q_obase, q_oend
	ld (hl+),a
	ld a,#>q_queue_b
	ld (hl+),a
	ld a,#<q_queue_b
	ld (hl+),a
	ld (hl),#>q_queue_b
	pop hl
	ld a,l
	ld (q_song),a
	ld a,h
	ld (q_song+1),a
	ld a,#0x80
	ldh (0x26),a
	ld a,#0x77
	ldh (0x24),a
	ldh a,(0x25)
	ld (q_nr51),a
	ld a,(hl+)
	cp #MAX_CHANNELS + 1
	jr c,2$
	xor a
2$:	ld (q_count),a
	ld a,(hl+)
	ld (q_nwaves),a
	ld a,(q_count)
	ld c,a
	add a,a
	add a,c
	ld c,a
	ld b,#0
	push hl
	add hl,bc
	ld a,l
	ld (q_waves),a
	ld a,h
	ld (q_waves+1),a
	pop hl
	ld de,#q_chans
	ld a,(q_count)
	or a
	jr z,9$
3$:	ld (q_iter),a
	ld a,(hl+)
	and #3
	push hl
	FLD C_HW
	ld (hl+),a
	ld c,a
	ld b,#0
	ld hl,#hw_bases
	add hl,bc
	ld a,(hl)
	FLD C_BASE
	ld (hl),a
	ld hl,#hw_types
	add hl,bc
	ld a,(hl)
	FLD C_TYPE
	ld (hl),a
	FLD C_WAIT
	ld (hl),#1
	pop hl
	ld a,(hl+)
	ld c,a
	ld a,(hl+)
	ld b,a
	push hl
	ld a,(q_song)
	ld l,a
	ld a,(q_song+1)
	ld h,a
	add hl,bc
	ld b,h
	ld c,l
	FLD C_PTR
	ld (hl),c
	inc hl
	ld (hl),b
	call hw_claim
	ld a,#1
	ld (q_prerun),a
	FLD C_PTR
	ld a,(hl+)
	ld c,a
	ld b,(hl)
	xor a
	ld (q_items),a
	ld (q_items+1),a
	call read_next
	xor a
	ld (q_prerun),a
	call flush
	pop hl
	push hl
	ld hl,#CH_SIZE
	add hl,de
	ld d,h
	ld e,l
	pop hl
	ld a,(q_iter)
	dec a
	jr nz,3$
; The first tick and effect frame come 92 units in; the countdowns run two
; calls ahead (they reach zero two calls before their time, when the work
; is done and its writes queued), counting qvb_init as the call before the
; first: 92 * 256 - 1 - UNITS_PER_CALL before its share comes off.
9$:	ld hl,#q_eff
	ld a,#<(92 * 256 - 1 - UNITS_PER_CALL)
	ld (hl+),a
	ld a,#>(92 * 256 - 1 - UNITS_PER_CALL)
	ld (hl+),a
	xor a
	ld (hl+),a
	ld a,#<(92 * 256 - 1 - UNITS_PER_CALL)
	ld (hl+),a
	ld a,#>(92 * 256 - 1 - UNITS_PER_CALL)
	ld (hl+),a
	xor a
	ld (hl+),a
	ld (hl+),a
	inc hl          ; q_tick_iv: set before the channels' first commands ran
	inc hl
	ld a,#1
	ld (hl+),a      ; q_tick_on
	ld (hl),a       ; q_playing
	call next_look
; qvb_init is the call before the first: the first notes are worked out
; now, and go out two calls on.
	call count_call
	ld a,#1
	ld (q_limited),a
	ret

qvb_stop::
	xor a
	ld (q_playing),a
	ld (q_defer),a
	ld a,(q_fbase)          ; what was queued never sounds
	ld (q_qptr),a
	ld a,(q_fbase+1)
	ld (q_qptr+1),a
	ld a,(q_obase)
	ld (q_oend),a
	ld a,(q_obase+1)
	ld (q_oend+1),a
	ld de,#q_chans
	ld a,(q_count)
	or a
	ret z
1$:	ld (q_iter),a
	call hw_silence
	call hw_unpan
	ld hl,#CH_SIZE
	add hl,de
	ld d,h
	ld e,l
	ld a,(q_iter)
	dec a
	jr nz,1$
	jp flush

qvb_update::
	ld a,(q_work)
	or a
	jr z,count_call
	ld a,(q_oend)           ; first the writes worked out two calls ago
	ld hl,#q_obase
	sub (hl)
	call nz,flush_old
	ld a,(q_defer)
	or a
	jr z,1$
	push bc                 ; then what the last call left: its writes
	push de                 ; go out with the last call's
	call finish_due
	pop de
	pop bc
1$:	ld a,(q_qptr)
	ld hl,#q_fbase
	cp (hl)
	call nz,swap_queues     ; (both empty, they need no swap)
	ld a,(q_oend)           ; work left for the next call: those writes
	ld hl,#q_obase
	sub (hl)
	ld (q_work),a
count_call::
	ld hl,#q_next
	ld a,(hl)
	sub #<UNITS_PER_CALL
	ld (hl+),a
	ld a,(hl)
	sbc #>UNITS_PER_CALL
	ld (hl+),a
	ret nc                  ; no borrow: the top byte stands, not negative
	ld a,(hl)
	sub #1
	ld (hl),a
	ret nc
	push bc
	push de
	ld a,#1
	ld (q_work),a
	call due_now
	pop de
	pop bc
	ret

; The sooner countdown ran out: the time since the last look comes off both
; countdowns, what fell due runs, and the sooner of them is counted anew.
due_now::
	ld a,(q_playing)
	or a
	jr nz,1$
	ld a,#0x7F              ; stopped: put the next look far away
	ld (q_next+2),a
	ret
1$:	ld hl,#q_sync           ; CBE = elapsed = sync - next
	ld de,#q_next
	ld a,(de)
	ld c,(hl)
	inc hl
	inc de
	ld b,a
	ld a,c
	sub b
	ld c,a
	ld a,(de)
	ld b,a
	ld a,(hl+)
	inc de
	sbc a,b
	ld b,a
	ld a,(de)
	ld e,a
	ld a,(hl)
	sbc a,e
	ld e,a
	ld hl,#q_eff
	ld a,(hl)
	sub c
	ld (hl+),a
	ld a,(hl)
	sbc a,b
	ld (hl+),a
	ld a,(hl)
	sbc a,e
	ld (hl+),a
	ld a,(hl)               ; q_tick follows
	sub c
	ld (hl+),a
	ld a,(hl)
	sbc a,b
	ld (hl+),a
	ld a,(hl)
	sbc a,e
	ld (hl+),a
	ld a,(hl)
	sbc a,#0
	ld (hl),a
	call run_due
	ld a,(q_defer)
	or a
	ret nz
; The next look: the sooner countdown (both are not negative now).
next_look::
	ld hl,#q_eff
	ld a,(q_tick_on)
	or a
	jr z,2$
	ld a,(q_tick+3)
	or a
	jr nz,2$
	ld de,#q_tick+2
	ld hl,#q_eff+2
	ld a,(de)
	cp (hl)
	jr c,1$
	jr nz,3$
	dec de
	dec hl
	ld a,(de)
	cp (hl)
	jr c,1$
	jr nz,3$
	dec de
	dec hl
	ld a,(de)
	cp (hl)
	jr c,1$
3$:	ld hl,#q_eff
	jr 2$
1$:	ld hl,#q_tick
2$:	ld de,#q_next
	ld a,(hl+)
	ld (de),a
	ld (q_sync),a
	inc de
	ld a,(hl+)
	ld (de),a
	ld (q_sync+1),a
	inc de
	ld a,(hl)
	ld (de),a
	ld (q_sync+2),a
	ret

; The events the last call left, all of them, before this call's own.
finish_due::
	xor a
	ld (q_defer),a
	ld (q_limited),a
	call run_due
	ld a,#1
	ld (q_limited),a
	jp next_look

; The queue just written out takes this call's writes; the other one waits
; with the last call's. Keeps BC and DE.
swap_queues::
	ld a,(q_qptr)
	ld (q_oend),a
	ld a,(q_qptr+1)
	ld (q_oend+1),a
	ld a,(q_fbase)
	cp #<q_queue_a
	jr nz,1$
	ld a,(q_fbase+1)
	cp #>q_queue_a
	jr nz,1$
	ld hl,#q_queue_b
	jr 2$
1$:	ld hl,#q_queue_a
2$:	ld a,(q_fbase)          ; the other queue is the one filled until now
	ld (q_obase),a
	ld a,(q_fbase+1)
	ld (q_obase+1),a
	ld a,l
	ld (q_fbase),a
	ld (q_qptr),a
	ld a,h
	ld (q_fbase+1),a
	ld (q_qptr+1),a
	ret

; Before each event (BUDGET): once the timer is BUDGET_STEPS past its
; reload (at TMA = 0xF0), an event started now could run into the next call;
; with carry, the events left wait for it (their writes still go out in
; time). Only calls from the timer interrupt are so limited.
over_budget::
	ld a,(q_limited)
	rra
	ret
defer_rest::
	ld a,#1
	ld (q_defer),a
	ret

; Runs what fell due, earliest first; at the same instant the effect frame
; runs before the tick.
run_due::
	ld a,(q_eff+2)
	ld b,a
	ld a,(q_tick_on)
	or a
	jr z,1$
	ld a,(q_tick+3)
	bit 7,a
	jr z,1$
	bit 7,b
	jr z,do_tick
	; both due: the tick first only if it fell due earlier
	ld hl,#q_eff
	ld de,#q_tick
	ld a,(de)
	sub (hl)
	inc hl
	inc de
	ld a,(de)
	sbc a,(hl)
	inc hl
	inc de
	ld a,(de)
	sbc a,(hl)
	inc de
	ld a,(de)
	sbc #0xFF               ; the effect count's top byte, negative here
	rla
	jr c,do_tick
	jr do_effect
1$:	bit 7,b
	ret z
do_effect::
	BUDGET
	call effect_frame
	ld hl,#q_eff+1
	ld a,(hl)
	add a,#<EFFECT_INTERVAL
	ld (hl+),a
	ld a,(hl)
	adc a,#>EFFECT_INTERVAL
	ld (hl),a
	jr run_due
do_tick::
	BUDGET
	call tick
	ld a,(q_tick_iv)
	ld c,a
	ld a,(q_tick_iv+1)
	ld b,a
	or c
	jr nz,1$
	ld (q_tick_on),a        ; interval 0 stops the ticks
	jr run_due
	; The ticks in which no channel reads are stepped over: the countdown
	; moves on by m intervals at once (m up to MAX_STRIDE), m - 1 of them
	; owed to the waits. When every channel has finished, no tick matters.
1$:	ld hl,#q_skip
	ld a,(hl+)
	and (hl)
	inc a
	jr nz,2$
	ld (q_tick_on),a
	jr run_due
2$:	ld a,(hl-)              ; m - 1 = min(skip, MAX_STRIDE - 1)
	or a
	ld a,#MAX_STRIDE - 1
	jr nz,3$
	ld a,(hl)
	cp #MAX_STRIDE - 1
	jr c,3$
	ld a,#MAX_STRIDE - 1
3$:	ld e,a
	ld a,(hl)               ; skip -= m - 1
	sub e
	ld (hl+),a
	ld a,(hl)
	sbc #0
	ld (hl+),a
	ld a,(hl)               ; owed += m - 1 (q_owed follows)
	add a,e
	ld (hl+),a
	ld a,(hl)
	adc #0
	ld (hl),a
	inc e                   ; AHL = interval * m, over m's 7 bits from the top
	sla e
	ld d,#7
	xor a
	ld h,a
	ld l,a
4$:	add hl,hl
	rla
	sla e
	jr nc,5$
	add hl,bc
	adc a,#0
5$:	dec d
	jr nz,4$
	ld b,a
	ld a,l
	ld de,#q_tick+1
	ld a,(de)
	add a,l
	ld (de),a
	inc de
	ld a,(de)
	adc a,h
	ld (de),a
	inc de
	ld a,(de)
	adc a,b
	ld (de),a
	jp run_due

