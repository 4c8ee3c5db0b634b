// Writes 16-bit stereo 44100 Hz sound to a file through libsndfile: WAV by
// default, FLAC or Ogg Vorbis when the name ends in .flac or .ogg (any case).
// Opening happens in the constructor; ok() and error() tell the outcome.
#pragma once

#include <cstdint>
#include <string>

typedef struct sf_private_tag SNDFILE;

namespace qvb {

enum class SoundFileType { Wav, Flac, OggVorbis };

SoundFileType soundFileTypeFor(const std::string& path);

class SoundFile {
 public:
  explicit SoundFile(const std::string& path);
  // Writes the given type whatever the name says (a temporary name, say).
  SoundFile(const std::string& path, SoundFileType type);
  ~SoundFile();
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  bool ok() const { return file_ != nullptr && error_.empty(); }
  const std::string& error() const { return error_; }
  // Appends interleaved stereo frames; false (and error() set) on failure.
  bool write(const std::int16_t* samples, std::int64_t frames);
  // Finishes the file; false if that failed. The destructor closes too.
  bool close();

 private:
  SNDFILE* file_ = nullptr;
  std::string error_;
};

}  // namespace qvb
