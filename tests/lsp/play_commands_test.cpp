// Songs played through the server on the silent output: what qvb/heard
// tells is heard, checked against the render session's own events for the
// same song (when each note sounds, and where it is written).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <unistd.h>

#include <cstdio>

#include "loader/song_loader.h"
#include "lsp/message_frames.h"
#include "lsp/stdio_server.h"
#include "render/render_session.h"
#include "sound/null_platform.h"
#include "tests/lsp/lsp_session.h"

namespace qvb::lsp {
namespace {

using test::Json;
using test::LspSession;

constexpr const char* kSong =
    "#TITLE <t>\n#CHANNEL 2\n#A t120 v12 o4 l8 c d e f g a b > c d e f g\n#B v10 o3 l4 c e g > c < g e c\n";
constexpr std::int64_t kTolerance = 44100 / 20;  // 50 ms

// A note as the render heard it: its channel, 0-based line and column, and
// the frames it sounds.
struct RenderedNote {
  int channel;
  std::size_t line, column;
  std::int64_t from, to;
};

class NoteLog final : public SequencerObserver {
 public:
  void onSequencerEvent(const SequencerEvent& e) override { events.push_back(e); }
  std::vector<SequencerEvent> events;
};

std::vector<RenderedNote> renderedNotes(const char* text) {
  const LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)));
  NoteLog log;
  RenderOptions options;
  options.loops = 1;
  options.observer = &log;
  RenderResult result;
  EXPECT_TRUE(renderSong(song.image.data(), song.image.size(), options, [](const std::int16_t*, std::int64_t) { return true; },
                         result));
  std::vector<RenderedNote> notes;
  for (std::size_t i = 0; i < log.events.size(); ++i) {
    const SequencerEvent& e = log.events[i];
    SourcePlace place;
    if (e.kind != SequencerEventKind::NoteOn || !song.map.find(e.channel, e.offset, place)) continue;
    std::int64_t to = result.framesWritten;
    for (std::size_t j = i + 1; j < log.events.size(); ++j)
      if (log.events[j].channel == e.channel) {
        to = log.events[j].frame;
        break;
      }
    notes.push_back({e.channel, static_cast<std::size_t>(place.line - 1), static_cast<std::size_t>(place.row - 1), e.frame, to});
  }
  return notes;
}

// The qvb/heard notifications of about the given time of playing.
std::vector<Json> heardFor(LspSession& session, std::chrono::milliseconds time) {
  std::vector<Json> heard;
  const auto end = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < end) {
    for (const std::string& m : session.server.poll()) heard.push_back(Json::parse(m));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return heard;
}

Json command(LspSession& session, const std::string& name, Json arguments) {
  return session.request("workspace/executeCommand", {{"command", name}, {"arguments", std::move(arguments)}});
}

Json place(int line, int character) { return {{"line", line}, {"character", character}}; }

// Every note told is one the render sounds there at that time, give or take 50 ms.
void expectRendered(const std::vector<Json>& heard, const std::vector<RenderedNote>& rendered) {
  for (const Json& h : heard) {
    ASSERT_EQ(h["method"], "qvb/heard");
    const std::int64_t frame = h["params"]["frame"];
    EXPECT_NEAR(h["params"]["seconds"].get<double>(), frame / 44100.0, 1e-3);
    for (const Json& n : h["params"]["notes"]) {
      const int channel = n["channel"].get<std::string>()[0] - 'A';
      const std::size_t line = n["range"]["start"]["line"], column = n["range"]["start"]["character"];
      const bool sounding = std::ranges::any_of(rendered, [&](const RenderedNote& r) {
        return r.channel == channel && r.line == line && r.column == column && r.from <= frame + kTolerance &&
               frame - kTolerance < r.to;
      });
      EXPECT_TRUE(sounding) << h;
    }
  }
}

TEST(PlayCommands, PlayingFromTheCursorTellsTheNotesHeardWhenTheRenderSoundsThem) {
  NullPlatform audio;
  LspSession session({}, &audio);
  session.start();
  session.open(kSong);
  const std::vector<RenderedNote> rendered = renderedNotes(kSong);
  // The cursor on "e" of channel A (line 2, column 22): the third eighth.
  EXPECT_TRUE(command(session, "qvb.playFrom", {"file:///song.qvm", place(2, 22)})["result"].is_null());
  const std::vector<Json> heard = heardFor(session, std::chrono::milliseconds(700));
  ASSERT_GE(heard.size(), 3u);
  const Json& first = heard[0]["params"];
  EXPECT_EQ(first["uri"], "file:///song.qvm");
  ASSERT_FALSE(first["notes"].empty());
  EXPECT_EQ(first["notes"][0]["channel"], "A");
  EXPECT_EQ(first["notes"][0]["range"], Json({{"start", place(2, 22)}, {"end", place(2, 23)}}));
  // Two eighths at t120 (interval 229): 2 * 24 * 229 * 2 frames in.
  EXPECT_NEAR(first["frame"].get<std::int64_t>(), 2 * 24 * 229 * 2, kTolerance);
  expectRendered(heard, rendered);
  EXPECT_TRUE(command(session, "qvb.stop", Json::array())["result"].is_null());
  EXPECT_FALSE(session.server.playing());
}

