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
	.globl qvb_note_hz, qvb_note_period, qvb_note_x_pulse, qvb_note_x_wave

; Timer units (2 frames at 44100 Hz) are counted in 256ths; one interrupt at
; 256 Hz is 22050 / 256 units, exactly 22050 / 256.
UNITS_PER_CALL = 22050
EFFECT_INTERVAL = 368

; One channel's state (CH_SIZE bytes).
C_PTR = 0       ; 2: next byte to read
C_LOOP = 2      ; 2: loop mark, 0 = none
C_WAIT = 4      ; 2: ticks left; 0 = finished
C_REL = 6       ; release, detune, sweep, volume right and left follow the
C_DET = 7       ;   order of their opcodes 0x82..0x86
C_SWEEP = 8
C_VOLR = 9
C_VOLL = 10
C_KEYON = 11
C_PMODE = 12
C_PERIOD = 13   ; 2
C_VON = 15
C_VBASE = 16    ; 2
C_NF = 18       ; 3: effect frames since note-on (counts to delay + 1)
C_VTIMER = 21   ; saturates at 255
C_VTURNS = 22   ; saturates at 255
C_VRANGE = 23   ; 2
C_VDELTA = 25   ; 2
C_VOFF = 27     ; 2
C_VDELAY = 29   ; 2
C_VDEPTH = 31   ; depth, rate, step and growth follow their opcodes 0xA1..0xA4
C_VRATE = 32
C_VSTEP = 33
C_VGROWTH = 34
C_FREQ = 35     ; 2: the voice's frequency in Hz
C_TIMBRE = 37
C_TYPE = 38
C_LVLR = 39     ; the voice's levels
C_LVLL = 40
C_ENV = 41      ; last NRx2 (pulse, noise) or NR32 (wave) written
C_HW = 42       ; hardware channel 0..3
C_BASE = 43     ; low byte of its NRx1 register
C_TRIG = 44     ; 1: the next note must restart the channel
C_EMPTY = 45    ; 1: the wave slot chosen holds no wave
C_XLO = 46      ; last frequency register value
C_XHI = 47
C_PAN = 48      ; this channel's NR51 bits as last written
C_WTYPE = 49    ; what wave RAM holds: voice type (0 = nothing yet) ...
C_WSLOT = 50    ; ... and slot
C_DUTY = 51     ; NRx1 as last written
C_LASTR = 52    ; the track volumes of the last note ...
C_LASTL = 53
C_LASTNIB = 54  ; ... and the volume nibble they gave
C_LASTOK = 55   ; 1: those hold (NR51 is as they left it)
C_REP = 56      ; 16 repeat levels of 5 bytes: start (2), count, exit (2)
CH_SIZE = 136
MAX_CHANNELS = 4
MAX_STRIDE = 64                         ; intervals a tick's countdown moves at once
QUEUE_MAX = 120                         ; writes of one call, or of one channel's start

.macro FLD off
	ld hl,#off
	add hl,de
.endm

; One step of a restoring division: HL remainder, BC dividend bits shifting
; out at the top and quotient bits in at the bottom, DE divisor.
.macro DIVSTEP
	sla c
	rl b
	rl l
	rl h
	ld a,l
	sub e
	ld l,a
	ld a,h
	sbc d
	ld h,a
	jr nc,.+5
	add hl,de
	jr .+3
	inc c
.endm

	.area _DATA
q_chans:	.ds CH_SIZE * MAX_CHANNELS
q_eff:		.ds 3   ; 256ths of a unit until the effect frame, less 1
q_tick:		.ds 4   ; the same for the tick
q_tick_iv:	.ds 2
q_tick_on:	.ds 1
q_playing:	.ds 1
q_next:		.ds 3   ; the sooner countdown, less the calls since the last look
q_sync:		.ds 3   ; what it was at the last look
q_count:	.ds 1
q_nwaves:	.ds 1
q_waves:	.ds 2
q_song:		.ds 2
q_items:	.ds 2
q_jumped:	.ds 1
q_tmp:		.ds 1
q_note:		.ds 1
q_iter:		.ds 1
q_nr51:		.ds 1   ; NR51 as the queue leaves it
q_qptr:		.ds 2   ; where the next queued write goes
q_queue:	.ds 2 * QUEUE_MAX
q_prerun:	.ds 1   ; 1 while qvb_init runs the commands before each first note
q_skip:		.ds 2   ; ticks that can pass with no channel reading
q_owed:		.ds 2   ; ticks passed so, not yet taken off the waits
q_fastx:	.ds 1   ; 1: note_on left the frequency register in C_XLO/XHI
q_end:

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
	ld (hl),#<q_queue
	inc hl
	ld (hl),#>q_queue
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
; The first tick and effect frame come 92 units in; the countdowns run one
; call ahead (they reach zero a call before their time, when the work is
; done and its writes queued): 92 * 256 - 1 - UNITS_PER_CALL.
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
	jp next_look

