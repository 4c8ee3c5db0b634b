#include "render/sound_file.h"

#include <sndfile.h>

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

}  // namespace

struct SoundFile::Handle {
  SNDFILE* file = nullptr;
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
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    error_ = sf_strerror(nullptr);
    return;
  }
  file_ = std::make_unique<Handle>(Handle{file});
}

SoundFile::~SoundFile() { close(); }

bool SoundFile::write(const std::int16_t* samples, std::int64_t frames) {
  if (!ok()) return false;
  const sf_count_t written = sf_writef_short(file_->file, samples, frames);
  if (written != frames) {
    error_ = sf_strerror(file_->file);
    if (error_.empty()) error_ = "short write";
    return false;
  }
  return true;
}

bool SoundFile::close() {
  if (!file_) return error_.empty();
  const int result = sf_close(file_->file);
  file_.reset();
  if (result != 0 && error_.empty()) error_ = sf_error_number(result);
  return error_.empty();
}

}  // namespace qvb
