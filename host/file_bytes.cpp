#include "host/file_bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "host/file_name.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qvb {
namespace {

// "64 MiB" for whole mebibytes, else the bytes.
std::string amount(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

// A regular file opened for reading; null with error set (or notRegular
// when something else has the name). The open does not wait, as that of a
// pipe would for a writer, and the type is that of the file opened, not of
// what the name stood for a moment before.
std::FILE* openRegular(const std::string& path, int& error, bool& notRegular) {
#ifdef _WIN32
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(pathOf(path), ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    notRegular = true;
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) error = errno;
  return file;
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  struct stat info {};
  std::FILE* file = nullptr;
  if (::fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    notRegular = true;
  } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
             (file = ::fdopen(fd, "rb")) == nullptr) {
    error = errno;
  }
  if (file == nullptr) ::close(fd);
  return file;
#endif
}

}  // namespace

InputFile::InputFile(const std::string& path, std::size_t limit, InputKinds kinds) : limit_(limit) {
  std::error_code ec;
  if (std::filesystem::is_directory(pathOf(path), ec)) {
    error_ = EISDIR;
    return;
  }
  if (kinds == InputKinds::RegularOnly) {
    file_ = openRegular(path, error_, notRegular_);
    if (file_ == nullptr) return;
  } else if ((file_ = std::fopen(path.c_str(), "rb")) == nullptr) {
    error_ = errno;
    return;
  }
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    size_ = std::ftell(file_);
    std::fseek(file_, 0, SEEK_SET);
  }
  std::clearerr(file_);
}

InputFile::~InputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

FileRead InputFile::readAll(std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (file_ == nullptr) return last_ = FileRead::ReadFailed;
  if (tooLarge()) return last_ = FileRead::TooLarge;
  try {
    if (size_ >= 0) {
      bytes.resize(static_cast<std::size_t>(size_));
      bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file_));
    } else {
      // Up to one byte past the limit, which tells a stream that is too long.
      std::uint8_t chunk[65536];
      std::size_t got = 0;
      while (bytes.size() <= limit_ &&
             (got = std::fread(chunk, 1, std::min(sizeof chunk, limit_ + 1 - bytes.size()), file_)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
      if (bytes.size() > limit_) {
        bytes = {};
        return last_ = FileRead::TooLarge;
      }
    }
  } catch (const std::bad_alloc&) {
    bytes = {};
    return last_ = FileRead::NoMemory;
  }
  if (std::ferror(file_) != 0) {
    error_ = errno != 0 ? errno : EIO;
    return last_ = FileRead::ReadFailed;
  }
  return last_ = FileRead::Ok;
}

std::string InputFile::problem() const {
  if (last_ == FileRead::TooLarge || tooLarge())
    return "more than " + amount(limit_) + ", the most a song file may hold";
  if (last_ == FileRead::NoMemory) return "not enough memory to read it";
  if (notRegular_) return "not a regular file";
  return std::strerror(error_ != 0 ? error_ : EIO);
}

}  // namespace qvb
