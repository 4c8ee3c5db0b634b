// File names as the programs hold them, in std::string: the bytes of the
// command line, which on Windows are UTF-8 (the programs' manifest makes it
// their code page, so fopen and rename take them as they are). Turning them
// into std::filesystem paths and back goes through here, because MinGW's
// library would read a narrow string byte by byte as Latin-1.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qvb {

std::filesystem::path pathOf(std::string_view name);
std::string nameOf(const std::filesystem::path& path);

// The two names stand for one file that exists (the same name, a link to
// the other, a second hard link): a program refuses to write its output
// over its input.
bool sameFile(std::string_view a, std::string_view b);

}  // namespace qvb
