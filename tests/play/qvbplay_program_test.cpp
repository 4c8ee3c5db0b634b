// The real program: plain lines without a terminal, a clear refusal without
// a device, and on a terminal (a detached tmux session of fixed size, with a
// private server) its display, its keys and the terminal given back. The
// Windows program runs the same tests under Wine, whose console is the tmux
// terminal, but for Ctrl-Z: Windows stops no process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sstream>
#include <regex>
#include <thread>

#include "compiler/source_map.h"
#include "loader/song_loader.h"
#include "play/play_options.h"
#include "qvbp_version.h"
#include "render/render_session.h"
#include "song/qvb_player.h"
#include "song/sequencer_events.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"
#include "tests/support/run_process.h"
#include "tests/support/tmux_session.h"

namespace qvb {
namespace {

const std::string kProgram = test::program(QVBPLAY_EXE);
const bool kUnderWine = kProgram.ends_with(".exe");

// Standard error less what Wine itself says: its ALSA library before the
// program on a machine without a sound card, and now and then its client as
// the process ends (their lines end bare: shown as "\\n").
std::string programErrors(std::string err) {
  for (const char* wine : {"ALSA lib ", "wine client error"}) {
    for (std::size_t at; kUnderWine && (at = err.find(wine)) != std::string::npos;) {
      const std::size_t end = err.find("\\n", at);
      err.erase(at, end == std::string::npos ? std::string::npos : end + 2 - at);
    }
  }
  return err;
}
const std::string kShortLoop = "#TITLE <short>\n#CHANNEL 1\n#A v12 l16 $ c d\n";

TEST(QvbplayProgram, WithoutATerminalItWritesPlainLinesAndStopsAfterTheLoops) {
  const std::string dir = test::makeTempDir();
  test::writeFile(dir + "/short.qvm", kShortLoop);
  const test::ProcessResult r = test::runProcess({kProgram, "--null", "-l", "1", "short.qvm"}, dir);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("playing short.qvm: short\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("end at 0:00."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\033'), std::string::npos) << "no escape codes in a pipe";
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(QvbplayProgram, HelpAndVersionNeedNoSongAndNoDevice) {
  const test::ProcessResult help = test::runProcess({kProgram, "--help"}, ".");
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.out, kPlayUsage);
  const test::ProcessResult version = test::runProcess({kProgram, "--version"}, ".");
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, std::string("qvbplay ") + kVersion + "\n");
}

TEST(QvbplayProgram, AnUnknownDeviceIsRefusedWithExitStatusOne) {
  const std::string dir = test::makeTempDir();
  test::writeFile(dir + "/short.qvm", kShortLoop);
  const test::ProcessResult r = test::runProcess({kProgram, "--device", "qvb-no-such-device", "short.qvm"}, dir);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(programErrors(r.err), "qvbplay: no output device named qvb-no-such-device (see --list-devices)\n");
  std::system(("rm -rf '" + dir + "'").c_str());
}

// Whether the display's row of a channel ("1 A ...") ends in "muted".
bool shownMuted(const std::string& screen, const std::string& row) {
  for (std::size_t at = 0, end; (end = screen.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = screen.substr(at, end - at);
    line.erase(0, line.find_first_not_of("> "));  // the picked channel's mark
    if (line.rfind(row + " ", 0) != 0) continue;
    return line.size() >= 5 && line.compare(line.size() - 5, 5, "muted") == 0;
  }
  return false;
}

// The place a paused display shows ("paused  M:SS.t"), in tenths of a
// second; -1 when it shows none.
int pausedTenths(const std::string& screen) {
  const std::size_t at = screen.find("paused  ");
  int minutes = 0, seconds = 0, tenths = 0;
  if (at == std::string::npos || std::sscanf(screen.c_str() + at + 8, "%d:%d.%1d", &minutes, &seconds, &tenths) != 3)
    return -1;
  return (minutes * 60 + seconds) * 10 + tenths;
}

// Waits until the paused display shows `tenths` (a tenth either way: the
// display rounds); the pause itself may come late on a busy machine.
bool showsPausedAt(test::Tmux& tmux, int tenths) {
  return tmux.waitUntil([tenths](const std::string& s) { return std::abs(pausedTenths(s) - tenths) <= 1; });
}

TEST(QvbplayProgram, OnATerminalKeysSteerTheDisplayAndQuitGivesTheTerminalBack) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  const std::string song = std::string(QVBP_SOURCE_DIR) + "/examples/demo.qvm";
  test::Tmux tmux;
  // After the program, the shell reports its status and the modes it finds.
  const std::string after =
      "echo EXIT=\\$?; stty -a | tr ' ' '\\n' | grep -x -e icanon -e -icanon -e echo -e -echo | tr '\\n' ' '; "
      "echo; sleep 60";
  const std::string command = test::shellCommand(kProgram) + " --null " + song + "; " + after;
  ASSERT_EQ(tmux.run("new-session -d -s play -x 60 -y 20 \"" + command + "\""), 0);
  ASSERT_TRUE(tmux.waitFor("playing ")) << tmux.screen();
  EXPECT_TRUE(tmux.waitFor("Morning Walk")) << tmux.screen();
  EXPECT_TRUE(tmux.waitFor("4 D ")) << tmux.screen();

  tmux.run("send-keys -t play Space");
  ASSERT_TRUE(tmux.waitUntil([](const std::string& s) { return pausedTenths(s) >= 0; })) << tmux.screen();
  const int paused = pausedTenths(tmux.screen());
  tmux.run("send-keys -t play 1");
  EXPECT_TRUE(tmux.waitUntil([](const std::string& s) { return shownMuted(s, "1 A"); })) << tmux.screen();
  tmux.run("send-keys -t play s 2");
  EXPECT_TRUE(tmux.waitUntil([](const std::string& s) {
    return shownMuted(s, "1 A") && !shownMuted(s, "2 B") && shownMuted(s, "3 C") && shownMuted(s, "4 D");
  })) << "channel B soloed\n" << tmux.screen();
  tmux.run("send-keys -t play Right");
  EXPECT_TRUE(showsPausedAt(tmux, paused + 50)) << tmux.screen();

  // Wine's console keeps the size the terminal had when it started.
  if (!kUnderWine) {
    tmux.run("resize-window -t play -x 20 -y 20");
    EXPECT_TRUE(showsPausedAt(tmux, paused + 50)) << "still drawing at 20 columns\n" << tmux.screen();
    for (std::size_t at = 0, end; (end = tmux.screen().find('\n', at)) != std::string::npos; at = end + 1)
      EXPECT_LE(end - at, 20u);
  }

  tmux.run("send-keys -t play q");
  EXPECT_TRUE(tmux.waitFor("EXIT=0")) << tmux.screen();
  EXPECT_TRUE(tmux.waitFor("icanon echo")) << "the terminal is cooked again\n" << tmux.screen();
}

// Under Wine: what qvbplay.exe sends through winmm lands in a file (a
// `file` PCM over a `null` one, which Wine drains faster than real time).
// A pause must be heard at once: the song's sound ends where the display
// says it paused. Were the queue played out first, a ring of buffers
// (0.37 s) more would come. (A seek does the same, but the silent run to
// its target takes time in which the fast drain moves on.)
TEST(QvbplayProgram, UnderWineAPauseThroughWinmmIsHeardAtOnce) {
  if (!kUnderWine) GTEST_SKIP() << "for the Windows program; ALSA's drop has tests of its own";
  const std::string source = "#TITLE <scale>\n#CHANNEL 1\n#A v12 o2 l8 $ c c+ d d+ e f f+ g g+ a a+ b <\n";
  const std::string dir = test::makeTempDir();
  test::writeFile(dir + "/scale.qvm", source);
  test::writeFile(dir + "/asound.conf", "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" + dir +
                                            "/capture.raw\"\n  format \"raw\"\n}\n");
  test::Tmux tmux;
  const std::string command = "cd " + dir + " && ALSA_CONFIG_PATH=" + dir + "/asound.conf " +
                              test::shellCommand(kProgram) + " scale.qvm; echo EXIT=\\$?; sleep 60";
  ASSERT_EQ(tmux.run("new-session -d -s play -x 60 -y 20 \"" + command + "\""), 0);
  ASSERT_TRUE(tmux.waitFor("playing 0:02.")) << tmux.screen();
  tmux.run("send-keys -t play Space");
  std::smatch paused;
  std::string screen;
  ASSERT_TRUE(tmux.waitUntil([&](const std::string& s) {
    screen = s;
    return std::regex_search(screen, paused, std::regex(R"(paused +(\d+):(\d\d)\.(\d))"));
  })) << tmux.screen();
  const std::int64_t pausedAt =
      ((std::stoll(paused[1]) * 60 + std::stoll(paused[2])) * 10 + std::stoll(paused[3])) * 4410;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // silence meanwhile
  tmux.run("send-keys -t play C-c");  // a key, as q, though Wine's console also signals it
  ASSERT_TRUE(tmux.waitFor("quit at ")) << tmux.screen();
  ASSERT_TRUE(tmux.waitFor("EXIT=0")) << tmux.screen();

  constexpr std::size_t kFrame = 4;
  const std::string heard = test::readFile(dir + "/capture.raw");
  std::system(("rm -rf '" + dir + "'").c_str());
  LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size()));
  ASSERT_TRUE(song.ok());
  std::string rendered;
  RenderOptions options;
  options.lengthFrames = static_cast<std::int64_t>(heard.size() / kFrame) + 44100;
  RenderResult result;
  ASSERT_TRUE(renderSong(song.image.data(), song.image.size(), options,
                         [&](const std::int16_t* samples, std::int64_t frames) {
                           rendered.append(reinterpret_cast<const char*>(samples), std::size_t(frames) * kFrame);
                           return true;
                         },
                         result));
  // From the first sound on, the render, but for silent frames (Wine's where
  // it ran dry, and the pause's): where the song's sound stopped.
  const std::string silentFrame(kFrame, '\0');
  std::size_t at = heard.find_first_not_of('\0') / kFrame * kFrame;
  std::size_t next = rendered.find_first_not_of('\0') / kFrame * kFrame;
  ASSERT_LT(at, heard.size()) << "nothing but silence arrived";
  for (; at + kFrame <= heard.size(); at += kFrame) {
    if (heard.compare(at, kFrame, rendered, next, kFrame) == 0) {
      next += kFrame;
    } else {
      ASSERT_EQ(heard.compare(at, kFrame, silentFrame), 0) << "not the song at byte " << at;
    }
  }
  // The time shown is cut to tenths: the pause came in the tenth after it.
  // Wine counts as played some frames that its reset then throws away, so
  // the sound may stop a little before.
  const double after = static_cast<double>(static_cast<std::int64_t>(next / kFrame) - pausedAt) / 44100;
  EXPECT_LT(after, 0.2) << "seconds of the song played on after the pause";
  EXPECT_GT(after, -0.3);
}

