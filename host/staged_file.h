// An output file written whole or not at all, shared by the programs that
// write files: the caller writes to "NAME.part" beside the target (a name
// that says what a file left by a killed program is), which is renamed over
// the target only when the caller wrote and closed it without a fault. A
// program that fails or is stopped leaves a file that was there before as it
// was. A link is followed to the file it names, even one that does not exist
// yet. A target that exists and is no regular file (a device, a pipe) is
// written directly and never removed; a regular one is replaced by a file of
// its own mode.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace qvb {

class StagedFile {
 public:
  explicit StagedFile(const std::string& target);
  ~StagedFile();  // discards what was not committed
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // False when no file to write could be made (error() says why).
  bool ok() const { return !error_; }
  const std::error_code& error() const { return error_; }
  // The file to open for writing: the ".part" file, or the target itself
  // when it is written directly.
  const std::string& writingTo() const { return writing_; }
  // Writes these bytes as the whole file and closes it, for a caller that
  // has them all at hand; false with error() set (and the ".part" file
  // removed) when the open, a write or the close failed.
  bool writeAll(const void* data, std::size_t size);
  // Puts the written file, closed by the caller, in the target's place;
  // false with error() set (and the ".part" file removed) when it cannot.
  bool commit();
  // Removes the ".part" file; the target stays as it was.
  void discard();

 private:
  std::filesystem::path target_;
  std::string writing_;
  bool direct_ = false;
  bool pending_ = false;  // a ".part" file is there to commit or remove
  // The mode of the file written over, which its replacement keeps.
  std::optional<std::filesystem::perms> keptMode_;
  std::error_code error_;
};

}  // namespace qvb
