; The GBS file's entry points, first in the image at its load address:
; init at 0x0400, play at 0x0403.
	.module entry
	.globl _game_init, _game_play
	.area _CODE
	jp _game_init
	jp _game_play