TEST(QvbplayProgram, AfterCtrlZAndFgKeysActAtOnceAndACutSequenceIsOneKey) {
  if (kUnderWine) GTEST_SKIP() << "Windows stops no process";
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  const std::string song = std::string(QVBP_SOURCE_DIR) + "/examples/demo.qvm";
  test::Tmux tmux;
  ASSERT_EQ(tmux.run("new-session -d -s play -x 60 -y 20 \"env PS1='$ ' bash --norc --noprofile -i\""), 0);
  tmux.run("send-keys -t play '" + kProgram + " --null " + song + "' Enter");
  ASSERT_TRUE(tmux.waitFor("playing ")) << tmux.screen();
  tmux.run("send-keys -t play Space");
  ASSERT_TRUE(tmux.waitUntil([](const std::string& s) { return pausedTenths(s) >= 0; })) << tmux.screen();
  const int paused = pausedTenths(tmux.screen());
  tmux.run("send-keys -t play C-z");
  ASSERT_TRUE(tmux.waitFor("Stopped")) << tmux.screen();
  tmux.run("send-keys -t play fg Enter");
  ASSERT_TRUE(tmux.waitFor("paused ")) << tmux.screen();
  tmux.run("send-keys -t play Right");  // no Enter: raw mode again
  EXPECT_TRUE(showsPausedAt(tmux, paused + 50)) << tmux.screen();
  // Bytes that fill a small read up to the arrow's first byte, in one write.
  tmux.run("send-keys -t play -l \"$(printf '" + std::string(63, 'x') + "\\033[C')\"");
  EXPECT_TRUE(showsPausedAt(tmux, paused + 100)) << tmux.screen();
  tmux.run("send-keys -t play q");
  EXPECT_TRUE(tmux.waitFor("quit at")) << tmux.screen();
}

