// qvbrender: renders a song (a QVB image, or QVM source compiled in memory)
// to a WAV, FLAC or Ogg Vorbis file, with the same player, Mixer and
// sequencer that play it on the sound card.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frontend/file_bytes.h"
#include "loader/song_loader.h"
#include "render/command_line.h"
#include "render/render_session.h"
#include "render/sound_file.h"

namespace {

using qvb::kRenderRate;

std::string duration(std::int64_t frames) {
  const std::int64_t ms = frames * 1000 / kRenderRate;
  char text[64];
  std::snprintf(text, sizeof text, "%lld.%03lld s (%lld frames)", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000), static_cast<long long>(frames));
  return text;
}

// False with errno set when the file cannot be opened or read.
bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  qvb::InputFile in(path);
  if (!in.isOpen() || in.readAll(bytes) != qvb::FileRead::Ok) {
    errno = in.error();
    return false;
  }
  return true;
}

// A QVB image as it is, or the image compiled from source; false after
// printing why there is none.
bool songImage(const std::string& path, std::vector<std::uint8_t>& bytes) {
  qvb::LoadedSong song = qvb::loadSong(bytes);
  if (song.ok()) {
    bytes.swap(song.image);
    return true;
  }
  const std::string why = qvb::describeProblem(song.diagnosis, path);
  if (song.diagnosis.problem == qvb::SongProblem::Compile) std::fprintf(stderr, "%s\n", why.c_str());
  else std::fprintf(stderr, "qvbrender: %s\n", why.c_str());
  return false;
}

void report(const qvb::CommandLine& line, const qvb::RenderResult& result) {
  std::int64_t intro = -1;
  std::vector<std::int64_t> loops;
  bool loopUnknown = false;
  for (const qvb::ChannelEvents& e : result.channels) {
    if (e.markFrame < 0) continue;
    intro = std::max(intro, e.markFrame);
    if (e.firstJumpFrame < 0) loopUnknown = true;
    else loops.push_back(e.firstJumpFrame - e.markFrame);
  }
  if (result.endFrame >= 0) {
    std::string loopText;
    if (!result.finished) {
      loopText = ", " + std::to_string(line.options.loops) + (line.options.loops == 1 ? " loop" : " loops");
    }
    std::fprintf(stderr, "length: %s%s\n", duration(result.endFrame).c_str(), loopText.c_str());
  } else if (result.capped) {
    std::fprintf(stderr, "length: not reached within the cap of %s\n",
                 duration(line.options.capFrames).c_str());
  } else {
    std::fprintf(stderr, "length: not reached within %s\n",
                 duration(result.framesWritten).c_str());
  }
  if (intro >= 0) {
    std::fprintf(stderr, "intro: %s\n", duration(intro).c_str());
    bool same = !loops.empty();
    for (std::int64_t l : loops) same = same && l == loops.front();
    if (loopUnknown || loops.empty()) {
      std::fprintf(stderr, "loop: not reached\n");
    } else if (same) {
      std::fprintf(stderr, "loop: %s\n", duration(loops.front()).c_str());
    } else {
      std::fprintf(stderr, "loop: differs between channels:");
      std::size_t k = 0;
      for (std::size_t i = 0; i < result.channels.size(); ++i) {
        if (result.channels[i].markFrame < 0) continue;
        std::fprintf(stderr, " channel %zu %s", i, duration(loops[k++]).c_str());
      }
      std::fprintf(stderr, "\n");
    }
  }
  if (result.fadeStart >= 0) {
    std::fprintf(stderr, "fade: from %s\n", duration(result.fadeStart).c_str());
  }
  std::fprintf(stderr, "wrote %s: %s\n", line.output.c_str(), duration(result.framesWritten).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto line = qvb::parseCommandLine(argc - 1, argv + 1, error);
  if (!line) {
    std::fprintf(stderr, "qvbrender: %s\n%s", error.c_str(), qvb::kUsage);
    return 2;
  }
  std::vector<std::uint8_t> bytes;
  if (!readFile(line->input, bytes)) {
    std::fprintf(stderr, "qvbrender: cannot read %s: %s\n", line->input.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (!songImage(line->input, bytes)) return 1;

  std::error_code same;
  if (std::filesystem::equivalent(line->input, line->output, same)) {
    std::fprintf(stderr, "qvbrender: %s would overwrite the input\n", line->output.c_str());
    return 1;
  }
  qvb::SoundFile file(line->output);
  if (!file.ok()) {
    std::fprintf(stderr, "qvbrender: cannot write %s: %s\n", line->output.c_str(),
                 file.error().c_str());
    return 1;
  }
  const bool showProgress = isatty(STDERR_FILENO) == 1;
  std::int64_t shown = 0;
  auto progress = [&](std::int64_t frames) {
    if (frames - shown < kRenderRate) return;
    shown = frames;
    std::fprintf(stderr, "\rrendering %lld s", static_cast<long long>(frames / kRenderRate));
  };
  qvb::RenderResult result;
  const bool rendered = qvb::renderSong(
      bytes.data(), bytes.size(), line->options,
      [&](const std::int16_t* samples, std::int64_t frames) { return file.write(samples, frames); },
      result, showProgress ? qvb::ProgressSink(progress) : qvb::ProgressSink());
  if (showProgress && shown > 0) std::fprintf(stderr, "\r\033[K");
  const bool closed = file.close();
  if (!rendered || !closed) {
    if (!file.error().empty()) {
      std::fprintf(stderr, "qvbrender: cannot write %s: %s\n", line->output.c_str(),
                   file.error().c_str());
    } else {
      std::fprintf(stderr, "qvbrender: %s: the song could not be played\n", line->input.c_str());
    }
    // Only a regular file we were writing is removed, never a device or pipe.
    struct stat info {};
    if (stat(line->output.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      std::remove(line->output.c_str());
    return 1;
  }
  report(*line, result);
  return 0;
}
