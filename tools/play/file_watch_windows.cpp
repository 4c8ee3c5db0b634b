#include "play/file_watch.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <filesystem>
#include <vector>

#include "host/file_name.h"

namespace qvb {
namespace {

constexpr DWORD kWatched = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// Windows names no "closed after writing": a file that opens while sharing
// no writing was written whole, as nobody holds it open for writing any
// more. Renames and reads meanwhile are shared, so the look (a moment) gets
// in no editor's way but one opening the file to write again just then.
bool writtenWhole(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

// The folder opened for an overlapped ReadDirectoryChangesW, always one read
// outstanding; its event is signalled when that read has reports.
struct FileWatch::Events {
  HANDLE folder = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped{};
  std::vector<DWORD> buffer = std::vector<DWORD>(4096);  // DWORD-aligned, as the reports must be

  ~Events() {
    if (folder != INVALID_HANDLE_VALUE) {
      // The read must be over before its buffer goes.
      DWORD bytes = 0;
      if (CancelIo(folder)) GetOverlappedResult(folder, &overlapped, &bytes, TRUE);
      CloseHandle(folder);
    }
    if (overlapped.hEvent != nullptr) CloseHandle(overlapped.hEvent);
  }
  bool read() {
    ResetEvent(overlapped.hEvent);
    return ReadDirectoryChangesW(folder, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), FALSE,
                                 kWatched, nullptr, &overlapped, nullptr) != FALSE;
  }
};

FileWatch::FileWatch(std::string path, bool usePolling) : path_(std::move(path)) {
  const std::filesystem::path p = pathOf(path_);
  name_ = nameOf(p.filename());
  last_ = stamp();
  if (usePolling) return;
  std::string folder = nameOf(p.parent_path());
  if (folder.empty()) folder = ".";
  auto events = std::make_unique<Events>();
  events->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  events->folder = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY, sharing, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (events->overlapped.hEvent != nullptr && events->folder != INVALID_HANDLE_VALUE && events->read()) {
    events_ = std::move(events);
  }
}

FileWatch::~FileWatch() = default;

WakeHandle FileWatch::wakeHandle() const { return events_ ? events_->overlapped.hEvent : kNoWake; }

FileWatch::Stamp FileWatch::stamp() const {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &info)) return Stamp{};
  Stamp s;
  s.exists = true;
  s.size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  s.modified = static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                         info.ftLastWriteTime.dwLowDateTime);
  return s;
}

// True when a report named the file; finished is set when one said it was
// renamed into place, or it was written and nobody holds it open any more:
// a whole save. A report that overflowed names nothing: the stamp decides.
bool FileWatch::drainEvents(bool& finished) {
  const std::wstring name = wide(name_);
  bool touched = false, written = false, reading = true;
  DWORD bytes = 0;
  while (GetOverlappedResult(events_->folder, &events_->overlapped, &bytes, FALSE)) {
    const auto* at = reinterpret_cast<const std::uint8_t*>(events_->buffer.data());
    for (DWORD offset = 0; bytes > 0;) {
      const auto* report = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at + offset);
      const int length = static_cast<int>(report->FileNameLength / sizeof(WCHAR));
      if (CompareStringOrdinal(report->FileName, length, name.data(), static_cast<int>(name.size()), TRUE) ==
          CSTR_EQUAL) {
        touched = true;
        if (report->Action == FILE_ACTION_RENAMED_NEW_NAME) finished = true;
        if (report->Action == FILE_ACTION_MODIFIED || report->Action == FILE_ACTION_ADDED) written = true;
      }
      if (report->NextEntryOffset == 0) break;
      offset += report->NextEntryOffset;
    }
    reading = events_->read();
    if (!reading) break;
  }
  if (!reading) events_.reset();  // no more reports: the stamp alone from now on
  if (written && !finished) finished = writtenWhole(path_);
  return touched;
}

}  // namespace qvb
