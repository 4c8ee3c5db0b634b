// The smallest complete song and the 41-byte image it compiles to: one copy
// shared by the compiler, driver and renderer tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvb::test {

inline const std::string kMinimalSource = "#TITLE <a>\n#CHANNEL 1\n#A v 15 c\n";

inline const std::vector<std::uint8_t> kMinimalImage{
    'Q', 'u', 'a', 'v', 'e', 'r', 'M', 'a', 'c', 'h', 'i', 'n', 'e', 0x00,  // magic
    0x00, 0x55,                                                              // version 0.85
    0x00, 0x01, 'a', 0x00,                                                   // title "a" and pad
    0x00, 0x01,                                                              // one channel
    0x00, 0x00, 0x00, 0x22, 0x00, 0x00, 0x00, 0x05,                          // block at 34, 5 bytes
    0x00, 0x00, 0x00, 0x27,                                                  // wave list at 39
    0x81, 0xF0, 0x30, 0x30, 0xFF,  // VOLUME 240, note 48 for 48 ticks, END
    0x00, 0x00,                    // no waves
};

}  // namespace qvb::test
