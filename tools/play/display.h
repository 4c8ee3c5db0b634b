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

namespace qvb {

struct DisplayModel {
  std::string file;
  std::string title;
  int sampleRate = 44100;
  std::int64_t position = 0;
  SongFigures figures;
  int loopsHeard = 0;
  int loopsWanted = 0;  // 0: for ever
  std::int32_t tickInterval = 0;
  bool paused = false;
  bool soloPending = false;
  bool watching = false;
  std::vector<ChannelView> channels;
  std::vector<std::string> problem;  // the last compile error and its place, when there is one
};

// "1:05.3": minutes, seconds and tenths; "-" for an unknown (negative) length.
std::string clockText(std::int64_t frames, int sampleRate);
// "c4", "f#5", "-" for -1.
std::string noteName(int note);
// Quarter notes a minute at a tick interval (a quarter note is 48 ticks;
// the song's timing does not follow the output's rate).
int beatsPerMinute(std::int32_t tickInterval);

// A refused song in words: the diagnosis line (with the channel letter when
// the error lies in a channel) and, for a compile error, the source line and
// a caret under the row.
std::vector<std::string> problemLines(const SongDiagnosis& diagnosis, const std::string& file,
                                      std::span<const std::uint8_t> source);

// The screen, one string per line, none longer than width characters, the
// control bytes of a title, a file name or a source line shown as escapes.
std::vector<std::string> screenLines(const DisplayModel& model, int width);

}  // namespace qvb
