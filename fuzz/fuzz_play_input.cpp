// qvbplay's input: the command line (the bytes cut into arguments at zero
// bytes) and the keys (the same bytes fed in reads cut at arbitrary points,
// each cut followed or not by an empty read). Nothing may crash, and the
// keys must come out the same however the reads were cut, as long as no
// empty read fell inside an escape sequence.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "play/keys.h"
#include "play/play_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  std::string error;
  const auto options = qvb::parsePlayOptions(static_cast<int>(argv.size()), argv.data(), error);
  if (!options && error.empty()) std::abort();

  // Whole, then cut at points taken from the bytes themselves.
  qvb::KeyMap whole;
  std::vector<qvb::Action> expected = whole.feed(text);
  for (const qvb::Action& a : whole.feed("")) expected.push_back(a);
  qvb::KeyMap cut;
  std::vector<qvb::Action> got;
  std::size_t at = 0;
  for (std::size_t i = 0; at < size; ++i) {
    const std::size_t n = 1 + (i < size ? data[i] % 7 : 0);
    for (const qvb::Action& a : cut.feed(std::string_view(text).substr(at, n))) got.push_back(a);
    at += n;
  }
  for (const qvb::Action& a : cut.feed("")) got.push_back(a);
  if (got != expected) std::abort();
  return 0;
}
