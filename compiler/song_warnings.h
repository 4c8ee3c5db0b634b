// Warnings about a song that compiles but will not sound as meant: a channel
// that plays notes but never sets a volume, a note at volume 0 that the
// channel never raises after it, a wave slot chosen with `@` that
// no #WAV fills, a repeat bracket still open at the end of a channel, a byte
// of 0x80 or more that takes a following `>` or `}` along with it (the last
// byte of a three-byte UTF-8 character does that), and voices whose levels
// together can pass 32767 and wrap. Shared by the programs that play and
// render; the compiler itself stays silent.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvb {

// The highest sum of levels on one side that cannot wrap.
inline constexpr std::int32_t kLevelLimit = 32767;

struct SongWarning {
  std::int32_t line = 1;
  std::int32_t row = 1;
  std::string text;
};

// Warnings for a source text: the swallowed bytes first, then (only for a
// text that compiles) the others in the order above.
std::vector<SongWarning> songWarnings(std::span<const std::uint8_t> source);

// "FILE:LINE:ROW: warning: TEXT".
std::string formatWarning(const SongWarning& warning, const std::string& file);

}  // namespace qvb
