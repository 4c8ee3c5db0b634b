// What the server says about songs: diagnostics at their commands, hover over
// notes and commands, completion and the outline.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/lsp/lsp_session.h"

namespace qvb::lsp {
namespace {

using test::Json;
using test::LspSession;

Json rangeOf(int line, int start, int end) {
  return {{"start", {{"line", line}, {"character", start}}}, {"end", {{"line", line}, {"character", end}}}};
}

bool has(const Json& text, const std::string& part) {
  return text.is_string() && text.get<std::string>().find(part) != std::string::npos;
}

TEST(LanguageServer, AnErrorArrivesAtTheRangeOfTheFaultyCommand) {
  struct Case {
    const char* song;
    Json range;
    const char* code;
    const char* words;
  } const cases[] = {
      {"#TITLE <t>\n#CHANNEL 1\n#A c v16 d\n", rangeOf(2, 5, 8), "ERR_VOLUME", "v volume outside 0..15 or missing (channel A"},
      {"#TITLE <t>\n#CHANNEL 1\n#A l8 mp30,999 c\n", rangeOf(2, 6, 14), "ERR_VIBRATO", "mp vibrato value out of range"},
      {"#TITLE <t>\n#CHANNEL 1\n#A o4 c8^5 e\n", rangeOf(2, 6, 10), "ERR_LENGTH_DIVIDE", "does not divide"},
      {"#TITLE <t>\n#CHANNEL 0\n#A c\n", rangeOf(1, 0, 8), "ERR_CHANNEL", "#CHANNEL"},
  };
  for (const Case& c : cases) {
    LspSession session;
    session.start();
    const Json diagnostics = session.open(c.song);
    ASSERT_GE(diagnostics.size(), 1u) << c.song;
    const Json& d = diagnostics[0];
    EXPECT_EQ(d["range"], c.range) << c.song << d;
    EXPECT_EQ(d["code"], c.code) << c.song;
    EXPECT_EQ(d["severity"], 1);
    EXPECT_TRUE(has(d["message"], c.words)) << d["message"];
  }
}

TEST(LanguageServer, FiveMistakesArriveAsFiveErrorsEachAtItsCommand) {
  LspSession session;
  session.start();
  const Json diagnostics = session.open(
      "#TITLE <Five>\n#CHANNEL 2\n#WAV 0,<1,2,3>\n#A v10 o4 c d e f v16 g a\n#A l7 c /: d e :/\n#B v12 C d e o9 c\n");
  std::vector<std::pair<int, int>> starts;  // 0-based line and character
  for (const Json& d : diagnostics)
    if (d["severity"] == 1) starts.emplace_back(d["range"]["start"]["line"], d["range"]["start"]["character"]);
  const std::vector<std::pair<int, int>> expected{{2, 0}, {3, 18}, {4, 6}, {5, 7}, {5, 13}};
  EXPECT_EQ(starts, expected) << diagnostics;
}

TEST(LanguageServer, WarningsAreMarkedWithTheProgramThatGivesThem) {
  LspSession session;
  session.start();
  // Notes without a volume (qvbp's warning); a release the Game Boy's envelope
  // cannot fall at (qvbgb's), at the s40.
  const Json quiet = session.open("#TITLE <t>\n#CHANNEL 1\n#A c\n");
  ASSERT_EQ(quiet.size(), 1u) << quiet;
  EXPECT_EQ(quiet[0]["severity"], 2);
  EXPECT_EQ(quiet[0]["source"], "qvbp");
  const Json release = session.open("#TITLE <t>\n#CHANNEL 1\n#A v12 s40 c\n", "file:///b.qvm");
  ASSERT_EQ(release.size(), 1u) << release;
  EXPECT_EQ(release[0]["source"], "qvbgb");
  EXPECT_EQ(release[0]["range"], rangeOf(2, 7, 10));
  EXPECT_TRUE(has(release[0]["message"], "release 40"));
}

// Hand-worked: o4 a is 220 Hz, o4 c# floor(440 * 2^(-20/12)) = 138 Hz; t120
// is a tick interval of 229 (the guide's tempo table), so a quarter (48
// ticks) lasts 48 * 229 / 22050 = 0.4985 s and an eighth 0.249 s.
TEST(LanguageServer, AHoverOnANoteTellsItsPitchLengthAndChannel) {
  LspSession session;
  session.start();
  session.open("#TITLE <t>\n#CHANNEL 2\n#A v1\n#B t120 v12 o4 a4 c#8 r2\n");
  struct Case {
    int character;
    std::vector<std::string> parts;
  } const cases[] = {
      {15, {"**a**", "octave 4", "220 Hz", "48 ticks", "0.499 s", "channel B"}},
      {19, {"**c#**", "octave 4", "138 Hz", "24 ticks", "0.249 s", "channel B"}},
      {23, {"rest", "96 ticks", "0.997 s"}},
  };
  for (const Case& c : cases) {
    const Json hover = session.at("textDocument/hover", 3, c.character)["result"];
    for (const std::string& part : c.parts) EXPECT_TRUE(has(hover["contents"]["value"], part)) << part << hover;
  }
}

TEST(LanguageServer, AHoverOnACommandOrDirectiveShowsTheGuidesHelp) {
  LspSession session;
  session.start();
  session.open("#TITLE <t>\n#CHANNEL 1\n#A v12 mp30,3 @2 c\n");
  struct Case {
    int line, character;
    const char* part;
  } const cases[] = {
      {0, 2, "The song title"},
      {1, 0, "Number of channels, 1 to 26"},
      {2, 4, "Volume of both sides"},
      {2, 4, "0..15; alone: 10"},
      {2, 8, "Vibrato"},
      {2, 14, "Timbre"},
  };
  for (const Case& c : cases) {
    const Json hover = session.at("textDocument/hover", c.line, c.character)["result"];
    EXPECT_TRUE(has(hover["contents"]["value"], c.part)) << c.part << hover;
  }
  EXPECT_TRUE(session.at("textDocument/hover", 2, 6)["result"].is_null());  // a blank
}

TEST(LanguageServer, CompletionOffersTheSongsWavesAndTheGuidesCommandsAndDirectives) {
  LspSession session;
  session.start();
  session.open("#TITLE <t>\n#CHANNEL 1\n#WAV 5,<[32 0,]>\n#A \n");
  const Json items = session.at("textDocument/completion", 3, 3)["result"];
  std::vector<std::string> labels;
  for (const Json& item : items) labels.push_back(item["label"]);
  // The song's own wave, then the guide's words.
  for (const char* wanted : {"@5", "#TITLE", "#CHANNEL", "#PRAGMA", "#WAV", "v", "mp", "@", "%", "t", "o", "r"})
    EXPECT_NE(std::find(labels.begin(), labels.end(), wanted), labels.end()) << wanted;
  EXPECT_EQ(std::find(labels.begin(), labels.end(), "length"), labels.end());
}

TEST(LanguageServer, TheOutlineListsDirectivesChannelsAndWaves) {
  LspSession session;
  session.start();
  session.open("#TITLE <t>\n#CHANNEL 2\n#WAV 0,<[32 0,]>\n#A c\n d\n#B e\n{ #WAV 9 }\n#A f\n");
  const Json symbols =
      session.request("textDocument/documentSymbol", {{"textDocument", {{"uri", "file:///song.qvm"}}}})["result"];
  std::vector<std::string> names;
  for (const Json& s : symbols) names.push_back(s["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"#TITLE", "#CHANNEL", "#WAV 0", "channel A", "channel B"}));
  ASSERT_EQ(symbols.size(), 5u);
  EXPECT_EQ(symbols[3]["range"]["start"]["line"], 3);
  EXPECT_EQ(symbols[3]["range"]["end"]["line"], 4);  // its first piece: the marker line and the next
}

TEST(LanguageServer, ATimbreGoesToItsWaveAndAWaveFindsItsTimbres) {
  LspSession session;
  session.start();
  session.open("#TITLE <t>\n#CHANNEL 2\n#WAV 0,<[32 0,]>\n#WAV 1,<[16 -64,64,]>\n#A @1 c @0 d @7 e\n#B @ 1 e { @0 }\n");
  const auto request = [&](const char* method, int line, int character, bool withDefinition = false) {
    return session.request(method, {{"textDocument", {{"uri", "file:///song.qvm"}}},
                                    {"position", {{"line", line}, {"character", character}}},
                                    {"context", {{"includeDeclaration", withDefinition}}}})["result"];
  };
  const auto at = [](int line, int start, int end) { return Json{{"uri", "file:///song.qvm"}, {"range", rangeOf(line, start, end)}}; };
  EXPECT_EQ(request("textDocument/definition", 4, 4), Json::array({at(3, 0, 6)}));
  EXPECT_EQ(request("textDocument/definition", 5, 5), Json::array({at(3, 0, 6)}));  // "@ 1"
  EXPECT_EQ(request("textDocument/definition", 4, 9), Json::array({at(2, 0, 6)}));
  EXPECT_EQ(request("textDocument/definition", 4, 14), Json::array());  // no #WAV 7
  EXPECT_TRUE(request("textDocument/definition", 4, 6).is_null());     // a note
  EXPECT_EQ(request("textDocument/references", 3, 2), Json::array({at(4, 3, 5), at(5, 3, 6)}));
  EXPECT_EQ(request("textDocument/references", 4, 3, true), Json::array({at(3, 0, 6), at(4, 3, 5), at(5, 3, 6)}));
  EXPECT_EQ(request("textDocument/references", 2, 5), Json::array({at(4, 8, 10)}));  // not the @0 in a comment
  // A hover on a timbre shows the wave it picks.
  EXPECT_TRUE(has(request("textDocument/hover", 4, 3)["contents"]["value"], "line 4:\n\n```\n#WAV 1,<[16 -64,64,]>\n```"));
  EXPECT_TRUE(has(request("textDocument/hover", 4, 14)["contents"]["value"], "no `#WAV 7` fills it"));
}

// Worked out by hand from the page's reading: '<' and '>' of a title are
// title too, the length after a note goes on past its dot and tie, a number
// after a command is a value, a comment is one token.
TEST(LanguageServer, SemanticTokensColourASongAsThePageDoes) {
  LspSession session;
  const Json legend = session.start()["result"]["capabilities"]["semanticTokensProvider"]["legend"]["tokenTypes"];
  session.open("#TITLE <Hi>\n#CHANNEL 1\n#WAV 3,<[32 0,]>\n#A t120 @3 o4 c8. {x} /: d > r4^8 :/\n");
  const Json data =
      session.request("textDocument/semanticTokens/full", {{"textDocument", {{"uri", "file:///song.qvm"}}}})["result"]["data"];
  struct Token {
    int line, start, length;
    std::string type;
    bool operator==(const Token&) const = default;
  };
  std::vector<Token> tokens;
  int line = 0, start = 0;
  for (std::size_t i = 0; i + 4 < data.size(); i += 5) {
    line += data[i].get<int>();
    start = data[i].get<int>() == 0 ? start + data[i + 1].get<int>() : data[i + 1].get<int>();
    tokens.push_back({line, start, data[i + 2], legend[data[i + 3].get<std::size_t>()]});
  }
  const std::vector<Token> expected{
      {0, 0, 6, "keyword"},  {0, 7, 1, "string"},    {0, 8, 2, "string"},    {0, 10, 1, "string"},
      {1, 0, 8, "keyword"},  {1, 9, 1, "number"},
      {2, 0, 4, "keyword"},  {2, 5, 1, "number"},    {2, 8, 3, "operator"},  {2, 12, 1, "number"}, {2, 14, 1, "operator"},
      {3, 0, 2, "namespace"}, {3, 3, 1, "function"}, {3, 4, 3, "number"},    {3, 8, 1, "function"}, {3, 9, 1, "number"},
      {3, 11, 1, "function"}, {3, 12, 1, "number"},  {3, 14, 1, "variable"}, {3, 15, 1, "number"},  {3, 16, 1, "number"},
      {3, 18, 3, "comment"},  {3, 22, 2, "operator"}, {3, 25, 1, "variable"}, {3, 27, 1, "operator"},
      {3, 29, 1, "parameter"}, {3, 30, 1, "number"}, {3, 31, 1, "number"},   {3, 32, 1, "number"},  {3, 34, 2, "operator"},
  };
  EXPECT_EQ(tokens, expected) << data;
}

}  // namespace
}  // namespace qvb::lsp
