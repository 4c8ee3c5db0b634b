// Watching a song file for saves: inotify on its folder on Linux (editors
// often write a new file and rename it over the old one), else a comparison
// of its size and time on every look. A save that inotify reports as whole
// (the file closed after writing, or renamed into place, as editors save)
// is reported at once; any other change once the file has been quiet for a
// while, so a half-written save is not read; a file that is gone is waited for.
#pragma once

#include <cstdint>
#include <string>

namespace qvb {

// How long a file must stay unchanged before it is read again.
inline constexpr std::int64_t kSettleMs = 80;

class FileWatch {
 public:
  // usePolling: skip inotify (the portable way, also for tests).
  explicit FileWatch(std::string path, bool usePolling = false);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  bool usesInotify() const { return inotify_ >= 0; }
  // A descriptor that becomes readable when the folder changes (-1 without
  // inotify), so a waiting loop can wake for a save at once.
  int wakeDescriptor() const { return inotify_; }
  // Looks for changes; true once, when a change has settled at nowMs (a
  // steady clock in milliseconds) and the file is there to be read.
  bool changed(std::int64_t nowMs);

 private:
  struct Stamp {
    bool exists = false;
    std::int64_t size = 0, modified = 0, inode = 0;
    bool operator==(const Stamp&) const = default;
  };
  Stamp stamp() const;
  bool drainEvents(bool& finished);

  std::string path_;
  std::string name_;  // the file's name inside its folder
  int inotify_ = -1;
  bool wholeSave_ = false;
  Stamp last_;
  bool pending_ = false;
  std::int64_t lastChangeMs_ = 0;
};

}  // namespace qvb
