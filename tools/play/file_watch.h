// Watching a song file for saves: the system's reports on its folder where
// it gives them (editors often write a new file and rename it over the old
// one): inotify on Linux, ReadDirectoryChangesW on Windows; else a comparison
// of its size and time on every look. A save the reports say is whole (the
// file closed after writing, or renamed into place, as editors save) is
// reported at once; any other change once the file has been quiet for a
// while, so a half-written save is not read; a file that is gone is waited for.
// The system's parts are in file_watch_posix.cpp and file_watch_windows.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "play/wake_handle.h"

namespace qvb {

// How long a file must stay unchanged before it is read again.
inline constexpr std::int64_t kSettleMs = 80;

class FileWatch {
 public:
  // usePolling: no reports from the system (the portable way, also for tests).
  explicit FileWatch(std::string path, bool usePolling = false);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // The system reports the folder's changes.
  bool reported() const { return events_ != nullptr; }
  // Has news when the folder changes (kNoWake without reports), so a
  // waiting loop can wake for a save at once.
  WakeHandle wakeHandle() const;
  // Looks for changes; true once, when a change has settled at nowMs (a
  // steady clock in milliseconds) and the file is there to be read.
  bool changed(std::int64_t nowMs);

 private:
  struct Stamp {
    bool exists = false;
    std::int64_t size = 0, modified = 0, inode = 0;
    bool operator==(const Stamp&) const = default;
  };
  struct Events;  // the system's reports on the folder
  Stamp stamp() const;
  bool drainEvents(bool& finished);

  std::string path_;
  std::string name_;  // the file's name inside its folder
  std::unique_ptr<Events> events_;
  bool wholeSave_ = false;
  Stamp last_;
  bool pending_ = false;
  std::int64_t lastChangeMs_ = 0;
};

}  // namespace qvb
