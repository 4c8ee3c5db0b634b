// Writes 16-bit stereo 44100 Hz sound to a file. Through libsndfile: WAV by
// default, FLAC or Ogg Vorbis when the name ends in .flac or .ogg (any case).
// Where libsndfile is not at hand (the Windows build) a small writer of our
// own writes WAV only. Opening happens in the constructor; ok() and error()
// tell the outcome.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qvb {

enum class SoundFileType { Wav, Flac, OggVorbis };

// The type a name asks for, by its extension.
SoundFileType soundFileTypeFor(const std::string& path);

class SoundFile {
 public:
  explicit SoundFile(const std::string& path);
  // Writes the given type whatever the name says (a temporary name, say).
  SoundFile(const std::string& path, SoundFileType type);
  ~SoundFile();
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  bool ok() const { return file_ && error_.empty(); }
  const std::string& error() const { return error_; }
  // Appends interleaved stereo frames; false (and error() set) on failure.
  bool write(const std::int16_t* samples, std::int64_t frames);
  // Finishes the file; false if that failed. The destructor closes too.
  bool close();

 private:
  struct Handle;  // the open file of the writer in this build
  std::unique_ptr<Handle> file_;
  std::string error_;
};

}  // namespace qvb
