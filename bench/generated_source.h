// A generated QVM source of many channels, loops, repeat brackets and
// comments, of about the size asked for: the input of the compile benchmarks.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

namespace qvb::bench {

inline std::string generatedSource(std::size_t targetBytes) {
  static const char* const kPhrases[] = {
      "o4 l8 cdefgab>c< {a comment in the melody} ",
      "/:3 c16d16e8 / f4 :/ r8 ",
      "[2 v12 q12 g4. a8 | b2 ] ",
      "t140 s10,-2 k-1 mp30,2,1,1,0 @2 ",
      "o3 c4^8 e8 g4 >c4< r4 \t",
      "l16 [3 cegc ]{ repeat\n spread } d+e-f#g ",
  };
  std::string s = "{ benchmark song }\n#TITLE <Throughput>\n#CHANNEL 26\n";
  std::size_t phrase = 0;
  int channel = 0;
  while (s.size() < targetBytes) {
    s += "#";
    s += static_cast<char>('A' + channel);
    s += " ";
    for (int line = 0; line < 4; ++line) {
      for (int k = 0; k < 3; ++k) s += kPhrases[phrase++ % std::size(kPhrases)];
      s += "\n";
    }
    channel = (channel + 1) % 26;
  }
  return s;
}

}  // namespace qvb::bench
