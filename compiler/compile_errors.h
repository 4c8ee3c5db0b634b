// The compiler's error codes: one table with a name and a one-line meaning for
// each code, shared by the compiler, the user's guide and the editor-style
// error printer of qvbrender ("FILE:LINE:ROW: error CODE NAME: meaning").
#pragma once

#include <span>
#include <string_view>

namespace qvb {

// Grouped by stage: -1 memory, -2..-7 text structure and header checks,
// -256.. header directives, -512.. command arguments, -768.. command structure.
enum CompileCode : int {
  COMPILE_OK = 0,
  ERR_MEMORY = -1,
  ERR_BRACE = -2,
  ERR_COMMENT_OPEN = -3,
  ERR_CHANNEL_MARKER = -4,
  ERR_HEADER = -5,
  ERR_NO_TITLE_OR_CHANNEL = -6,
  ERR_CHANNEL_COUNT = -7,
  ERR_TITLE = -256,
  ERR_CHANNEL = -257,
  ERR_PRAGMA = -258,
  ERR_WAV_SYNTAX = -259,
  ERR_WAV_COUNT = -260,
  ERR_TITLE_TOO_LONG = -261,
  ERR_TOO_MANY_WAVES = -262,
  ERR_OCTAVE = -512,
  ERR_GATE = -513,
  ERR_LENGTH = -514,
  ERR_VOLUME = -515,
  ERR_RELEASE = -516,
  ERR_DETUNE = -517,
  ERR_TIMBRE = -518,
  ERR_VOICE_TYPE = -519,
  ERR_TEMPO = -520,
  ERR_LOOP_COUNT = -521,
  ERR_LOOP_BREAK = -522,
  ERR_LOOP_END = -523,
  ERR_VIBRATO = -524,
  ERR_LENGTH_DIVIDE = -768,
  ERR_LENGTH_OVERFLOW = -769,
  ERR_SYNTAX = -770,
  ERR_LOOP_DEPTH = -771,
  ERR_LOOP_OPEN = -772,
  ERR_REPEAT_LIMIT = -773,
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
