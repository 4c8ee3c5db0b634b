#include "play/file_watch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace qvb {

// An inotify descriptor watching the folder (Linux only).
struct FileWatch::Events {
  int fd = -1;
  ~Events() {
    if (fd >= 0) ::close(fd);
  }
};

FileWatch::FileWatch(std::string path, bool usePolling) : path_(std::move(path)) {
  const std::filesystem::path p(path_);
  name_ = p.filename().string();
  last_ = stamp();
#ifdef __linux__
  if (usePolling) return;
  auto events = std::make_unique<Events>();
  events->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  std::string folder = p.parent_path().string();
  if (folder.empty()) folder = ".";
  const std::uint32_t mask =
      IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_ATTRIB;
  if (events->fd >= 0 && ::inotify_add_watch(events->fd, folder.c_str(), mask) >= 0) events_ = std::move(events);
#else
  (void)usePolling;
#endif
}

FileWatch::~FileWatch() = default;

WakeHandle FileWatch::wakeHandle() const { return events_ ? events_->fd : kNoWake; }

FileWatch::Stamp FileWatch::stamp() const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) return Stamp{};
  Stamp s;
  s.exists = true;
  s.size = info.st_size;
#ifdef __linux__
  s.modified = std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
#else
  s.modified = info.st_mtime;
#endif
  s.inode = static_cast<std::int64_t>(info.st_ino);
  return s;
}

// True when an event named the file; finished is set when one said the file
// was written and closed, or renamed into place: a whole save.
bool FileWatch::drainEvents(bool& finished) {
  bool touched = false;
#ifdef __linux__
  alignas(struct inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(events_->fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
      if (event->len > 0 && name_ == event->name) {
        touched = true;
        if ((event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0) finished = true;
      }
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
    }
  }
#else
  (void)finished;
#endif
  return touched;
}

}  // namespace qvb
