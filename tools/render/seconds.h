// Times on our programs' command lines (qvbrender's -t and -f, qvbplay's
// --start): exact decimal seconds turned into frames at 44100 Hz, with no
// rounding through floating point.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qvb {

// Frames in a non-negative decimal number of seconds at 44100 Hz, rounded
// down exactly ("0.5" is 22050, "5" is 220500); nullopt for anything that is
// not digits with at most one point, or is longer than six hours.
std::optional<std::int64_t> secondsToFrames(std::string_view text);

}  // namespace qvb