TEST(PlayCommands, ASelectionPlaysInALoopAndOnlyItsNotesAreHeard) {
  NullPlatform audio;
  LspSession session({}, &audio);
  session.start();
  session.open(kSong);
  // "c d" at the start of channel A: two eighths, 0.5 s.
  EXPECT_TRUE(command(session, "qvb.playSelection",
                      {"file:///song.qvm", {{"start", place(2, 18)}, {"end", place(2, 22)}}})["result"].is_null());
  const std::vector<Json> heard = heardFor(session, std::chrono::milliseconds(1300));
  bool cameBack = false;
  std::int64_t before = 0;
  for (const Json& h : heard) {
    const std::int64_t frame = h["params"]["frame"];
    cameBack = cameBack || frame < before;
    before = frame;
    EXPECT_LE(frame, 2 * 2 * 24 * 229 + kTolerance);
    for (const Json& n : h["params"]["notes"])
      if (n["channel"] == "A") {
        EXPECT_LT(n["range"]["start"]["character"].get<int>(), 22) << h;
      }
  }
  EXPECT_TRUE(cameBack);
  expectRendered(heard, renderedNotes(kSong));
}

std::size_t threadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

TEST(PlayCommands, PlaysInARowReplaceEachOtherAndShutdownStopsTheSound) {
  NullPlatform audio;
  LspSession session({}, &audio);
  session.start();
  session.open(kSong);
  const std::size_t threads = threadCount();
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(command(session, "qvb.playFrom", {"file:///song.qvm", place(3, 10 + i % 8)})["result"].is_null());
  // The device's thread and the one that measures the song, no more.
  EXPECT_LE(threadCount(), threads + 2);
  EXPECT_TRUE(session.server.playing());
  session.request("shutdown", nullptr);
  EXPECT_FALSE(session.server.playing());
}

TEST(PlayCommands, WrongArgumentsAndSongsThatDoNotCompileGetErrors) {
  NullPlatform audio;
  LspSession session({}, &audio);
  session.start();
  session.open(kSong);
  session.open("#TITLE <t>\n#CHANNEL 1\n#A v16 c\n", "file:///bad.qvm");
  struct Case {
    const char* name;
    Json arguments;
    int code;
  } const cases[] = {
      {"qvb.dance", Json::array(), -32602},
      {"qvb.play", Json::array(), -32602},
      {"qvb.play", {5}, -32602},
      {"qvb.play", {"file:///never.qvm"}, -32602},
      {"qvb.playFrom", {"file:///song.qvm"}, -32602},
      {"qvb.playFrom", {"file:///song.qvm", "here"}, -32602},
      {"qvb.playFrom", {"file:///song.qvm", place(3, 60)}, -32602},  // past the last note
      {"qvb.playSelection", {"file:///song.qvm", {{"start", place(2, 0)}}}, -32602},
      {"qvb.playSelection", {"file:///song.qvm", {{"start", place(0, 0)}, {"end", place(1, 3)}}}, -32602},  // no note
      {"qvb.play", {"file:///bad.qvm"}, -32803},
  };
  for (const Case& c : cases)
    EXPECT_EQ(command(session, c.name, c.arguments)["error"]["code"], c.code) << c.name << c.arguments;
  EXPECT_FALSE(session.server.playing());
  LspSession silent;  // a server given no sound
  silent.start();
  silent.open(kSong);
  EXPECT_EQ(command(silent, "qvb.play", {"file:///song.qvm"})["error"]["code"], -32803);
}

std::string framed(const Json& message) {
  const std::string body = message.dump();
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(PlayCommands, TheProgramTellsWhatIsHeardWhileItWaitsAndEndsWithItsInput) {
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  std::FILE* out = std::tmpfile();
  ASSERT_TRUE(out);
  std::thread editor([&] {
    const std::string messages =
        framed({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"}, {"params", {{"capabilities", Json::object()}}}}) +
        framed({{"jsonrpc", "2.0"}, {"method", "textDocument/didOpen"},
                {"params", {{"textDocument", {{"uri", "file:///song.qvm"}, {"text", kSong}}}}}}) +
        framed({{"jsonrpc", "2.0"}, {"id", 2}, {"method", "workspace/executeCommand"},
                {"params", {{"command", "qvb.play"}, {"arguments", {"file:///song.qvm"}}}}});
    EXPECT_EQ(::write(input[1], messages.data(), messages.size()), static_cast<ssize_t>(messages.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // more than two eighths
    ::close(input[1]);  // the editor goes
  });
  NullPlatform audio;
  EXPECT_EQ(serveOn(input[0], fileno(out), &audio), 1);
  editor.join();
  ::close(input[0]);
  std::rewind(out);
  std::string written(1 << 16, '\0');
  written.resize(std::fread(written.data(), 1, written.size(), out));
  std::fclose(out);
  FrameReader reader;
  reader.feed(written);
  std::vector<Json> heard;
  while (auto frame = reader.next()) {
    const Json message = Json::parse(frame->body);
    if (message.value("method", "") == "qvb/heard") heard.push_back(message);
  }
  ASSERT_GE(heard.size(), 2u) << written;  // c, then d, from the waiting loop
  expectRendered(heard, renderedNotes(kSong));
}

}  // namespace
}  // namespace qvb::lsp