qvb_stop::
	xor a
	ld (q_playing),a
	ld hl,#q_qptr           ; what was queued never sounds
	ld (hl),#<q_queue
	inc hl
	ld (hl),#>q_queue
	ld de,#q_chans
	ld a,(q_count)
	or a
	ret z
1$:	ld (q_iter),a
	call hw_silence
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
	ld hl,#CH_SIZE
	add hl,de
	ld d,h
	ld e,l
	ld a,(q_iter)
	dec a
	jr nz,1$
	jp flush

qvb_update::
	ld a,(q_qptr)
	cp #<q_queue
	call nz,flush
	ld hl,#q_next
	ld a,(hl)
	sub #<UNITS_PER_CALL
	ld (hl+),a
	ld a,(hl)
	sbc #>UNITS_PER_CALL
	ld (hl+),a
	ld a,(hl)
	sbc #0
	ld (hl),a
	ret nc
	push bc
	push de
	call due_now
	pop de
	pop bc
	ret

; The sooner countdown ran out: the time since the last look comes off both
; countdowns, what fell due runs, and the sooner of them is counted anew.
due_now:
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
; The next look: the sooner countdown (both are not negative now).
next_look:
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

; Runs what fell due, earliest first; at the same instant the effect frame
; runs before the tick.
run_due:
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
do_effect:
	call effect_frame
	ld hl,#q_eff+1
	ld a,(hl)
	add a,#<EFFECT_INTERVAL
	ld (hl+),a
	ld a,(hl)
	adc a,#>EFFECT_INTERVAL
	ld (hl),a
	jr run_due
do_tick:
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

;---------------------------------------------------------------- tick
; Ticks in which no channel reads only count: q_skip of them can pass so,
; and the waits are brought up to date (q_owed) at the next tick that reads.
tick:
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

tick_channel:
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
read_next:
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

cmd_low:
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

cmd_tempo:
	ld a,(bc)
	inc bc
	ld (q_tick_iv+1),a
	ld a,(bc)
	inc bc
	ld (q_tick_iv),a
	jr read_next

cmd_vib:
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

cmd_rep:
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
rep_break:
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
rep_end:
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

cmd_timbre:
	ld a,(bc)
	inc bc
	FLD C_TIMBRE
	ld (hl),a
	push bc
	call hw_timbre
	pop bc
	jp read_next

cmd_vtype:
	ld a,(bc)
	inc bc
	ld (q_tmp),a
	rlca
	and #1
	FLD C_PMODE
	ld (hl),a
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

cmd_end:
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
ch_finish:
	xor a
	FLD C_WAIT
	ld (hl+),a
	ld (hl),a
	FLD C_KEYON
	ld (hl),a
	FLD C_LVLR
	ld (hl+),a
	ld (hl),a
	jp hw_silence

; Before the song starts, a channel's leading commands (which take no time)
; run in qvb_init, so that its first tick only has its notes to play. The
; item that takes time, or ends the channel, is left to that tick.
prerun_stop:
	dec bc
	FLD C_PTR
	ld (hl),c
	inc hl
	ld (hl),b
	ret

it_note:
	ld a,(q_prerun)
	or a
	jr nz,prerun_stop
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
it_rest:
	ld a,(q_prerun)
	or a
	jr nz,prerun_stop
	call read_length
	push bc
	call rest_on
	pop bc
timed:
	FLD C_WAIT
	ld a,(hl+)
	or (hl)
	jp z,read_next
	FLD C_PTR
	ld (hl),c
	inc hl
	ld (hl),b
	ret

read_length:
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

note_on:
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
	call period_hz
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

rest_on:
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

