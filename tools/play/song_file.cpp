#include "play/song_file.h"

#include "compiler/song_warnings.h"
#include "host/file_bytes.h"
#include "loader/song_loader.h"
#include "play/display.h"
#include "play/play_session.h"
#include "song/qvb_format.h"

namespace qvb {
namespace {

// The lines as the compiler numbers them: LF and CR LF end one, a lone CR
// does not.
std::vector<std::string> sourceLines(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
      lines.emplace_back();
    } else {
      lines.back() += static_cast<char>(bytes[i]);
    }
  }
  return lines;
}

}  // namespace

SongFile readSongFile(const std::string& path, InputKinds kinds) {
  SongFile file;
  InputFile in(path, kMaxInputBytes, kinds);
  std::vector<std::uint8_t> bytes;
  if (!in.isOpen() || in.readAll(bytes) != FileRead::Ok) {
    file.messages.push_back("qvbplay: cannot read " + path + ": " + in.problem());
    return file;
  }
  LoadedSong song = loadSong(bytes);
  if (!song.ok()) {
    file.messages = problemLines(song, path, bytes);
    if (song.diagnosis.problem != SongProblem::Compile) file.messages[0] = "qvbplay: " + file.messages[0];
  }
  if (!hasMagic(bytes)) {
    for (const SongWarning& w : songWarnings(bytes)) file.messages.push_back(formatWarning(w, path));
  }
  if (!song.ok()) return file;
  file.image = std::move(song.image);
  file.map = std::move(song.map);
  if (file.map.channelCount() > 0) file.lines = sourceLines(bytes);
  return file;
}

bool reloadSongFile(PlaySession& session, const std::string& path, std::vector<std::string>& messages) {
  SongFile file = readSongFile(path, InputKinds::RegularOnly);
  messages = std::move(file.messages);
  if (!file.image) return false;
  if (session.reload(std::move(*file.image), std::move(file.map), std::move(file.lines))) return true;
  messages.insert(messages.begin(), "qvbplay: " + path + ": the new version could not be played");
  return false;
}

}  // namespace qvb
