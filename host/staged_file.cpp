#include "host/staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "host/file_name.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qvb {
namespace {

namespace fs = std::filesystem;

// A new file is made as one created the usual way: readable and writable
// (less the umask), which on Windows is all a mode may say.
#ifdef _WIN32
constexpr int kNewFileMode = _S_IREAD | _S_IWRITE;
#else
constexpr int kNewFileMode = 0666;
#endif
// As many links as a path may pass through before it is taken for a loop.
constexpr int kMaxLinks = 40;
// "NAME.part", then "NAME.2.part" and so on while others are there (left
// by a killed program, or written by one still running).
constexpr int kMaxPartNames = 100;

// The file a name stands for, links followed to the end even where the last
// one names a file that does not exist yet.
fs::path followLinks(fs::path place, std::error_code& error) {
  for (int i = 0; i < kMaxLinks; ++i) {
    if (!fs::is_symlink(fs::symlink_status(place, error))) {
      error.clear();  // a place that does not exist is a new file
      return place;
    }
    const fs::path named = fs::read_symlink(place, error);
    if (error) return place;
    place = named.is_absolute() ? named : place.parent_path() / named;
  }
  error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
  return place;
}

// A new empty file beside the target for the caller to open; empty with
// error set when none can be made.
std::string makePartFile(const fs::path& target, std::error_code& error) {
  for (int n = 1; n <= kMaxPartNames; ++n) {
    fs::path part = target;
    part += (n == 1 ? "" : "." + std::to_string(n)) + ".part";
    const std::string name = nameOf(part);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, kNewFileMode);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    if (errno != EEXIST) break;
  }
  error = std::error_code(errno, std::generic_category());
  return {};
}

// Renames over an existing target too, which the C library's rename does not
// do on Windows.
std::error_code replace(const std::string& from, const fs::path& to) {
#ifdef _WIN32
  if (MoveFileExW(pathOf(from).c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return {};
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) return {};
  return std::error_code(errno, std::generic_category());
#endif
}

}  // namespace

StagedFile::StagedFile(const std::string& target) : target_(followLinks(pathOf(target), error_)) {
  if (error_) return;
  std::error_code ec;
  const fs::file_status status = fs::status(target_, ec);
  direct_ = fs::exists(status) && !fs::is_regular_file(status);
  if (direct_) {
    writing_ = nameOf(target_);
    return;
  }
  if (fs::is_regular_file(status)) keptMode_ = status.permissions();
  writing_ = makePartFile(target_, error_);
  pending_ = !error_;
}

StagedFile::~StagedFile() { discard(); }

bool StagedFile::writeAll(const void* data, std::size_t size) {
  if (error_) return false;
  errno = 0;
  std::FILE* file = std::fopen(writing_.c_str(), "wb");
  bool written = file != nullptr && std::fwrite(data, 1, size, file) == size;
  written = file != nullptr && std::fclose(file) == 0 && written;
  if (written) return true;
  error_ = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
  discard();
  return false;
}

bool StagedFile::commit() {
  if (error_) return false;
  if (!pending_) return true;
  // Set now, not at the start: a read-only mode would refuse the writes.
  std::error_code ignored;
  if (keptMode_) fs::permissions(pathOf(writing_), *keptMode_, ignored);
  error_ = replace(writing_, target_);
  if (error_) {
    discard();
    return false;
  }
  pending_ = false;
  return true;
}

void StagedFile::discard() {
  if (pending_) std::remove(writing_.c_str());
  pending_ = false;
}

}  // namespace qvb
