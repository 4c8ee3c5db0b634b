// Source preprocessing: the pass that cleans the compiler's writable copy of a
// QVM text in place before it is split and read. Comments become 0 bytes, TABs
// spaces, line ends single CRs (the LF of a CR LF pair becomes a 0 byte), the
// text is cut at "#END", and the text is closed by an end mark of two LFs.
// Every byte keeps its place, so columns in the copy are columns in the source.
#pragma once

#include <cstdint>
#include <span>

namespace qvb {

// `copy` holds the source followed by two 0 bytes. Returns 0, ERR_BRACE (a '}'
// outside any comment; line and row of the '}') or ERR_COMMENT_OPEN (line and
// row just past the end of the text). Never touches a byte outside `copy`.
int preprocess(std::span<std::uint8_t> copy, std::int32_t& errorLine, std::int32_t& errorRow);

}  // namespace qvb
