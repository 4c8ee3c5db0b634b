// What qvbplay shows: a model filled from the session each refresh, and the
// text made of it. On a terminal every line is cut to its width (down to a
// very narrow one); without one the program writes plain lines of events.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "loader/song_loader.h"
#include "play/play_session.h"
#include "play/song_beats.h"

namespace qvb {

struct DisplayModel {
  std::string file;
  std::string title;
  int sampleRate = 44100;
  std::int64_t position = 0;
  SongFigures figures;
  std::int64_t tick = -1;  // sounding at the place shown (a loop folded as the time is); -1 unknown
  int loopsHeard = 0;
  int loopsWanted = 0;  // 0: for ever
  std::int32_t tickInterval = 0;
  std::int64_t underruns = -1;  // the device's, shown when 0 or more (--verbose)
  bool paused = false;
  bool soloPending = false;
  bool watching = false;
  std::string watchNote;  // "reloaded 12:03:41", "file gone": the last thing the watch saw
  bool ended = false;     // the song finished and the player waits
  std::int64_t sectionStart = -1, sectionEnd = -1;  // the a and b marks; -1 unset
  int cursor = -1;        // the channel the up and down keys picked; -1 = none
  struct {
    bool known = false;  // the picked channel's place in the source
    std::string line;
    std::int32_t lineNumber = 0, row = 0;
  } source;
  std::vector<ChannelView> channels;
  std::vector<std::string> problem;  // the last compile error and its place, when there is one
};

// "1:05.3": minutes, seconds and tenths; "-" for an unknown (negative) length.
std::string clockText(std::int64_t frames, int sampleRate);
// A note as the source spells it, octave * 12 + semitone: 60 is "c5" (o5 c),
// 69 "a5" (440 Hz); "-" for -1.
std::string noteName(int note);
// "interval 183, 150.6 bpm": the tick interval and the quarter notes a minute
// it gives, to a tenth (a quarter note is 48 ticks; the song's timing does
// not follow the output's rate).
std::string tempoText(std::int32_t tickInterval);
// Where a song that loops for ever is within its intro and loop: a position
// past the first loop is folded back into the loop.
std::int64_t songPlace(std::int64_t position, const SongFigures& figures);

// A refused song in words: the diagnosis line (with the channel letter when
// the error lies in a channel) and, for a compile error, the source line and
// a caret under the row; then the same for every later error.
std::vector<std::string> problemLines(const LoadedSong& song, const std::string& file,
                                      std::span<const std::uint8_t> source);

// The screen, one string per line, none longer than width characters, the
// control bytes of a title, a file name or a source line shown as escapes.
std::vector<std::string> screenLines(const DisplayModel& model, int width);

}  // namespace qvb
