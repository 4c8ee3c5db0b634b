// The sound a render writes, in blocks of any size: through the background
// writer into an OutputFile (WAV, FLAC, now and then Ogg Vorbis) that is
// committed, or through the small WAV writer of builds without libsndfile
// (FUZZ_OWN_WAV_WRITER). What libsndfile reads back must be every frame
// written, sample for sample where the type keeps them (a FLAC file of no
// sound is refused), and no part file may stay behind.
#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "render/sound_file.h"
#ifndef FUZZ_OWN_WAV_WRITER
#include "render/background_writer.h"
#include "render/output_file.h"
#endif

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// A folder of this process's own, removed when it exits.
struct Folder {
  Folder() : path(std::filesystem::temp_directory_path() / ("qvbp-fuzz-writers-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(path);
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

const std::filesystem::path& folder() {
  static const Folder made;
  return made.path;
}

// The frames a block holds: the input cut at its length bytes, samples
// taken from the bytes after them, two to a sample.
struct Blocks {
  std::vector<std::vector<std::int16_t>> blocks;
  std::vector<std::int16_t> all;
};

Blocks cut(const std::uint8_t* data, std::size_t size) {
  Blocks out;
  std::size_t at = 0;
  while (at < size) {
    const std::size_t frames = data[at++] * 37u % 1201u;  // 0 (an empty block) up to 1200
    std::vector<std::int16_t> block(2 * frames);
    for (std::int16_t& sample : block) {
      sample = static_cast<std::int16_t>(at + 1 < size ? data[at] | data[at + 1] << 8 : static_cast<int>(at) * 977);
      at += 2;
    }
    out.all.insert(out.all.end(), block.begin(), block.end());
    out.blocks.push_back(std::move(block));
  }
  return out;
}

std::vector<std::int16_t> readBack(const std::string& path, SF_INFO& info) {
  info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  check(file != nullptr);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
  check(sf_readf_short(file, samples.data(), info.frames) == info.frames);
  sf_close(file);
  return samples;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 1 << 14) return 0;
  const Blocks input = cut(data + 1, size - 1);
#ifdef FUZZ_OWN_WAV_WRITER
  const std::string target = (folder() / "out.wav").string();
  {
    qvb::SoundFile file(target, qvb::SoundFileType::Wav);
    check(file.ok());
    for (const auto& block : input.blocks) check(file.write(block.data(), static_cast<std::int64_t>(block.size() / 2)));
    check(file.close());
  }
  const bool exact = true;
#else
  // The type by the name, as the tools choose it; Ogg Vorbis is slow: one input in eight.
  const char* names[] = {"out.wav", "out.flac", "out.WAV", "out.Flac", "out.wav", "out.flac", "out.wav", "out.ogg"};
  const std::string name = names[data[0] % 8];
  const std::string target = (folder() / name).string();
  const bool exact = name.find("ogg") == std::string::npos;
  {
    qvb::OutputFile file(target);
    check(file.ok());
    qvb::BackgroundWriter writer([&file](const std::int16_t* samples, std::int64_t frames) {
      return file.write(samples, frames);
    });
    for (const auto& block : input.blocks) check(writer(block.data(), static_cast<std::int64_t>(block.size() / 2)));
    check(writer.finish());
    // A FLAC file cannot be empty: that one is refused, and nothing is left.
    const bool empty = input.all.empty() && name.find("lac") != std::string::npos;
    check(file.commit() != empty);
    if (empty) {
      check(!std::filesystem::exists(target) && !std::filesystem::exists(target + ".part"));
      return 0;
    }
  }
  check(!std::filesystem::exists(target + ".part"));
#endif
  SF_INFO info;
  const std::vector<std::int16_t> back = readBack(target, info);
  check(info.channels == 2 && info.samplerate == 44100);
  check(static_cast<std::size_t>(info.frames) == input.all.size() / 2);
  if (exact) check(back == input.all);
  std::filesystem::remove(target);
  return 0;
}
