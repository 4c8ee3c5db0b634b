// The sound file writer of builds without libsndfile (the Windows build):
// canonical 16-bit PCM WAV, the RIFF and data sizes written at the close.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "render/command_line.h"
#include "render/sound_file.h"

namespace qvb {

namespace {

constexpr int kChannels = 2;
constexpr int kFrameBytes = kChannels * 2;
constexpr std::uint32_t kHeaderBytes = 44;
// RIFF counts in 32 bits: the data may fill what is left after the header.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - (kHeaderBytes - 8);

void put16(unsigned char* at, std::uint32_t value) {
  at[0] = static_cast<unsigned char>(value & 0xFF);
  at[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

void put32(unsigned char* at, std::uint32_t value) {
  put16(at, value & 0xFFFF);
  put16(at + 2, value >> 16);
}

void header(unsigned char (&out)[kHeaderBytes], std::uint32_t dataBytes) {
  const auto rate = static_cast<std::uint32_t>(kRenderRate);
  std::memcpy(out, "RIFF", 4);
  put32(out + 4, kHeaderBytes - 8 + dataBytes);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  put32(out + 16, 16);  // the size of the PCM format block
  put16(out + 20, 1);   // PCM
  put16(out + 22, kChannels);
  put32(out + 24, rate);
  put32(out + 28, rate * kFrameBytes);
  put16(out + 32, kFrameBytes);
  put16(out + 34, 16);
  std::memcpy(out + 36, "data", 4);
  put32(out + 40, dataBytes);
}

}  // namespace

struct SoundFile::Handle {
  std::FILE* file = nullptr;
  std::uint64_t dataBytes = 0;
};

SoundFile::SoundFile(const std::string& path) : SoundFile(path, soundFileTypeFor(path)) {}

SoundFile::SoundFile(const std::string& path, SoundFileType type) {
  if (type != SoundFileType::Wav) {
    error_ = "this build writes WAV files only";
    return;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error_ = std::strerror(errno);
    return;
  }
  file_ = std::make_unique<Handle>(Handle{file, 0});
  unsigned char bytes[kHeaderBytes];
  header(bytes, 0);
  if (std::fwrite(bytes, 1, sizeof bytes, file) != sizeof bytes) error_ = std::strerror(errno);
}

SoundFile::~SoundFile() { close(); }

bool SoundFile::write(const std::int16_t* samples, std::int64_t frames) {
  if (!ok()) return false;
  if (frames < 0) return false;
  const auto bytes = static_cast<std::uint64_t>(frames) * kFrameBytes;
  if (bytes > kMaxDataBytes - file_->dataBytes) {
    error_ = "the sound is too long for a WAV file";
    return false;
  }
  unsigned char chunk[4096];
  std::int64_t done = 0;
  while (done < frames) {
    const std::int64_t count = std::min<std::int64_t>(frames - done, sizeof chunk / kFrameBytes);
    for (std::int64_t i = 0; i < count * kChannels; ++i) {
      put16(chunk + 2 * i, static_cast<std::uint16_t>(samples[done * kChannels + i]));
    }
    const auto length = static_cast<std::size_t>(count * kFrameBytes);
    if (std::fwrite(chunk, 1, length, file_->file) != length) {
      error_ = std::strerror(errno);
      return false;
    }
    done += count;
  }
  file_->dataBytes += bytes;
  return true;
}

bool SoundFile::close() {
  if (!file_) return error_.empty();
  if (error_.empty()) {
    unsigned char bytes[kHeaderBytes];
    header(bytes, static_cast<std::uint32_t>(file_->dataBytes));
    if (std::fseek(file_->file, 0, SEEK_SET) != 0 ||
        std::fwrite(bytes, 1, sizeof bytes, file_->file) != sizeof bytes) {
      error_ = std::strerror(errno);
    }
  }
  if (std::fclose(file_->file) != 0 && error_.empty()) error_ = std::strerror(errno);
  file_.reset();
  return error_.empty();
}

}  // namespace qvb
