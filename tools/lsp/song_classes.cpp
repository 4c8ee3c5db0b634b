#include "lsp/song_classes.h"

#include <optional>
#include <string_view>

namespace qvb::lsp {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

enum class Expect { None, Title, Channel, Pragma, Wav };

// What the reading knows between tokens, as the page's startState() has it.
struct ReadState {
  int comment = 0;  // nesting depth
  bool header = true, title = false, wave = false, afterNote = false, ended = false, lineStart = true;
  Expect expect = Expect::None;
};

// One line's bytes with a cursor, the few moves the reading makes.
struct Cursor {
  std::string_view line;
  std::size_t at = 0;
  bool eol() const { return at >= line.size(); }
  char peek() const { return eol() ? '\0' : line[at]; }
  void next() { if (!eol()) ++at; }
  bool eat(char c) { return peek() == c ? (++at, true) : false; }
  bool eat(std::string_view s) { return line.substr(at).starts_with(s) ? (at += s.size(), true) : false; }
  std::size_t skip(auto take) {
    const std::size_t from = at;
    while (!eol() && take(line[at])) ++at;
    return at - from;
  }
  bool digits() { return skip(isDigit) > 0; }
  bool signedDigits() {  // -?\d+
    const std::size_t from = at;
    eat('-');
    if (digits()) return true;
    at = from;
    return false;
  }
};

using Found = std::optional<TokenClass>;

Found comment(Cursor& s, ReadState& state) {
  while (!s.eol() && state.comment > 0) {
    const char c = s.peek();
    s.next();
    if (c == '\\') s.next();
    else if (c == '{') ++state.comment;
    else if (c == '}') --state.comment;
  }
  return TokenClass::Comment;
}

bool repeatBracket(Cursor& s) {
  if (s.eat('[')) {
    s.skip(isDigit);
    return true;
  }
  return s.eat(']') || s.eat('|');
}

Found headerToken(Cursor& s, ReadState& state) {
  const char c = s.peek();
  if (c == '<' && state.expect == Expect::Title) {
    s.next();
    state.title = true;
    return TokenClass::Title;
  }
  if (c == '<' && state.expect == Expect::Wav) {
    s.next();
    state.wave = true;
    return std::nullopt;
  }
  if (c == '>' && state.wave) {
    s.next();
    state.wave = false;
    state.expect = Expect::None;
    return std::nullopt;
  }
  if (s.signedDigits()) return TokenClass::Number;
  if (s.skip(isLetter) > 0) return state.expect == Expect::Pragma ? TokenClass::Word : TokenClass::Invalid;
  if (repeatBracket(s)) return TokenClass::Repeat;
  if (s.eat(',') || s.eat('(') || s.eat(')')) return std::nullopt;
  s.next();
  if (state.header && state.expect == Expect::None) return TokenClass::Invalid;
  return std::nullopt;
}

Found musicToken(Cursor& s, ReadState& state) {
  const char c = s.peek();
  if (c >= 'a' && c <= 'g') {
    s.next();
    s.skip([](char x) { return x == '+' || x == '#' || x == '-'; });
    state.afterNote = true;
    return TokenClass::Note;
  }
  if (s.eat('r')) {
    state.afterNote = true;
    return TokenClass::Rest;
  }
  if (s.digits()) return state.afterNote ? TokenClass::Length : TokenClass::Number;
  if (s.skip([](char x) { return x == '.' || x == '^'; }) > 0) return TokenClass::Length;
  state.afterNote = false;
  if (s.eat("mp")) return TokenClass::Command;
  if (std::string_view("vskotlq@%").find(c) != std::string_view::npos && c != '\0') {
    s.next();
    return TokenClass::Command;
  }
  if (s.signedDigits()) return TokenClass::Number;
  if (s.eat(',')) return std::nullopt;
  if (s.eat('<') || s.eat('>')) return TokenClass::Octave;
  if (repeatBracket(s)) return TokenClass::Repeat;
  if (s.eat("/:") || s.eat(":/") || s.eat('/')) return TokenClass::Loop;
  if (s.eat('$')) return TokenClass::LoopMark;
  s.next();
  return TokenClass::Invalid;
}

// #TITLE, #CHANNEL, #PRAGMA, #WAV or #END at the cursor (a prefix, as the
// page matches it), or nothing.
std::optional<Expect> directive(Cursor& s, bool& end) {
  struct Word {
    std::string_view text;
    Expect expect;
  };
  static constexpr Word kWords[] = {{"#TITLE", Expect::Title}, {"#CHANNEL", Expect::Channel},
                                    {"#PRAGMA", Expect::Pragma}, {"#WAV", Expect::Wav}, {"#END", Expect::None}};
  for (const Word& w : kWords)
    if (s.eat(w.text)) {
      end = w.text == "#END";
      return w.expect;
    }
  return std::nullopt;
}

Found token(Cursor& s, ReadState& state) {
  if (state.ended) {
    s.at = s.line.size();
    return TokenClass::Comment;
  }
  if (state.comment > 0) return comment(s, state);
  if (state.title) {
    // A title is taken byte for byte up to its '>' (\> and \\ escaped).
    if (s.eat('>')) {
      state.title = false;
      return TokenClass::Title;
    }
    while (!s.eol() && s.peek() != '>' && s.peek() != '{') {
      const char c = s.peek();
      s.next();
      if (c == '\\') s.next();
    }
    if (s.peek() == '{') state.title = false;  // a comment ends the title
    return TokenClass::Title;
  }
  // Blanks are spaces and tabs only, as in the compiler.
  if (s.skip([](char x) { return x == ' ' || x == '\t'; }) > 0) return std::nullopt;
  const char c = s.peek();
  if (s.eat('{')) {
    state.comment = 1;
    return comment(s, state);
  }
  const bool lineStart = state.lineStart;
  state.lineStart = false;
  if (s.eat('}')) return TokenClass::Invalid;
  if (s.eat('\\')) {
    s.next();
    return std::nullopt;
  }
  if (c == '#') {
    bool end = false;
    if (const std::optional<Expect> expect = directive(s, end)) {
      state.expect = *expect;
      state.header = true;  // the lines after a directive belong to the header
      state.afterNote = false;
      if (end) state.ended = true;
      return TokenClass::Directive;
    }
    // A marker: the line's first token (blanks and comments may stand before
    // it), then a blank, a comment or the line's end.
    const char after = s.at + 2 < s.line.size() ? s.line[s.at + 2] : '\0';
    if (lineStart && s.at + 1 < s.line.size() && isLetter(s.line[s.at + 1]) &&
        (after == '\0' || after == ' ' || after == '\t' || after == '{')) {
      s.at += 2;
      state.header = false;
      state.expect = Expect::None;
      state.afterNote = false;
      return TokenClass::Marker;
    }
  }
  if (state.header || state.expect != Expect::None) return headerToken(s, state);
  return musicToken(s, state);
}

}  // namespace

std::vector<ClassedToken> classifySong(const TextLines& lines) {
  std::vector<ClassedToken> tokens;
  ReadState state;
  for (std::size_t i = 0; i < lines.lineCount(); ++i) {
    Cursor s{lines.line(i)};
    state.lineStart = true;
    while (!s.eol()) {
      const std::size_t start = s.at;
      const Found kind = token(s, state);
      if (s.at == start) s.next();  // never stand still
      if (kind) tokens.push_back({i, start, s.at, *kind});
    }
  }
  return tokens;
}

}  // namespace qvb::lsp
