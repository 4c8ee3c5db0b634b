// The assembler exporter's worked example, shared by the exporter's tests and
// the command-line tests of qvbp -s: a version 0.81 image titled "song" with
// blocks of 5, 10 and 2 bytes (counts 3, 8 and 0), and its exact text.
#pragma once

#include <string>

#include "song/track_commands.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb::test {

inline const std::string kAsmHeaderLines =
    ";;\n"
    ";; This section is created by qvb2asm converter v0.81\n"
    ";;\n";

inline ImageContents asmWorkedExample() {
  ImageContents contents;
  contents.versionMinor = 81;
  contents.title = "song";
  contents.channels = {{VOICE_TYPE, 0x02, 0x10, 0x2a, 0xff},
                       {VOICE_TYPE, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x80},
                       {VOICE_TYPE, 0x01}};
  return contents;
}

inline const std::string kAsmWorkedExampleText = kAsmHeaderLines +
    "song::\n"
    "\t.byte 0x03, 0x00\t;data size of channel 1 (little endian)\n"
    "\t.byte 0x08, 0x00\t;data size of channel 2 (little endian)\n"
    "\t.byte 0x00, 0x00\t;data size of channel 3 (little endian)\n"
    "\n\t;channel 1 data\n\n"
    "\t.byte 0x10, 0x2a, 0xff\n"
    "\n\t;channel 2 data\n\n"
    "\t.byte 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x80\n"
    "\n\t;channel 3 data\n\n";

}  // namespace qvb::test
