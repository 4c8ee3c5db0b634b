// Helpers for the compiler's golden tests: compile a source held in a string,
// and take the title, channel blocks and wave records back out of the image,
// checking that every field lies where the canonical arrangement puts it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/mml_compiler.h"

namespace qvb::test {

using Bytes = std::vector<std::uint8_t>;

struct CompileResult {
  int status = 1;
  CompileError error;  // filled only when status is negative
  Bytes image;         // filled only when status is 0
};

CompileResult compileSource(std::string_view text);

struct ImageParts {
  std::string problem;  // empty when the image is well formed
  std::uint8_t versionMajor = 0;
  std::uint8_t versionMinor = 0;
  std::string title;
  std::vector<Bytes> channels;
  std::vector<Bytes> waves;  // whole records: index, count, 32 samples
};

// Reads an image the way the compiler lays it out: blocks back to back right
// after the table, the wave list right after the last block, nothing after it.
ImageParts splitImage(const Bytes& image);

// "30 30 FF" style text for failure messages.
std::string hex(const Bytes& bytes);

// The three-line frame every channel fixture is wrapped in.
inline std::string oneChannel(std::string_view text) {
  return "#TITLE <t>\n#CHANNEL 1\n#A " + std::string(text) + "\n";
}

// Builds "prefix" + "^unit" repeated count times; for long tied notes.
std::string tied(std::string_view prefix, std::string_view unit, int count);

}  // namespace qvb::test