;---------------------------------------------------------------- effect frame
effect_frame:
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

effect_channel:
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
	call period_hz
4$:	call store_freq
	call hw_frequency
vibrato:
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
vib_count:
	FLD C_NF
	inc (hl)
	ret nz
	inc hl
	inc (hl)
	ret nz
	inc hl
	inc (hl)
	ret
vib_armed:
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
vib_down:
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
vib_pitch:
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
	jr z,1$
	call clamp_period
	call period_hz
1$:	call store_freq
	jp hw_frequency

load_offset_range:
	FLD C_VRANGE
	ld a,(hl+)
	ld c,a
	ld b,(hl)
	FLD C_VOFF
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	ret

negate_delta:
	FLD C_VDELTA
	xor a
	sub (hl)
	ld (hl+),a
	ld a,#0
	sbc a,(hl)
	ld (hl),a
	ret

; turns = growth: turns = 0 and the bound grows by one.
grow_range:
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
drop_level:
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
add_s8:
	ld c,a
	rla
	sbc a,a
	ld b,a
	add hl,bc
	ret

sub_s8:
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
cmp_s16:
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
clamp_period:
	bit 7,h
	jr nz,1$
	ld a,h
	cp #0x10
	ret c
	ld hl,#4095
	ret
1$:	ld hl,#0
	ret

store_period:
	push hl
	FLD C_PERIOD
	pop bc
	ld (hl),c
	inc hl
	ld (hl),b
	ld h,b
	ld l,c
	ret

store_freq:
	push hl
	FLD C_FREQ
	pop bc
	ld (hl),c
	inc hl
	ld (hl),b
	ld h,b
	ld l,c
	ret

; The frequency of period HL: 55930 / HL, or 65535 for period 0.
period_hz:
	ld a,h
	or l
	jr nz,1$
	dec hl
	ret
1$:	push de
	ld d,h
	ld e,l
	ld bc,#55930
	ld hl,#0
	.rept 16
	DIVSTEP
	.endm
	ld h,b
	ld l,c
	pop de
	ret

; The frequency register of HL Hz on channel kind A (0 pulse: 131072 / f;
; 1 wave: 65536 / f), rounded to the nearest period, into BC. Below the
; channel's range it is 0, above 32767 Hz the top.
hz_to_x:
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
	jp c,x_low
	jr 1$
2$:	cp #32
	jp c,x_low
1$:	bit 7,d
	jp nz,x_high
	ld a,d                  ; dividend K + f / 2: its top bits start the
	rlca                    ; remainder, its low 12 bits go through BC
	rlca
	rlca
	and #7
	bit 0,c
	jr nz,3$
	add a,#0x20
	jr 4$
3$:	add a,#0x10
4$:	ld l,a
	ld h,#0
	ld b,d
	ld c,e
	sla c
	rl b
	sla c
	rl b
	sla c
	rl b
	ld a,c
	and #0xF0
	ld c,a
	.rept 12
	DIVSTEP
	.endm
	xor a                   ; x = 2048 - quotient
	sub c
	ld c,a
	ld a,#8
	sbc a,b
	ld b,a
	pop de
	ret
x_low:
	ld bc,#0
	pop de
	ret
x_high:
	ld bc,#2047
	pop de
	ret

; NR43 for HL Hz: the noise generator clocked near 100 * f.
hz_to_nr43:
	ld a,h
	or l
	jr nz,1$
	ld a,#0xD7
	ret
1$:	push de
	ld d,h
	ld e,l
	srl h
	rr l
	ld bc,#5232
	add hl,bc
	ld b,h
	ld c,l
	ld hl,#0
	.rept 16
	DIVSTEP
	.endm
	pop de
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

;---------------------------------------------------------------- hardware
; Writes A to the register reg bytes past the channel's NRx1 (queued).
.macro PUT reg
	push af
	FLD C_BASE
	ld a,(hl)
	add a,#reg
	ld c,a
	pop af
	call qput
.endm

; Register writes wait in a queue for the next call, which begins with
; them: events are worked out one call ahead, so the time they take never
; delays what is heard. In qvb_init and qvb_stop they go out at once.
; qput: A to register 0xFF00 + C; keeps A, BC, DE and HL.
qput:
	push hl
	push af
	ld a,(q_qptr)
	ld l,a
	ld a,(q_qptr+1)
	ld h,a
	ld (hl),c
	inc hl
	pop af
	ld (hl+),a
	push af
	ld a,l
	ld (q_qptr),a
	ld a,h
	ld (q_qptr+1),a
	pop af
	pop hl
	ret

