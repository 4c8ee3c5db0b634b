// The sound file a render writes, kept away from its target until it is
// whole: the sound goes to a hidden temporary file in the target's folder,
// which replaces the target only when every write and the close succeeded.
// A render that fails or is stopped leaves an existing target as it was.
// Targets that exist but are no regular file (a device, a pipe) are written
// directly and never removed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "render/sound_file.h"

namespace qvb {

class OutputFile {
 public:
  explicit OutputFile(const std::string& target);
  ~OutputFile();  // discards what was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool ok() const { return file_ != nullptr && file_->ok() && error_.empty(); }
  const std::string& error() const;
  bool write(const std::int16_t* samples, std::int64_t frames);
  // Closes the file and puts it in the target's place; false with error() set.
  bool commit();
  // Closes the file and removes the temporary one.
  void discard();
  // The file being written (the target itself when it is written directly).
  const std::string& writingTo() const { return writing_; }

 private:
  std::string target_;
  std::string writing_;
  bool direct_ = false;
  std::unique_ptr<SoundFile> file_;
  std::string error_;
};

}  // namespace qvb
