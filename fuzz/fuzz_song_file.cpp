// qvbplay's watched song file under a stream of changes: the bytes are a
// script of saves (written in place, renamed over, appended to), removals,
// a folder or a pipe in the file's place, and steps of the clock, each
// followed by a look of the watch (reported by the system or polled) and,
// when it says the file changed, a read as a reload reads it. Nothing may
// crash or wait (a pipe is refused, not opened for a writer), and once the
// last save has settled the watch reports it and the read gives its bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/file_bytes.h"
#include "play/file_watch.h"
#include "play/song_file.h"

namespace {

namespace fs = std::filesystem;

void check(bool condition) {
  if (!condition) std::abort();
}

struct Folder {
  Folder() : path(fs::temp_directory_path() / ("qvbp-fuzz-watch-" + std::to_string(getpid()))) {
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path path;
};

void write(const fs::path& path, const std::string& bytes, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void clear(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

// An editor's save: the new file renamed over the old (a folder in the way
// is taken away first, as no rename replaces one with a file).
void renameOver(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (!error) return;
  clear(to);
  fs::rename(from, to);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  static const Folder folder;
  const fs::path song = folder.path / "song.qvm";
  const fs::path other = folder.path / "next.qvm";
  clear(song);
  clear(other);
  write(song, "#TITLE <w>\n#CHANNEL 1\n#A c\n", std::ios::trunc);
  qvb::FileWatch watch(song.string(), (data[0] & 1) != 0);
  std::int64_t now = 0;
  std::string last = "#TITLE <w>\n#CHANNEL 1\n#A c\n";  // what a whole read would give
  std::size_t at = 1;
  const auto take = [&](std::size_t most) {
    std::size_t n = 0;
    if (at < size) {
      n = data[at] % (most + 1);
      ++at;
      n = std::min(n, size - at);
    }
    std::string bytes(reinterpret_cast<const char*>(data) + at, n);
    at += n;
    return bytes;
  };
  while (at < size) {
    switch (data[at++] % 8) {
      case 0: last = take(200); clear(song); write(song, last, std::ios::trunc); break;
      case 1: last = take(200); write(other, last, std::ios::trunc); renameOver(other, song); break;
      case 2: { const std::string more = take(50); if (fs::is_regular_file(song)) { write(song, more, std::ios::app); last += more; } break; }
      case 3: clear(song); last.clear(); break;
      case 4: clear(song); fs::create_directory(song); last.clear(); break;
      case 5: clear(song); check(mkfifo(song.c_str(), 0600) == 0); last.clear(); break;
      case 6: now += at < size ? data[at++] : 1; break;
      default: now += qvb::kSettleMs + 1; break;
    }
    if (watch.changed(now)) qvb::readSongFile(song.string(), qvb::InputKinds::RegularOnly);
  }
  // A last whole save, settled: reported, and read as written.
  last += "{ end }\n";
  clear(song);
  write(other, last, std::ios::trunc);
  renameOver(other, song);
  bool seen = false;
  for (int look = 0; look < 3 && !seen; ++look) {
    now += qvb::kSettleMs + 1;
    seen = watch.changed(now);
  }
  check(seen);
  qvb::InputFile in(song.string(), qvb::kMaxInputBytes, qvb::InputKinds::RegularOnly);
  std::vector<std::uint8_t> bytes;
  check(in.isOpen() && in.readAll(bytes) == qvb::FileRead::Ok);
  check(std::string(bytes.begin(), bytes.end()) == last);
  qvb::readSongFile(song.string(), qvb::InputKinds::RegularOnly);
  return 0;
}
