// Reading a whole input file, shared by the programs: open (directories are
// refused), learn the size, then read, so a caller can report each step in
// its own words. Portable: std::filesystem and stdio only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qvb {

enum class FileRead { Ok, NoMemory, ReadFailed };

class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool isOpen() const { return file_ != nullptr; }
  // The errno of a failed open or read (EISDIR for a directory).
  int error() const { return error_; }
  // The size in bytes, or -1 when it cannot be told (a pipe).
  long size() const { return size_; }
  // Reads up to size() bytes, or everything up to the end when the size is
  // unknown; bytes then holds what was read.
  FileRead readAll(std::vector<std::uint8_t>& bytes);

 private:
  std::FILE* file_ = nullptr;
  int error_ = 0;
  long size_ = -1;
};

}  // namespace qvb