; Writes the queue out; keeps DE.
flush:
	push bc
	ld a,(q_qptr)           ; B = entries: (end - start) / 2
	sub #<q_queue
	ld b,a
	ld a,(q_qptr+1)
	sbc #>q_queue
	rra
	rr b
	jr z,2$                 ; nothing queued
	ld hl,#q_queue
	ld a,l
	ld (q_qptr),a
	ld a,h
	ld (q_qptr+1),a
1$:	ld a,(hl+)
	ld c,a
	ld a,(hl+)
	ldh (c),a
	dec b
	jr nz,1$
2$:	pop bc
	ret

; Silences the channel and takes its DAC (first use of the channel).
hw_claim:
	FLD C_HW
	ld a,(hl)
	or a
	jr nz,1$
	xor a
	ld c,#0x10              ; pulse 1 without its sweep
	call qput
1$:	FLD C_HW
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

hw_silence:
	xor a
	FLD C_ENV
	ld (hl),a
	PUT 1
	ret

; The closest the channel comes to the voice's type and timbre.
hw_timbre:
	FLD C_HW
	ld a,(hl)
	cp #2
	jp z,load_wave
	ret nc
	FLD C_TYPE
	ld a,(hl)
	or a
	ld a,#0x80              ; a square: half the cycle
	jr z,1$
	FLD C_TIMBRE
	ld a,(hl)
	cp #8
	ld a,#0x80
	jr nc,1$
	ld a,(hl)
	ld c,a
	ld b,#0
	ld hl,#duties
	add hl,bc
	ld a,(hl)
1$:	ld b,a
	FLD C_DUTY
	ld a,b
	cp (hl)
	ret z
	ld (hl),a
	PUT 0
	ret

; Wave RAM from the sine or the chosen slot; the next note restarts the
; channel (at once when one sounds).
load_wave:
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
3$:	xor a
	ld c,#0x1A
	call qput
	ld c,#0x30
4$:	ld a,(hl+)
	call qput
	inc c
	ld a,c
	cp #0x40
	jr nz,4$
	ld a,#0x80
	ld c,#0x1A
	call qput
	FLD C_TRIG
	ld (hl),#1
	FLD C_KEYON
	ld a,(hl)
	or a
	ret z
	jp hw_note_on

; A = the louder level's top nibble; NR51 gets the sides that sound.
levels:
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
compute_x:
	FLD C_FREQ
	ld a,(hl+)
	ld h,(hl)
	ld l,a
	push hl
	FLD C_HW
	ld a,(hl)
	pop hl
	cp #3
	jr z,1$
	srl a
	call hz_to_x
	jr 2$
1$:	call hz_to_nr43
	ld c,a
	ld b,#0
2$:	FLD C_XLO
	ld (hl),c
	inc hl
	ld (hl),b
	ret

hw_note_on:
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
write_x:
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
wave_on:
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
wave_code:
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
; channel takes them at its next note.
hw_frequency:
	FLD C_ENV
	ld a,(hl)
	or a
	ret z
	call compute_x
	ld b,#0
	jp write_x

; A rest with release: the hardware envelope falls from the level sounding;
; the wave channel's level falls in the effect frames instead.
hw_release:
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

hw_wave_level:
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

hw_bases:	.db 0x11, 0x16, 0x1B, 0x20
hw_types:	.db 0, 0, 3, 2
pan_masks:	.db 0x11, 0x22, 0x44, 0x88
; Pulse timbres 0..7 (eighths low): 3 and 5 have no duty of their own.
duties:		.db 0x80, 0x00, 0x40, 0x40, 0x80, 0xC0, 0xC0, 0x00
; Envelope pace for a release of 0..15 a frame (16 and up: 1).
paces:		.db 7, 7, 7, 6, 4, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1
sine16:		.db 0x89, 0xAC, 0xDE, 0xEF, 0xFF, 0xEE, 0xDC, 0xA9
		.db 0x86, 0x53, 0x21, 0x10, 0x00, 0x11, 0x23, 0x56
