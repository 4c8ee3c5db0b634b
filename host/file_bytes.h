// Reading a whole input file, shared by the programs: open (directories are
// refused), learn the size, then read, so a caller can report each step in
// its own words. A file larger than the limit is refused before it is read
// (a pipe once one byte more than the limit has come). A caller that reads a
// file again whenever it changes takes regular files only: whatever else
// takes the name (a pipe, a device) is refused without waiting on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qvb {

// The most bytes a song file may hold, source or image: far beyond any song
// written by hand, and small enough that reading one never exhausts memory.
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;

enum class FileRead { Ok, NoMemory, ReadFailed, TooLarge };

// What an input may be: anything that reads (a pipe, /dev/stdin), or only a
// regular file, whose open never blocks.
enum class InputKinds { Any, RegularOnly };

class InputFile {
 public:
  explicit InputFile(const std::string& path, std::size_t limit = kMaxInputBytes,
                     InputKinds kinds = InputKinds::Any);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool isOpen() const { return file_ != nullptr; }
  // The errno of a failed open or read (EISDIR for a directory; 0 for a
  // file refused as no regular file).
  int error() const { return error_; }
  // The size in bytes, or -1 when it cannot be told (a pipe).
  long size() const { return size_; }
  // The size is known and larger than the limit: readAll() refuses it.
  bool tooLarge() const { return size_ >= 0 && static_cast<std::size_t>(size_) > limit_; }
  // Reads up to size() bytes, or everything up to the end when the size is
  // unknown; bytes then holds what was read (nothing when it was too large).
  FileRead readAll(std::vector<std::uint8_t>& bytes);
  // Why the open or the last read failed, in words ("No such file or
  // directory", "not a regular file", "more than 64 MiB, the most a song
  // file may hold").
  std::string problem() const;

 private:
  std::FILE* file_ = nullptr;
  int error_ = 0;
  bool notRegular_ = false;
  long size_ = -1;
  std::size_t limit_;
  FileRead last_ = FileRead::Ok;
};

}  // namespace qvb
