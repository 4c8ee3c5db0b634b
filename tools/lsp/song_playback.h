// A song played through the language server: the player's session (one
// output kept open, every start a fresh player run silently to its frame) on
// the platform the program chose, from a frame, or round a section from A
// to B as qvbplay's a-b marks repeat it; and what is heard now, channel by
// channel, as the places in the text of the notes sounding. Everything here
// runs on the server's loop; the sound runs on the output's own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lsp/song_document.h"
#include "sound/audio_platform.h"

namespace qvb {
class PlaySession;
}

namespace qvb::lsp {

struct HeardNote {
  int channel = 0;
  std::size_t line = 0, start = 0, end = 0;  // the note's text: a 0-based line and its bytes
  bool operator==(const HeardNote&) const = default;
};

struct HeardNow {
  std::string uri;
  std::int64_t frame = 0;
  double seconds = 0;
  std::vector<HeardNote> notes;  // by channel; none for a rest or a song that ended
};

class SongPlayback {
 public:
  explicit SongPlayback(AudioPlatform& platform);
  ~SongPlayback();
  SongPlayback(const SongPlayback&) = delete;
  SongPlayback& operator=(const SongPlayback&) = delete;

  // Plays the document's song (it must have loaded) from the frame, again
  // from there each time it reaches sectionEnd (-1: no section); what played
  // before is replaced. False, with the reason in error(), when no output opened.
  bool play(const SongDocument& document, std::string uri, std::int64_t from, std::int64_t sectionEnd = -1);
  void stop();
  bool playing() const { return session_ != nullptr; }
  const std::string& uri() const { return uri_; }
  const std::string& error() const { return error_; }

  // What is heard, when it changed since the last call (a song that ended
  // is stopped, and heard as nothing).
  std::optional<HeardNow> poll();

 private:
  AudioPlatform& platform_;
  std::unique_ptr<PlaySession> session_;
  std::string uri_, error_;
  std::int64_t sectionStart_ = -1, sectionEnd_ = -1;
  std::optional<std::vector<HeardNote>> last_;
};

}  // namespace qvb::lsp
