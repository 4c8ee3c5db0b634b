// qvbplay's screen on a terminal (a tmux session, the --null device) read
// again and again while it plays: the note shown is the one the song has at
// the time shown, a save is reloaded and a vanished file shown, and an a-b
// section keeps the position inside it. The checks hold the screen to the
// song, never to the wall clock, so a busy machine only makes them slower.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "loader/song_loader.h"
#include "play/display.h"
#include "render/render_session.h"
#include "tests/support/run_process.h"
#include "tests/support/tmux_session.h"

namespace qvb {
namespace {

const std::string kProgram = test::program(QVBPLAY_EXE);
constexpr std::int64_t kFramesPerTenth = 4410;
// Eighth notes of 0.2 s at t150, each a different pitch.
const std::string kSteps = "#TITLE <steps>\n#CHANNEL 1\n#A v15 t150 l8 $ c d e f g a b > c <\n";

std::optional<int> tenthsOf(const std::string& text) {
  std::smatch m;
  if (!std::regex_match(text, m, std::regex(R"((\d+):(\d\d)\.(\d))"))) return std::nullopt;
  return (std::stoi(m[1]) * 60 + std::stoi(m[2])) * 10 + std::stoi(m[3]);
}

// The time on the status line, in tenths, its bar and beat (once known), and
// channel A's note as shown.
struct Shown {
  int tenths = 0;
  std::string bar;
  std::string note;
};
std::optional<Shown> readScreen(const std::string& screen) {
  std::smatch time, note, bar;
  if (!std::regex_search(screen, time, std::regex(R"((?:playing|paused|ended) +(\d+:\d\d\.\d))")) ||
      !std::regex_search(screen, note, std::regex(R"(\n[> ] +1 A (\S+))"))) {
    return std::nullopt;
  }
  std::regex_search(screen, bar, std::regex(R"(bar (\d+:\d+))"));
  return Shown{*tenthsOf(time[1]), bar.empty() ? "" : bar[1].str(), note[1]};
}

// Channel A's notes as a render of the song hears them, each with the tick
// the lengths before it add up to.
struct Note {
  std::int64_t frame = 0;
  int note = 0;
  std::int64_t tick = 0;
};
std::vector<Note> notesOf(const std::string& source) {
  struct Notes final : SequencerObserver {
    std::vector<Note> heard;
    std::int64_t ticks = 0;
    void onSequencerEvent(const SequencerEvent& e) override {
      if (e.channel != 0 || e.kind != SequencerEventKind::NoteOn) return;
      heard.push_back({e.frame, e.note, ticks});
      ticks += e.ticks;
    }
  } notes;
  const LoadedSong song = loadSong({reinterpret_cast<const std::uint8_t*>(source.data()), source.size()});
  RenderOptions options;
  options.observer = &notes;
  RenderResult result;
  renderSong(song.image.data(), song.image.size(), options, [](const std::int16_t*, std::int64_t) { return true; },
             result);
  return notes.heard;
}

// Starts the program on the song in a session of its own.
struct Playing {
  std::string dir = test::makeTempDir();
  test::Tmux tmux{"qvbplay-screen"};
  Playing(const std::string& source, const std::string& options) {
    test::writeFile(dir + "/s.qvm", source);
    tmux.run("new-session -d -s play -x 70 -y 14 \"cd '" + dir + "' && " + test::shellCommand(kProgram) + " --null " + options +
             " s.qvm; sleep 60\"");
  }
  ~Playing() { std::system(("rm -rf '" + dir + "'").c_str()); }
};

TEST(QvbplayScreen, TheNoteAndBeatShownAreThoseTheSongPlaysWithinFiftyMillisecondsOfTheTimeShown) {
  if (!test::haveTmux()) GTEST_SKIP() << "tmux is not installed";
  const auto notes = notesOf(kSteps);
  ASSERT_GE(notes.size(), 8u);
  Playing play(kSteps, "");
  ASSERT_TRUE(play.tmux.waitFor("playing ")) << play.tmux.screen();
  int checked = 0;
  for (int i = 0; i < 40; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(60))) {
    const std::string screen = play.tmux.screen();
    const auto shown = readScreen(screen);
    if (!shown) continue;
    // The time is cut to tenths: heard somewhere in [t, t + 0.1 s), and the
    // note may be that of a frame 50 ms to either side.
    const std::int64_t from = shown->tenths * kFramesPerTenth - kFramesPerTenth / 2;
    const std::int64_t to = (shown->tenths + 1) * kFramesPerTenth + kFramesPerTenth / 2;
    // The song's loop is one bar of eighth notes, so the bar shown is
    // always the first, and the beat that of the note.
    std::vector<std::string> possible, bars;
    for (std::size_t n = 0; n < notes.size(); ++n) {
      const std::int64_t end = n + 1 < notes.size() ? notes[n + 1].frame : INT64_MAX;
      if (notes[n].frame >= to || end <= from) continue;
      possible.push_back(noteName(notes[n].note));
      bars.push_back("1:" + std::to_string(notes[n].tick % 192 / 48 + 1));
    }
    EXPECT_THAT(possible, testing::Contains(shown->note)) << screen;
    if (!shown->bar.empty()) {
      EXPECT_THAT(bars, testing::Contains(shown->bar)) << screen;
    }
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

TEST(QvbplayScreen, UnderWatchASaveIsReloadedAndAVanishedFileIsShownUntilItIsBack) {
  if (!test::haveTmux()) GTEST_SKIP() << "tmux is not installed";
  const auto song = [](const char* note) {
    return std::string("#TITLE <w>\n#CHANNEL 1\n#A v15 o5 l1 $ ") + note + "\n";
  };
  Playing play(song("c"), "--watch");
  const auto showsNote = [](const std::string& note) {
    return [note](const std::string& s) {
      const auto shown = readScreen(s);
      return shown && shown->note == note;
    };
  };
  ASSERT_TRUE(play.tmux.waitUntil(showsNote("c5"))) << play.tmux.screen();
  test::writeFile(play.dir + "/s.qvm", song("e"));
  EXPECT_TRUE(play.tmux.waitUntil(showsNote("e5"))) << play.tmux.screen();
  EXPECT_TRUE(play.tmux.waitFor("reloaded ")) << play.tmux.screen();
  std::remove((play.dir + "/s.qvm").c_str());
  EXPECT_TRUE(play.tmux.waitFor("file gone")) << play.tmux.screen();
  test::writeFile(play.dir + "/s.qvm", song("g"));
  EXPECT_TRUE(play.tmux.waitUntil([&](const std::string& s) {
    return showsNote("g5")(s) && s.find("file gone") == std::string::npos;
  })) << play.tmux.screen();
}

// Waits until the screen shows the pattern; the match points into `screen`.
std::optional<std::smatch> waitForMarks(test::Tmux& tmux, const char* pattern, std::string& screen) {
  std::smatch found;
  const std::regex marks(pattern);
  if (!tmux.waitUntil([&](const std::string& s) {
        screen = s;
        return std::regex_search(screen, found, marks);
      }))
    return std::nullopt;
  return found;
}

TEST(QvbplayScreen, AnABSectionKeepsThePositionInsideItAndComesBackToItsStart) {
  if (!test::haveTmux()) GTEST_SKIP() << "tmux is not installed";
  Playing play(kSteps, "");
  ASSERT_TRUE(play.tmux.waitUntil([](const std::string& s) {
    const auto shown = readScreen(s);
    return shown && shown->tenths >= 3;
  })) << play.tmux.screen();
  play.tmux.run("send-keys -t play a");
  // b once the song is heard well past a (a busy machine may take the keys late).
  std::string screen;
  const std::optional<std::smatch> markA = waitForMarks(play.tmux, R"( a (\d+:\d\d\.\d))", screen);
  ASSERT_TRUE(markA) << play.tmux.screen();
  // The loop is 1.5 s long: b half a second on, or as late in it as there is.
  const int bAt = std::min(*tenthsOf((*markA)[1]) + 5, 14);
  ASSERT_TRUE(play.tmux.waitUntil([bAt](const std::string& s) {
    const auto shown = readScreen(s);
    return shown && shown->tenths >= bAt;
  })) << play.tmux.screen();
  play.tmux.run("send-keys -t play b");
  const std::optional<std::smatch> marks =
      waitForMarks(play.tmux, R"(a (\d+:\d\d\.\d) b (\d+:\d\d\.\d))", screen);
  ASSERT_TRUE(marks) << play.tmux.screen();
  const int a = *tenthsOf((*marks)[1]);
  const int b = *tenthsOf((*marks)[2]);
  ASSERT_LT(a, b) << screen;
  int previous = -1, backs = 0, checked = 0;
  for (int i = 0; i < 30; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(70))) {
    const std::string now = play.tmux.screen();
    const auto shown = readScreen(now);
    if (!shown) continue;
    // b is acted on at the next refresh (every 50 ms): a little past it may show.
    EXPECT_GE(shown->tenths, a) << now;
    EXPECT_LE(shown->tenths, b + 2) << now;
    if (shown->tenths < previous) ++backs;
    previous = shown->tenths;
    ++checked;
  }
  EXPECT_GE(checked, 15);
  EXPECT_GE(backs, 1) << "the section was never begun again";
}

}  // namespace
}  // namespace qvb
