// What more an error can say to the musician than its code's meaning: the
// count a #WAV gave, the lengths that divide a whole note, that commands are
// lower case, that blanks and comments do not end a number. Our tools show it
// beside the meaning; the compiler's own error stays as it is.
#pragma once

#include <cstdint>
#include <span>

#include "compiler/song_header.h"
#include "loader/song_loader.h"

namespace qvb {

// Adds the hint to the diagnosis's context. text is the text compiled, the
// diagnosis placed in it for people.
void addHint(SongDiagnosis& diagnosis, std::span<const std::uint8_t> text, const SongHeader& header);

}  // namespace qvb