// What the sequencer reports of a song's notes, rests and ends, read on a
// player pulled as every host pulls it, each with the source place it maps to.
struct Reported : SequencerObserver {
  std::vector<SequencerEvent> events;
  void onSequencerEvent(const SequencerEvent& e) override {
    if (e.kind == SequencerEventKind::NoteOn || e.kind == SequencerEventKind::Rest ||
        e.kind == SequencerEventKind::ChannelEnd) {
      events.push_back(e);
    }
  }
};

TEST(QvbplayProgram, TheFollowStreamNamesEveryNoteAndRestWhereTheSongPlaysItAndWhereTheSourceSaysIt) {
  const std::string source = "#TITLE <f>\n#CHANNEL 2\n#A v9 l8 c [2 d\n e] r\n#B v9 o5 l4 g a\n";
  const std::string dir = test::makeTempDir();
  test::writeFile(dir + "/f.qvm", source);
  const test::ProcessResult r = test::runProcess({kProgram, "--null", "--follow", "-l", "1", "f.qvm"}, dir);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::system(("rm -rf '" + dir + "'").c_str());

  LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size()));
  ASSERT_TRUE(song.ok());
  Reported reported;
  QvbPlayer player;
  player.setObserver(&reported);
  ASSERT_EQ(player.load(song.image.data(), song.image.size()), PLAYER_READY);
  ASSERT_EQ(player.start(), 1);
  PullStream stream(*player.mixer());
  std::vector<std::int16_t> sound(2 * 44100 * 3);
  stream.pullFrames(sound.data(), 44100 * 3);

  std::vector<std::string> expected;
  for (const SequencerEvent& e : reported.events) {
    std::string line = "{\"frame\":" + std::to_string(e.frame);
    line += std::string(",\"channel\":\"") + static_cast<char>('A' + e.channel) + "\"";
    SourcePlace place;
    if (e.offset >= 0 && song.map.find(e.channel, e.offset, place)) {
      line += ",\"line\":" + std::to_string(place.line) + ",\"row\":" + std::to_string(place.row);
    }
    expected.push_back(line);
  }
  // Each line of the stream, with its seconds, kind and note left out.
  std::vector<std::string> got;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"re(\{"frame":(\d+),"seconds":[0-9.]+,"channel":"([A-Z])",)re"
                                                     R"re("kind":"(note|rest)"(,"note":"[a-g]#?\d")?(,"line":\d+,"row":\d+)?\})re")))
        << line;
    got.push_back("{\"frame\":" + m[1].str() + ",\"channel\":\"" + m[2].str() + "\"" +
                  (m[5].matched ? m[5].str() : ""));
  }
  ASSERT_LE(got.size(), expected.size());
  EXPECT_GE(got.size(), 8u);
  expected.resize(got.size());
  EXPECT_EQ(got, expected);
  // The notes point at their letters: c on line 3, d and e (twice) on 3 and 4, g and a on 5.
  EXPECT_NE(r.out.find(R"("note":"c4","line":3,"row":10})"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"("note":"e4","line":4,"row":2})"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qvb
