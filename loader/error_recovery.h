// How our tools find every error of a source in one run: the compiler stops
// at the first fault, so the text is compiled again with that fault blanked
// out (its command, its directive, its stray brace), and again, each compile
// giving the next error. Blanking writes spaces over the fault, never over a
// line end or a comment's braces, so every later place stays where the
// musician sees it. Errors that a blanking may itself have caused (a loop
// structure's) are not shown.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "loader/song_loader.h"
#include "song/channel_letters.h"

namespace qvb {

// What the compile that found a fault knew beside it.
struct FaultFacts {
  int lastChannelWithText = 0;
  bool famicom = false;
};

inline constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);

// The offset of a 1-based line and byte row in the text (an LF ends a line,
// as the compiler counts them), or kNoOffset.
std::size_t placeOffset(std::span<const std::uint8_t> text, std::int32_t line, std::int32_t row);

// The end of the command at an offset: its word, then its operands (digits,
// signs, separators, dots, ties, blanks), stepping over comments among them.
std::size_t commandEnd(std::span<const std::uint8_t> text, std::size_t at);

// Whether the note at an offset takes the default length: no digit after its
// letter and accidental.
bool takesDefaultLength(std::span<const std::uint8_t> text, std::size_t at);

class ErrorRecovery {
 public:
  explicit ErrorRecovery(std::span<const std::uint8_t> text) : text_(text.begin(), text.end()) {}

  // Blanks the fault out of the text. False when no later compile can tell
  // more (the fault leaves nothing to go on: a comment left open, no title).
  bool blank(const SongDiagnosis& fault, const FaultFacts& facts);
  // Whether an error found after blanking is the musician's own and not one
  // the blanking caused or a fault seen before.
  bool shown(const SongDiagnosis& error) const;
  std::span<const std::uint8_t> text() const { return text_; }

 private:
  struct Spot {
    int code = 0;
    std::int32_t line = 0, row = 0;
  };
  std::vector<std::uint8_t> text_;
  std::array<bool, kMaxChannels + 1> stopped_{};     // channels whose loop structure was blanked
  std::array<bool, kMaxChannels + 1> badDefault_{};  // channels whose default length divides nothing
  Spot last_;                       // the fault blanked last
  int repeats_ = 0;                 // how often in a row it came back
};

}  // namespace qvb
