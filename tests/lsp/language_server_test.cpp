// The server's protocol: the session's order (initialize, shutdown, exit),
// the errors bad messages get, the open songs and their limits, and the
// position encodings.
#include "lsp/language_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "lsp/stdio_server.h"

#include "tests/lsp/lsp_session.h"

namespace qvb::lsp {
namespace {

using test::Json;
using test::LspSession;

ServerLimits limits(std::size_t documents, std::size_t bytes) {
  ServerLimits l;
  l.openDocuments = documents;
  l.documentBytes = bytes;
  return l;
}

constexpr const char* kCleanSong = "#TITLE <t>\n#CHANNEL 1\n#A v12 c\n";

TEST(LanguageServer, InitializeOffersTheFeaturesAndUtf8WhenTheEditorTakesIt) {
  for (const bool utf8 : {false, true}) {
    LspSession session;
    const Json caps = session.start(utf8)["result"]["capabilities"];
    EXPECT_EQ(caps["positionEncoding"], utf8 ? "utf-8" : "utf-16");
    EXPECT_EQ(caps["textDocumentSync"]["change"], 1);  // the whole text each time
    EXPECT_EQ(caps["hoverProvider"], true);
    EXPECT_TRUE(caps.contains("completionProvider"));
    EXPECT_EQ(caps["documentSymbolProvider"], true);
    EXPECT_EQ(caps["definitionProvider"], true);
    EXPECT_EQ(caps["referencesProvider"], true);
    EXPECT_EQ(caps["semanticTokensProvider"]["full"], true);
    EXPECT_EQ(caps["executeCommandProvider"]["commands"],
              Json({"qvb.play", "qvb.playFrom", "qvb.playSelection", "qvb.stop"}));
  }
}

TEST(LanguageServer, BadMessagesGetTheProtocolsErrorsAndNoCrash) {
  struct Case {
    const char* body;
    int code;
  } const cases[] = {
      {"{\"jsonrpc\":\"2.0\",", -32700},
      {"\xff", -32700},
      {"[]", -32600},
      {"17", -32600},
      {R"({"jsonrpc":"2.0","id":{},"method":"shutdown"})", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":7})", -32600},
      {R"({"id":1,"method":"shutdown"})", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":"textDocument/rename","params":{}})", -32601},
      {R"({"jsonrpc":"2.0","id":1,"method":"textDocument/hover","params":{}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"textDocument/hover","params":{"textDocument":{"uri":3}}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"textDocument/hover",
           "params":{"textDocument":{"uri":"file:///song.qvm"},"position":{"line":"0","character":0}}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"textDocument/definition","params":{"textDocument":{"uri":"file:///song.qvm"}}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"textDocument/references","params":{"position":{"line":0,"character":0}}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"textDocument/semanticTokens/full","params":{"textDocument":[]}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})", -32600},  // a second one
  };
  LspSession session;
  session.start();
  session.open(kCleanSong);
  for (const Case& c : cases) {
    const std::vector<Json> out = session.raw(c.body);
    ASSERT_EQ(out.size(), 1u) << c.body;
    EXPECT_EQ(out[0]["error"]["code"], c.code) << c.body;
  }
  // Notifications get no answer, known or not, well formed or not.
  EXPECT_TRUE(session.notify("$/unknown", Json::object()).empty());
  EXPECT_TRUE(session.notify("textDocument/didChange", {{"textDocument", 5}}).empty());
}

TEST(LanguageServer, RequestsBeforeInitializeAreRefusedAndNotificationsDropped) {
  LspSession session;
  EXPECT_EQ(session.request("shutdown", nullptr)["error"]["code"], -32002);
  EXPECT_TRUE(session.open(kCleanSong).contains("published"));  // nothing published
  session.start();
  EXPECT_EQ(session.server.openDocuments(), 0u);
}

TEST(LanguageServer, ExitEndsWithZeroOnlyAfterShutdown) {
  for (const bool shutDown : {true, false}) {
    LspSession session;
    session.start();
    if (shutDown) {
      EXPECT_TRUE(session.request("shutdown", nullptr)["result"].is_null());
      EXPECT_EQ(session.request("textDocument/hover", {})["error"]["code"], -32600);
    }
    EXPECT_FALSE(session.server.exited());
    session.notify("exit", nullptr);
    EXPECT_TRUE(session.server.exited());
    EXPECT_EQ(session.server.exitStatus(), shutDown ? 0 : 1);
  }
}

std::string framed(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }

TEST(LanguageServer, TheProgramAnswersFramedAndEndsWithTheProtocolsStatus) {
  const std::string init = framed(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}})");
  const std::string shutdown = framed(R"({"jsonrpc":"2.0","id":2,"method":"shutdown"})");
  const std::string exit = framed(R"({"jsonrpc":"2.0","method":"exit"})");
  struct Case {
    std::string input;
    int status;
    int replies;
  } const cases[] = {
      {init + shutdown + exit + framed("{]"), 0, 2},  // nothing is read after exit
      {init + exit, 1, 1},
      {init, 1, 1},  // the input ends without exit
  };
  for (const Case& c : cases) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(in && out);
    std::fwrite(c.input.data(), 1, c.input.size(), in);
    std::fflush(in);
    std::rewind(in);
    EXPECT_EQ(serveOn(fileno(in), fileno(out)), c.status) << c.input;
    std::rewind(out);
    std::string written(1 << 12, '\0');
    written.resize(std::fread(written.data(), 1, written.size(), out));
    FrameReader reader;
    reader.feed(written);
    int replies = 0;
    while (auto frame = reader.next()) replies += Json::parse(frame->body).contains("id") ? 1 : 0;
    EXPECT_EQ(replies, c.replies) << written;
    std::fclose(in);
    std::fclose(out);
  }
}

