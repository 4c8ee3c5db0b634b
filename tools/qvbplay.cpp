// qvbplay: plays a song (QVM source or QVB image) on the sound card and shows
// where it is; keys pause, seek, mute and solo, and --watch reloads the file
// whenever it is saved, at the place being heard.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/file_name.h"
#include "host/terminal.h"
#include "play/device_choice.h"
#include "play/display.h"
#include "play/file_watch.h"
#include "play/keys.h"
#include "sound/null_platform.h"
#include "play/play_options.h"
#include "play/play_session.h"
#include "play/song_file.h"
#include "song/channel_letters.h"
#include "play/terminal.h"
#include "qvbp_version.h"
#include "sound/system_audio.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRefreshMs = 50;
constexpr std::int64_t kSeekSeconds = 5;

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// "12:03:41", the local time of day.
std::string wallClock() {
  const std::time_t now = std::time(nullptr);
  char text[16] = "";
  std::tm local{};
#ifdef _WIN32
  const bool known = ::localtime_s(&local, &now) == 0;  // Windows' reentrant form, its arguments swapped
#else
  const bool known = ::localtime_r(&now, &local) != nullptr;
#endif
  if (known) std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

void printLines(std::FILE* to, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::fprintf(to, "%s\n", qvb::textFor(to, line).c_str());
  std::fflush(to);
}

class Player {
 public:
  Player(const qvb::PlayOptions& options, qvb::PlaySession& session, qvb::Terminal& terminal)
      : options_(options), session_(session), terminal_(terminal) {
    if (options.watch) watch_ = std::make_unique<qvb::FileWatch>(options.input);
  }

  void showProblem(std::vector<std::string> lines) {
    problem_ = std::move(lines);
    if (!terminal_.interactive()) printLines(stderr, problem_);
  }

  int run() {
    if (!terminal_.interactive()) {
      std::fprintf(info_, "playing %s\n", qvb::textFor(info_, options_.input + ": " + session_.title()).c_str());
      std::fflush(info_);
    }
    for (;;) {
      std::string bytes;
      if (terminal_.interactive()) bytes = terminal_.readKeys(kRefreshMs, watch_ ? watch_->wakeHandle() : qvb::kNoWake);
      else std::this_thread::sleep_for(std::chrono::milliseconds(kRefreshMs));
      for (const qvb::Action& a : keys_.feed(bytes)) {
        if (!act(a)) return finish("quit");
      }
      if (watch_ && watch_->changed(nowMs())) reload();
      repeatSection();
      if (session_.reachedEnd() && !ended_) {
        // Under --watch the song waits at its end (or, with -l, plays again)
        // for the next save instead of ending the program.
        if (!watch_) return finish("end");
        if (options_.loops > 0) {
          session_.restart();
        } else {
          ended_ = true;
          if (!session_.paused()) session_.togglePause();
        }
      }
      if (watch_) noteVanished();
      if (options_.follow) follow();
      if (terminal_.interactive()) draw();
      else report();
    }
  }

 private:
  bool act(const qvb::Action& a) {
    const std::int64_t step = kSeekSeconds * session_.sampleRate();
    switch (a.type) {
      case qvb::ActionType::Quit: return false;
      case qvb::ActionType::Pause:
        ended_ = false;
        session_.togglePause();
        break;
      case qvb::ActionType::Restart:
        if (ended_ && session_.paused()) session_.togglePause();
        ended_ = false;
        session_.restart();
        break;
      case qvb::ActionType::SeekBack: session_.seekBy(-step); break;
      case qvb::ActionType::SeekForward: session_.seekBy(step); break;
      case qvb::ActionType::ToggleMute: session_.toggleMute(a.channel); break;
      case qvb::ActionType::Solo: session_.solo(a.channel); break;
      case qvb::ActionType::Suspend: terminal_.suspend(); break;
      case qvb::ActionType::CursorUp: cursor_ = std::max(cursor_ - 1, 0); break;
      case qvb::ActionType::CursorDown:
        cursor_ = std::min(cursor_ + 1, std::max(session_.channelCount() - 1, 0));
        break;
      case qvb::ActionType::MuteCursor: session_.toggleMute(cursor_); break;
      case qvb::ActionType::SoloCursor: session_.solo(cursor_); break;
      case qvb::ActionType::MarkA:
        sectionStart_ = session_.position();
        sectionEnd_ = -1;
        break;
      case qvb::ActionType::MarkB:
        sectionEnd_ = sectionEnd_ < 0 && sectionStart_ >= 0 ? session_.position() : -1;
        if (sectionEnd_ <= sectionStart_) sectionEnd_ = sectionStart_ = -1;  // no section, or an empty one
        break;
      case qvb::ActionType::None: break;
    }
    return true;
  }

  // One JSON object a line for each note and rest as it is heard: where (in
  // frames and seconds), which channel, the note as the source spells it, and
  // its place in the source (or its byte offset in the channel's block).
  void follow() {
    for (const qvb::PlaySession::HeardEvent& e : session_.takeHeard()) {
      std::printf("{\"frame\":%lld,\"seconds\":%.3f,\"channel\":\"%c\",\"kind\":\"%s\"",
                  static_cast<long long>(e.frame), static_cast<double>(e.frame) / session_.sampleRate(),
                  qvb::channelLetter(e.channel), e.note >= 0 ? "note" : "rest");
      if (e.note >= 0) std::printf(",\"note\":\"%s\"", qvb::noteName(e.note).c_str());
      if (e.line > 0) std::printf(",\"line\":%d,\"row\":%d", e.line, e.row);
      else if (e.offset >= 0) std::printf(",\"offset\":%d", e.offset);
      std::printf("}\n");
    }
    std::fflush(stdout);
  }

  // The section from a to b plays again and again, from the same exact seek.
  void repeatSection() {
    if (sectionEnd_ < 0 || session_.paused() || session_.position() < sectionEnd_) return;
    session_.seekTo(sectionStart_);
  }

  void noteVanished() {
    const bool gone = !std::filesystem::exists(qvb::pathOf(options_.input));
    if (gone && watchNote_ != "file gone") watchNote_ = "file gone";
    if (!gone && watchNote_ == "file gone") watchNote_ = "watching";
  }

  void reload() {
    std::vector<std::string> messages;
    const bool reloaded = qvb::reloadSongFile(session_, options_.input, messages);
    showProblem(messages);
    watchNote_ = (reloaded ? "reloaded " : "not reloaded ") + wallClock();
    if (reloaded && !terminal_.interactive()) {
      std::fprintf(info_, "reloaded at %s\n", qvb::clockText(session_.position(), session_.sampleRate()).c_str());
      std::fflush(info_);
    }
  }

  void draw() {
    qvb::DisplayModel m;
    m.file = options_.input;
    m.title = session_.title();
    m.sampleRate = session_.sampleRate();
    m.position = session_.position();
    m.figures = session_.figures();
    m.tick = session_.tickAt(qvb::songPlace(m.position, m.figures));
    m.loopsHeard = session_.loopsHeard();
    m.loopsWanted = options_.loops;
    m.tickInterval = session_.tickInterval();
    if (options_.verbose) m.underruns = session_.underruns();
    m.paused = session_.paused();
    m.soloPending = keys_.soloPending();
    m.watching = watch_ != nullptr;
    m.watchNote = watchNote_;
    m.ended = ended_;
    m.cursor = cursor_;
    // Marks are song frames; shown folded into the loop as the time is.
    if (sectionStart_ >= 0) m.sectionStart = qvb::songPlace(sectionStart_, m.figures);
    if (sectionEnd_ >= 0) m.sectionEnd = qvb::songPlace(sectionEnd_, m.figures);
    m.source.known = session_.sourceAt(cursor_, m.source.line, m.source.lineNumber, m.source.row);
    m.channels = session_.channels();
    m.problem = problem_;
    terminal_.draw(qvb::screenText(qvb::screenLines(m, terminal_.width())));
  }

  // Without a terminal: a line when the song's figures are known and for every loop heard.
  void report() {
    const qvb::SongFigures f = session_.figures();
    const int rate = session_.sampleRate();
    if (f.known && !figuresShown_) {
      figuresShown_ = true;
      std::fprintf(info_, "length %s, intro %s, loop %s\n", qvb::clockText(f.endFrame, rate).c_str(),
                  qvb::clockText(f.introFrames, rate).c_str(), qvb::clockText(f.loopFrames, rate).c_str());
    }
    const int loops = session_.loopsHeard();
    if (loops > loopsShown_) std::fprintf(info_, "loop %d\n", loops);
    loopsShown_ = loops;
    std::fflush(info_);
  }

  int finish(const char* why) {
    const std::int64_t at = session_.position();
    const std::int64_t underruns = session_.underruns();
    session_.stop();
    terminal_.restore();
    std::fprintf(info_, "%s at %s", why, qvb::clockText(at, session_.sampleRate()).c_str());
    if (options_.verbose) std::fprintf(info_, ", %lld underruns", static_cast<long long>(underruns));
    std::fprintf(info_, "\n");
    return 0;
  }

  const qvb::PlayOptions& options_;
  qvb::PlaySession& session_;
  qvb::Terminal& terminal_;
  std::unique_ptr<qvb::FileWatch> watch_;
  qvb::KeyMap keys_;
  // Where the plain lines go: beside a follow stream on standard output, to
  // standard error, so the stream holds nothing but JSON.
  std::FILE* info_ = options_.follow ? stderr : stdout;
  std::string watchNote_;
  bool ended_ = false;
  int cursor_ = 0;
  std::int64_t sectionStart_ = -1, sectionEnd_ = -1;
  std::vector<std::string> problem_;
  bool figuresShown_ = false;
  int loopsShown_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = qvb::parsePlayOptions(argc - 1, argv + 1, error);
  if (!options) {
    std::fprintf(stderr, "qvbplay: %s\n%s", error.c_str(), qvb::kPlayUsage);
    return 2;
  }
  if (options->help) {
    std::fputs(qvb::kPlayUsage, stdout);
    return 0;
  }
  if (options->version) {
    std::printf("qvbplay %s\n", qvb::kVersion);
    return 0;
  }
  std::unique_ptr<qvb::AudioPlatform> system =
      options->null ? std::unique_ptr<qvb::AudioPlatform>(std::make_unique<qvb::NullPlatform>())
                    : qvb::makeSystemAudioPlatform(qvb::DeviceRing::Short);
  if (options->listDevices) {
    for (int i = 0; i < system->deviceCount(); ++i) std::printf("%s\n", system->deviceName(i).c_str());
    if (system->deviceCount() == 0) std::printf("no output devices\n");
    return 0;
  }
  std::unique_ptr<qvb::AudioPlatform> chosen;
  qvb::AudioPlatform* platform = system.get();
  if (!options->device.empty()) {
    const int device = qvb::findDevice(*system, options->device);
    if (device < 0) {
      std::fprintf(stderr, "qvbplay: no output device named %s (see --list-devices)\n", options->device.c_str());
      return 1;
    }
    chosen = std::make_unique<qvb::ChosenDevice>(*system, device);
    platform = chosen.get();
  }

  qvb::SongFile file = qvb::readSongFile(options->input);
  if (!file.image) {
    printLines(stderr, file.messages);
    return 1;
  }

  qvb::PlaySession session(*platform, options->loops);
  if (!session.outputRunning()) {
    std::fprintf(stderr,
                 "qvbplay: no sound device could be opened; --null plays silently with the display, "
                 "and qvbrender %s writes the song to a .wav file\n",
                 qvb::textFor(stderr, options->input).c_str());
    return 1;
  }
  for (const char letter : options->mute) session.setMuted(letter - 'A', true);
  if (!session.open(std::move(*file.image), options->startFrames, std::move(file.map), std::move(file.lines))) {
    printLines(stderr, {"qvbplay: " + options->input + ": the song could not be played"});
    return 1;
  }

  // A follow stream owns standard output: no display, no keys.
  qvb::Terminal terminal(!options->follow);
  Player player(*options, session, terminal);
  player.showProblem(file.messages);
  return player.run();
}
