; Linked last: the song data follow the driver's code.
	.module song_end
	.area _CODE
qvb_song_data::
