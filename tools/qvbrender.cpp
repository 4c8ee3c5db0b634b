// qvbrender: renders a song (a QVB image, or QVM source compiled in memory)
// to a WAV, FLAC or Ogg Vorbis file (WAV only in the Windows build), with the
// same player, Mixer and sequencer that play it on the sound card.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compiler/song_warnings.h"
#include "host/file_bytes.h"
#include "host/file_name.h"
#include "host/terminal.h"
#include "loader/song_loader.h"
#include "qvbp_version.h"
#include "render/background_writer.h"
#include "render/command_line.h"
#include "render/render_session.h"
#include "render/output_file.h"
#include "render/song_figures.h"
#include "render/sound_file.h"
#include "song/qvb_format.h"

namespace {

using qvb::kRenderRate;

// The signal that asked the render to stop, 0 while none did. The handler
// only sets it; the render checks it between two buffers.
volatile std::sig_atomic_t gStopSignal = 0;

void requestStop(int signal) { gStopSignal = signal; }

#ifdef _WIN32
// The C library of Windows has no table of signal descriptions.
const char* signalName(int signal) { return signal == SIGINT ? "Interrupt" : "a signal"; }
#else
const char* signalName(int signal) { return strsignal(signal); }
#endif

// Ctrl-C, SIGTERM and (off Windows) the hang-up of a closed terminal stop
// the render cleanly; a second one kills at once.
void installStopHandlers() {
#ifdef _WIN32
  // Windows resets a handler to the default when it runs, as SA_RESETHAND does.
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
#else
  struct sigaction action {};
  action.sa_handler = requestStop;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

// A line of the messages on standard error. They name files and may quote a
// song; on a terminal their control bytes are shown, not obeyed.
void say(const std::string& line) { std::fprintf(stderr, "%s\n", qvb::textFor(stderr, line).c_str()); }

std::string duration(std::int64_t frames) {
  const std::int64_t ms = frames * 1000 / kRenderRate;
  char text[64];
  std::snprintf(text, sizeof text, "%lld.%03lld s (%lld frames)", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000), static_cast<long long>(frames));
  return text;
}

// False after printing why when the file cannot be opened or read.
bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  qvb::InputFile in(path);
  if (in.isOpen() && in.readAll(bytes) == qvb::FileRead::Ok) return true;
  say("qvbrender: cannot read " + path + ": " + in.problem());
  return false;
}

// A QVB image as it is, or the image compiled from source; false after
// printing why there is none.
bool songImage(const std::string& path, std::vector<std::uint8_t>& bytes) {
  qvb::LoadedSong song = qvb::loadSong(bytes);
  // Source only: an image carries nothing the warnings could point at.
  const std::vector<qvb::SongWarning> warnings =
      qvb::hasMagic(bytes) ? std::vector<qvb::SongWarning>{} : qvb::songWarnings(bytes);
  if (song.ok()) {
    for (const qvb::SongWarning& w : warnings) say(qvb::formatWarning(w, path));
    bytes.swap(song.image);
    return true;
  }
  for (const std::string& why : qvb::describeProblems(song, path))
    say(song.diagnosis.problem == qvb::SongProblem::Compile ? why : "qvbrender: " + why);
  for (const qvb::SongWarning& w : warnings) say(qvb::formatWarning(w, path));
  return false;
}

void report(const qvb::CommandLine& line, const qvb::RenderResult& result) {
  const qvb::SongFigures figures = qvb::songFigures(result);
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
  if (figures.introFrames >= 0) {
    std::fprintf(stderr, "intro: %s\n", duration(figures.introFrames).c_str());
    if (!figures.loopReached) {
      std::fprintf(stderr, "loop: not reached\n");
    } else if (figures.loopFrames >= 0) {
      std::fprintf(stderr, "loop: %s\n", duration(figures.loopFrames).c_str());
    } else {
      std::fprintf(stderr, "loop: differs between channels:");
      for (std::size_t i = 0; i < figures.channelLoops.size(); ++i) {
        if (result.channels[i].markFrame < 0) continue;
        std::fprintf(stderr, " channel %zu %s", i, duration(figures.channelLoops[i]).c_str());
      }
      std::fprintf(stderr, "\n");
    }
  }
  if (result.fadeStart >= 0) {
    std::fprintf(stderr, "fade: from %s\n", duration(result.fadeStart).c_str());
  }
  say("wrote " + line.output + ": " + duration(result.framesWritten));
}

}  // namespace

int main(int argc, char** argv) {
  qvb::showUtf8OnConsole();
  std::string error;
  const auto line = qvb::parseCommandLine(argc - 1, argv + 1, error);
  if (!line) {
    say("qvbrender: " + error);
    std::fputs(qvb::kUsage, stderr);
    return 2;
  }
  if (line->help) {
    std::fputs(qvb::kUsage, stdout);
    return 0;
  }
  if (line->version) {
    std::printf("qvbrender %s\n", qvb::kVersion);
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  if (!readFile(line->input, bytes) || !songImage(line->input, bytes)) return 1;

  if (qvb::sameFile(line->input, line->output)) {
    say("qvbrender: " + line->output + " would overwrite the input");
    return 1;
  }
  installStopHandlers();
  qvb::OutputFile file(line->output);
  if (!file.ok()) {
    say("qvbrender: cannot write " + line->output + ": " + file.error());
    return 1;
  }
  const bool showProgress = qvb::isTerminal(stderr);
  std::int64_t shown = 0;
  auto progress = [&](std::int64_t frames) {
    if (frames - shown < kRenderRate) return;
    shown = frames;
    std::fprintf(stderr, "\rrendering %lld s", static_cast<long long>(frames / kRenderRate));
  };
  qvb::RenderResult result;
  qvb::BackgroundWriter writer([&](const std::int16_t* samples, std::int64_t frames) {
    return gStopSignal == 0 && file.write(samples, frames);
  });
  const bool rendered = qvb::renderSong(
      bytes.data(), bytes.size(), line->options,
      [&](const std::int16_t* samples, std::int64_t frames) { return gStopSignal == 0 && writer(samples, frames); },
      result, showProgress ? qvb::ProgressSink(progress) : qvb::ProgressSink());
  const bool written = writer.finish();
  // Spaces over the progress line rather than an erase sequence, which not every console reads.
  if (showProgress && shown > 0) std::fprintf(stderr, "\r%*s\r", 32, "");
  if (gStopSignal != 0) {
    // A stopped render is a failed one: the part written so far is dropped
    // and a file that was there before stays as it was.
    file.discard();
    say(std::string("qvbrender: stopped by ") + signalName(gStopSignal) + "; " + line->output + " not written");
    return 128 + gStopSignal;
  }
  if (!rendered || !written || !file.commit()) {
    if (!file.error().empty()) {
      say("qvbrender: cannot write " + line->output + ": " + file.error());
    } else {
      say("qvbrender: " + line->input + ": the song could not be played");
    }
    return 1;
  }
  report(*line, result);
  return 0;
}
