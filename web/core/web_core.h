// The page's way into the core: plain C functions over WebAssembly memory,
// declared once for the module, its native tests and its fuzzer. The compile
// worker loads songs, exports assembler text and renders WAV samples with
// them; the audio worklet plays through a player whose sound it pulls.
// Results stay in the module until the next call of the same kind, and the
// page copies out what it keeps. Nothing throws past the boundary, and every
// argument is checked before use.
//
// Results: qvbw_load, qvbw_warnings, qvbw_render, qvbw_survey and
// qvbw_game_boy answer a QvbwStatus; qvbw_export_asm the exporter's own code
// (0 = converted); qvbw_player_new a player or null; the getters plain values
// (0, null or "" for an index out of range).
#pragma once

#include <cstdint>

enum QvbwStatus : int {
  QVBW_DONE = 1,
  QVBW_REFUSED = 0,        // the song: the reason is in qvbw_error_* and qvbw_diagnosis
  QVBW_NO_MEMORY = -1,
  QVBW_BAD_ARGUMENT = -2,  // a null pointer with bytes, a negative size, a value out of range
};

// One song playing in the audio worklet.
struct WebPlayer;

extern "C" {

// A song from file bytes (source or image), and what refused it.
int qvbw_load(const std::uint8_t* bytes, int size);
const std::uint8_t* qvbw_image();
int qvbw_image_size();
int qvbw_image_channels();
int qvbw_error_code();
int qvbw_error_line();
int qvbw_error_row();
const char* qvbw_diagnosis(const char* file);  // as the command-line tools print it
// The errors after the first one, in the text's order.
int qvbw_later_error_count();
int qvbw_later_error_line(int index);
int qvbw_later_error_row(int index);
const char* qvbw_later_diagnosis(int index, const char* file);

// The warnings qvbrender prints for a source.
int qvbw_warnings(const std::uint8_t* source, int size, const char* file);
int qvbw_warning_count();
int qvbw_warning_line(int i);
int qvbw_warning_row(int i);
const char* qvbw_warning_text(int i);

// Files made of an image: assembler text (in qvbw_text), a Game Boy ROM
// (kind 0) or GBS file (kind 1).
int qvbw_export_asm(const std::uint8_t* image, int size);
int qvbw_game_boy(const std::uint8_t* image, int size, int kind);
const std::uint8_t* qvbw_game_boy_bytes();
int qvbw_game_boy_size();
const char* qvbw_text();
int qvbw_text_size();

// A render to samples, and its figures as qvbrender reports them.
int qvbw_render(const std::uint8_t* image, int size, int lengthFrames, int loops, int fadeFrames);
const std::int16_t* qvbw_samples();
int qvbw_sample_frames();
int qvbw_render_end_frame();
int qvbw_render_intro_frame();
int qvbw_render_loop_frames();
int qvbw_render_finished();

// A survey: a render that keeps the sequencer's events (eight values each:
// kind, channel, frame, note, ticks, offset, line, row) and the passes of
// the song's loops (six values each), not the sound.
int qvbw_survey(const std::uint8_t* image, int size, int loops, int maxEvents);
const std::int32_t* qvbw_survey_events();
int qvbw_survey_event_count();
int qvbw_survey_truncated();
const std::int32_t* qvbw_survey_repeats();
int qvbw_survey_repeat_count();

// A pull player for the audio worklet.
WebPlayer* qvbw_player_new(const std::uint8_t* image, int size);
void qvbw_player_free(WebPlayer* web);
const std::int16_t* qvbw_player_fill(WebPlayer* web, int frames);
int qvbw_player_channels(const WebPlayer* web);
void qvbw_player_mute(WebPlayer* web, int channel, int muted);
const std::int32_t* qvbw_player_levels(WebPlayer* web);
int qvbw_player_loops(const WebPlayer* web);
int qvbw_player_finished(const WebPlayer* web);

}  // extern "C"
