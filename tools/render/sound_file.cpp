#include "render/sound_file.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>

#include "render/command_line.h"

namespace qvb {

namespace {

int formatFor(SoundFileType type) {
  switch (type) {
    case SoundFileType::Flac: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case SoundFileType::OggVorbis: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case SoundFileType::Wav: break;
  }
  return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

// Why a call of libsndfile failed, in our words: the system's reason when
// the call left one. libsndfile's own texts are not shown: they can name the
// FLAC decoder for a write that found the disk full, and asking for the text
// of a code it does not know prints to standard output.
std::string reasonForFailure() {
  return errno != 0 ? std::strerror(errno) : "the sound library could not write it";
}

}  // namespace

struct SoundFile::Handle {
  SNDFILE* file = nullptr;
  SoundFileType type = SoundFileType::Wav;
  std::int64_t frames = 0;
};

SoundFile::SoundFile(const std::string& path) : SoundFile(path, soundFileTypeFor(path)) {}

SoundFile::SoundFile(const std::string& path, SoundFileType type) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(kRenderRate);
  info.channels = 2;
  info.format = formatFor(type);
  if (!sf_format_check(&info)) {
    error_ = "this build of libsndfile cannot write that format";
    return;
  }
  errno = 0;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    error_ = reasonForFailure();
    return;
  }
  file_ = std::make_unique<Handle>(Handle{file, type, 0});
}

SoundFile::~SoundFile() { close(); }

bool SoundFile::write(const std::int16_t* samples, std::int64_t frames) {
  if (!ok()) return false;
  errno = 0;
  const sf_count_t written = sf_writef_short(file_->file, samples, frames);
  if (written != frames) {
    error_ = reasonForFailure();
    return false;
  }
  file_->frames += frames;
  return true;
}

bool SoundFile::close() {
  if (!file_) return error_.empty();
  // libsndfile writes nothing at all for a FLAC file without sound: a file
  // no reader takes for FLAC.
  if (file_->type == SoundFileType::Flac && file_->frames == 0 && error_.empty())
    error_ = "a FLAC file cannot be empty: render at least one frame, or write a .wav";
  errno = 0;
  const int result = sf_close(file_->file);
  file_.reset();
  if (result != 0 && error_.empty()) error_ = reasonForFailure();
  return error_.empty();
}

}  // namespace qvb
