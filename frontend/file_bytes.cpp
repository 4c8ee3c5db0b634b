#include "frontend/file_bytes.h"

#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

namespace qvb {

InputFile::InputFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error_ = EISDIR;
    return;
  }
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
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
  if (file_ == nullptr) return FileRead::ReadFailed;
  try {
    if (size_ >= 0) {
      bytes.resize(static_cast<std::size_t>(size_));
      bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file_));
    } else {
      std::uint8_t chunk[65536];
      std::size_t got = 0;
      while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    }
  } catch (const std::bad_alloc&) {
    bytes = {};
    return FileRead::NoMemory;
  }
  if (std::ferror(file_) != 0) {
    error_ = errno;
    return FileRead::ReadFailed;
  }
  return FileRead::Ok;
}

}  // namespace qvb