TEST(LanguageServer, SongsNeverOpenedAndPlacesOutsideTheTextGetNull) {
  LspSession session;
  session.start();
  session.open(kCleanSong);
  EXPECT_TRUE(session.at("textDocument/hover", 0, 0, "file:///other.qvm")["result"].is_null());
  EXPECT_TRUE(session.request("textDocument/documentSymbol", {{"textDocument", {{"uri", "file:///x"}}}})["result"]
                  .is_null());
  for (const auto& [line, character] : {std::pair{3, 0}, {99, 0}, {-1, 0}, {0, -5}})
    EXPECT_TRUE(session.at("textDocument/hover", line, character)["result"].is_null()) << line << ":" << character;
}

TEST(LanguageServer, ASongAtTheSizeLimitIsCheckedAndOneBytePastIsRefusedInWords) {
  const std::string song = kCleanSong;
  LspSession session(limits(4, song.size()));
  session.start();
  EXPECT_TRUE(session.open(song).is_array());
  const Json refused = session.open(song + " ", "file:///big.qvm");
  ASSERT_TRUE(refused.contains("published")) << refused;
  const Json& said = refused["published"][0];
  EXPECT_EQ(said["method"], "window/showMessage");
  EXPECT_NE(said["params"]["message"].get<std::string>().find("more than the " + std::to_string(song.size())),
            std::string::npos);
  EXPECT_EQ(session.server.openDocuments(), 1u);
}

TEST(LanguageServer, NoMoreSongsThanTheLimitStayOpen) {
  LspSession session(limits(2, 1000));
  session.start();
  for (const char* uri : {"file:///1", "file:///2", "file:///3"}) session.open(kCleanSong, uri);
  EXPECT_EQ(session.server.openDocuments(), 2u);
  // Closing one makes room, and the closed song's diagnostics are cleared.
  const std::vector<Json> closed = session.notify("textDocument/didClose", {{"textDocument", {{"uri", "file:///1"}}}});
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0]["params"]["diagnostics"], Json::array());
  EXPECT_TRUE(session.open(kCleanSong, "file:///3").is_array());
}

// The faulty command v16 stands after a comment holding U+1F600 (four bytes,
// two UTF-16 units): bytes 10..13 of the line, UTF-16 units 8..11.
TEST(LanguageServer, PositionsAreCountedInTheAgreedEncoding) {
  const std::string song = "#TITLE <t>\n#CHANNEL 1\n#A {\xf0\x9f\x98\x80} v16 c\n";
  for (const bool utf8 : {false, true}) {
    LspSession session;
    session.start(utf8);
    const Json diagnostics = session.open(song);
    ASSERT_EQ(diagnostics.size(), 1u) << diagnostics;
    const int start = utf8 ? 10 : 8;
    EXPECT_EQ(diagnostics[0]["range"], (Json{{"start", {{"line", 2}, {"character", start}}},
                                            {"end", {{"line", 2}, {"character", start + 3}}}}));
    // A hover at the note after it finds the note.
    const Json hover = session.at("textDocument/hover", 2, start + 4);
    EXPECT_EQ(hover["result"]["range"]["start"]["character"], start + 4) << hover;
  }
}

TEST(LanguageServer, AChangeReplacesTheTextAndPublishesAgain) {
  LspSession session;
  session.start();
  ASSERT_EQ(session.open("#TITLE <t>\n#CHANNEL 1\n#A v16 c\n").size(), 1u);
  const std::vector<Json> out = session.notify(
      "textDocument/didChange",
      {{"textDocument", {{"uri", "file:///song.qvm"}, {"version", 2}}}, {"contentChanges", {{{"text", kCleanSong}}}}});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]["params"]["version"], 2);
  EXPECT_EQ(out[0]["params"]["diagnostics"], Json::array());
  // A thousand changes, as a fast typist's editor sends them: one answer
  // each, for that change's text, and nothing kept of the ones before.
  for (int version = 3; version < 1003; ++version) {
    const int volume = version % 20 + 1;  // v16 and above are errors
    const std::string text = "#TITLE <t>\n#CHANNEL 1\n#A v" + std::to_string(volume) + " c\n";
    const std::vector<Json> answer = session.notify(
        "textDocument/didChange",
        {{"textDocument", {{"uri", "file:///song.qvm"}, {"version", version}}}, {"contentChanges", {{{"text", text}}}}});
    ASSERT_EQ(answer.size(), 1u) << version;
    EXPECT_EQ(answer[0]["params"]["version"], version);
    EXPECT_EQ(answer[0]["params"]["diagnostics"].size(), volume > 15 ? 1u : 0u) << version;
  }
}

}  // namespace
}  // namespace qvb::lsp
