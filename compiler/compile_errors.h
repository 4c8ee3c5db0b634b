// The compiler's error codes: one table with a name and a one-line meaning for
// each code, shared by the compiler, the user's guide and the editor-style
// error printer of qvbrender ("FILE:LINE:ROW: error CODE NAME: meaning").
#pragma once

#include <span>
#include <string_view>

namespace qvb {

// X(name, code, meaning), grouped by stage: -1 memory, -2..-7 text structure
// and header checks, -256.. header directives, -512.. command arguments,
// -768.. command structure. The enum, errorCodes() and the user guide's table
// (held to it by a test) all come from this one list.
#define QVB_COMPILE_ERRORS(X) \
  X(ERR_MEMORY, -1, "out of memory (or more than 16 MiB of track data)")                                      \
  X(ERR_BRACE, -2, "'}' outside any comment")                                                                 \
  X(ERR_COMMENT_OPEN, -3, "a '{' comment is still open at the end of the text")                               \
  X(ERR_CHANNEL_MARKER, -4, "channel marker whose letter is not A-Z or a-z")                                  \
  X(ERR_HEADER, -5, "header item not starting with '#', or unknown directive")                                \
  X(ERR_NO_TITLE_OR_CHANNEL, -6, "no #CHANNEL count or no title byte")                                        \
  X(ERR_CHANNEL_COUNT, -7, "channels with text do not match #CHANNEL (FAMICOM needs exactly 3)")              \
  X(ERR_TITLE, -256, "#TITLE without '<', or the text ends inside the title")                                 \
  X(ERR_CHANNEL, -257, "#CHANNEL without a number, or a number below 1 or beyond 32 bits")                    \
  X(ERR_PRAGMA, -258, "#PRAGMA not followed by FAMICOM")                                                      \
  X(ERR_WAV_SYNTAX, -259, "#WAV syntax error or value out of range")                                          \
  X(ERR_WAV_COUNT, -260, "#WAV with other than 32 values")                                                    \
  X(ERR_TITLE_TOO_LONG, -261, "title longer than 65535 bytes")                                                \
  X(ERR_TOO_MANY_WAVES, -262, "more than 255 #WAV definitions")                                               \
  X(ERR_OCTAVE, -512, "octave outside 1..8")                                                                  \
  X(ERR_GATE, -513, "q gate outside 1..16")                                                                   \
  X(ERR_LENGTH, -514, "length outside 1..1024")                                                               \
  X(ERR_VOLUME, -515, "v volume outside 0..15 or missing")                                                    \
  X(ERR_RELEASE, -516, "s release outside 0..255 or sweep outside -128..127")                                 \
  X(ERR_DETUNE, -517, "k detune outside -128..127")                                                           \
  X(ERR_TIMBRE, -518, "@ timbre outside 0..255 or refused by the FAMICOM channel")                            \
  X(ERR_VOICE_TYPE, -519, "% voice type outside 0..255, or % in FAMICOM mode")                                \
  X(ERR_TEMPO, -520, "t tempo outside 1..512")                                                                \
  X(ERR_LOOP_COUNT, -521, "/: loop count outside 2..255")                                                     \
  X(ERR_LOOP_BREAK, -522, "/ with no loop open")                                                              \
  X(ERR_LOOP_END, -523, ":/ with no loop open")                                                               \
  X(ERR_VIBRATO, -524, "mp vibrato value out of range")                                                       \
  X(ERR_LENGTH_DIVIDE, -768, "length or dot does not divide the whole note evenly")                           \
  X(ERR_LENGTH_OVERFLOW, -769, "note or rest part longer than 65534 ticks")                                   \
  X(ERR_SYNTAX, -770,                                                                                         \
    "character that starts no command, or a misplaced repeat bracket ('[' inside a repeat, ']' with none "    \
    "open, a count of 1)")                                                                                    \
  X(ERR_LOOP_DEPTH, -771, "a 17th nested /: loop")                                                            \
  X(ERR_LOOP_OPEN, -772, "the channel ends inside a /: loop")                                                 \
  X(ERR_REPEAT_LIMIT, -773, "[ ] repeats read more text again than one compile allows (reported at the '[')")

enum CompileCode : int {
  COMPILE_OK = 0,
#define QVB_COMPILE_CODE_ENUMERATOR(name, code, meaning) name = code,
  QVB_COMPILE_ERRORS(QVB_COMPILE_CODE_ENUMERATOR)
#undef QVB_COMPILE_CODE_ENUMERATOR
};

struct ErrorCodeInfo {
  int code;
  std::string_view name;
  std::string_view meaning;
};

// Every code a compile can leave in its status, in ascending order of magnitude.
std::span<const ErrorCodeInfo> errorCodes();
// The entry of a code, or null for a code the compiler never reports.
const ErrorCodeInfo* findErrorCode(int code);

}  // namespace qvb
