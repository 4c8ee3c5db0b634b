// The sound file a render writes, kept away from its target until it is
// whole: a StagedFile (beside the target as "NAME.part", put in its place
// only when every write and the close succeeded) written by a SoundFile of
// the type the target's name asks for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/staged_file.h"
#include "render/sound_file.h"

namespace qvb {

class OutputFile {
 public:
  explicit OutputFile(const std::string& target);
  ~OutputFile();  // discards what was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool ok() const { return file_ != nullptr && file_->ok() && error_.empty(); }
  // Why the file cannot be written, in words.
  const std::string& error() const;
  bool write(const std::int16_t* samples, std::int64_t frames);
  // Closes the file and puts it in the target's place; false with error() set.
  bool commit();
  // Closes the file and removes the part written.
  void discard();

 private:
  StagedFile place_;
  std::unique_ptr<SoundFile> file_;
  std::string error_;
};

}  // namespace qvb
