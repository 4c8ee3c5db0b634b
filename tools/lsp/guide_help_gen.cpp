// Run at build time: reads the command and directive tables of the user's
// guide (docs/mml-guide.md) and writes them as C++ rows for guide_help.cpp,
// so the server's hover help and completion say what the guide says, as the
// playground's help does (web/bundle.mjs reads the same tables by the same
// rules). A guide that lacks a row for a command or directive fails the build.
//
// usage: guide_help_gen GUIDE OUT
#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The sections whose rows become help, and what each column holds.
const std::map<std::string, std::vector<std::string>> kSections = {
    {"Header directives", {"usage", "text", "example"}},
    {"Notes and lengths", {"usage", "text", "example"}},
    {"Sound commands", {"usage", "range", "text", "example"}},
};

// Every directive and command a reader may hover.
const std::array kRequired = {"#TITLE", "#CHANNEL", "#PRAGMA", "#WAV", "c", "d", "e", "f", "g", "a", "b",
                              "+", "#", "-", "length", ".", "^", "r", "o", "<", ">", "l", "q", "v", "s",
                              "k", "mp", "@", "%", "t"};

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> cells(std::string row) {
  row = trim(row);
  if (!row.empty() && row.front() == '|') row.erase(0, 1);
  if (!row.empty() && row.back() == '|') row.pop_back();
  std::vector<std::string> out;
  std::stringstream in(row);
  for (std::string cell; std::getline(in, cell, '|');) out.push_back(trim(cell));
  return out;
}

std::string plain(std::string text) {
  for (const std::string mark : {"**", "`"})
    for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.erase(at, mark.size());
  return text;
}

// The words a row's first cell names: `c d e f g a b` is seven notes,
// `#TITLE <text>` the directive, `v` r`,`l the command v; a row without code
// (number after the note) is the length.
std::vector<std::string> keysOf(const std::string& cell) {
  std::vector<std::string> code;
  static const std::regex quoted("`([^`]+)`");
  for (auto it = std::sregex_iterator(cell.begin(), cell.end(), quoted); it != std::sregex_iterator(); ++it)
    if ((*it)[1] != ",") code.push_back((*it)[1]);
  if (code.empty()) return {"length"};
  const auto firstWord = [](const std::string& c) { return c.substr(0, c.find(' ')); };
  if (std::regex_match(code[0], std::regex("([a-g] )+[a-g]"))) {
    std::vector<std::string> notes;
    for (std::size_t i = 0; i < code[0].size(); i += 2) notes.push_back(code[0].substr(i, 1));
    return notes;
  }
  if (cell.find(" or ") != std::string::npos) {
    std::vector<std::string> keys;
    for (const std::string& c : code) keys.push_back(firstWord(c));
    return keys;
  }
  return {firstWord(code[0])};
}

std::string literal(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\%03o", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: guide_help_gen GUIDE OUT\n", stderr);
    return 2;
  }
  std::ifstream guide(argv[1]);
  if (!guide) {
    std::fprintf(stderr, "guide_help_gen: cannot read %s\n", argv[1]);
    return 1;
  }
  std::string rows;
  std::vector<std::string> found;
  const std::vector<std::string>* columns = nullptr;
  static const std::regex heading("^##+ (.*)$"), rule("^\\|[-| ]+\\|$");
  for (std::string line; std::getline(guide, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch m;
    if (std::regex_match(line, m, heading)) {
      const auto section = kSections.find(trim(m[1]));
      columns = section != kSections.end() ? &section->second : nullptr;
      continue;
    }
    if (columns == nullptr || line.empty() || line[0] != '|' || std::regex_match(trim(line), rule)) continue;
    const std::vector<std::string> row = cells(line);
    if (row.size() != columns->size() || row[0] == "Directive" || row[0] == "Command") continue;
    std::map<std::string, std::string> entry;
    for (std::size_t i = 0; i < row.size(); ++i) entry[(*columns)[i]] = plain(row[i]);
    for (const std::string& key : keysOf(row[0])) {
      found.push_back(key);
      rows += "    {" + literal(key) + ", " + literal(entry["usage"]) + ", " + literal(entry["range"]) + ", " +
              literal(entry["text"]) + ", " + literal(entry["example"]) + "},\n";
    }
  }
  std::string missing;
  for (const char* key : kRequired)
    if (std::find(found.begin(), found.end(), key) == found.end()) missing += std::string(" ") + key;
  if (!missing.empty()) {
    std::fprintf(stderr, "guide_help_gen: the guide's tables lack rows for%s\n", missing.c_str());
    return 1;
  }
  std::ofstream out(argv[2]);
  out << "// Made by guide_help_gen from docs/mml-guide.md: edit the guide, not this.\n" << rows;
  return out.good() ? 0 : 1;
}
