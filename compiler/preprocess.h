// Source preprocessing: the pass that cleans the compiler's writable copy of a
// QVM text in place before it is split and read. Comments become 0 bytes, TABs
// spaces, line ends single CRs (the LF of a CR LF pair becomes a 0 byte), the
// text is cut at "#END", and the text is closed by an end mark of two LFs.
// Every byte keeps its place, so columns in the copy are columns in the source.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qvb {

// A '>' or '}' that a byte of 0x80 or more before it took along unexamined,
// so that it ends no title or comment: its 1-based line and row.
struct SwallowedByte {
  std::int32_t line = 0, row = 0;
  std::uint8_t byte = 0;
};

// `copy` holds the source followed by two 0 bytes. Returns 0, ERR_BRACE (a '}'
// outside any comment; line and row of the '}') or ERR_COMMENT_OPEN (line and
// row just past the end of the text). Never touches a byte outside `copy`.
// With `swallowed`, every such byte met before the walk ends is entered there.
int preprocess(std::span<std::uint8_t> copy, std::int32_t& errorLine, std::int32_t& errorRow,
               std::vector<SwallowedByte>* swallowed = nullptr);

}  // namespace qvb
