#include "lsp/song_playback.h"

#include <utility>

#include "lsp/song_tokens.h"
#include "play/play_session.h"

namespace qvb::lsp {

SongPlayback::SongPlayback(AudioPlatform& platform) : platform_(platform) {}
SongPlayback::~SongPlayback() = default;

bool SongPlayback::play(const SongDocument& document, std::string uri, std::int64_t from, std::int64_t sectionEnd) {
  // One session for every play: its output stays open and its song is replaced.
  if (!session_) session_ = std::make_unique<PlaySession>(platform_, 0);
  if (!session_->outputRunning()) {
    session_.reset();
    error_ = "no sound output could be opened";
    return false;
  }
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < document.lines().lineCount(); ++i) lines.emplace_back(document.lines().line(i));
  const LoadedSong& song = document.song();
  if (!session_->open(song.image, from, song.map, std::move(lines))) {
    session_.reset();
    error_ = "the player refused the song";
    return false;
  }
  uri_ = std::move(uri);
  sectionStart_ = sectionEnd >= 0 ? from : -1;
  sectionEnd_ = sectionEnd;
  last_.reset();
  return true;
}

void SongPlayback::stop() {
  session_.reset();  // the output stops and its thread ends
  uri_.clear();
  last_.reset();
}

std::optional<HeardNow> SongPlayback::poll() {
  if (!session_) return std::nullopt;
  if (sectionEnd_ >= 0 && session_->position() >= sectionEnd_) session_->seekTo(sectionStart_);
  HeardNow now;
  now.frame = session_->position();
  now.seconds = static_cast<double>(now.frame) / session_->sampleRate();
  const bool ended = session_->reachedEnd();
  if (!ended) {
    const std::vector<ChannelView> channels = session_->channels();
    for (int c = 0; c < static_cast<int>(channels.size()); ++c) {
      std::string line;
      std::int32_t lineNumber = 0, row = 0;
      if (channels[static_cast<std::size_t>(c)].note < 0 || !session_->sourceAt(c, line, lineNumber, row) || row < 1)
        continue;
      const auto start = static_cast<std::size_t>(row - 1);
      now.notes.push_back({c, static_cast<std::size_t>(lineNumber - 1), start, commandEnd(line, start)});
    }
  }
  const bool changed = !last_ || *last_ != now.notes;
  now.uri = uri_;
  if (ended) stop();
  if (!changed) return std::nullopt;
  last_ = now.notes;
  return now;
}

}  // namespace qvb::lsp
