// Names of the files the driver writes next to its input: the compiled image
// (-c) and the Game Boy assembler text (-s), made from the argument as typed.
#pragma once

#include <string>
#include <string_view>

namespace qvb {

// "song.qvm" -> "song.qvb" (the m keeps its case); anything else gets ".qvb".
std::string compiledFileName(std::string_view argument);

// "song.qvm" / "song.qvb" -> "song.asm", each of a, s, m upper case where the
// letter it replaces is; anything else gets ".asm".
std::string asmFileName(std::string_view argument);

// True when the last four bytes of `name` equal `extension` with the 0x20 bit
// of every byte set on both sides; names shorter than four bytes never match.
bool endsWithExtension(std::string_view name, std::string_view extension);

}  // namespace qvb
