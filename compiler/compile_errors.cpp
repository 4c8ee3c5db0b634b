#include "compiler/compile_errors.h"

#include <array>

namespace qvb {

namespace {

constexpr std::array<ErrorCodeInfo, 33> kErrorCodes{{
    {ERR_MEMORY, "ERR_MEMORY", "out of memory (or more than 16 MiB of track data)"},
    {ERR_BRACE, "ERR_BRACE", "'}' outside any comment"},
    {ERR_COMMENT_OPEN, "ERR_COMMENT_OPEN", "a '{' comment is still open at the end of the text"},
    {ERR_CHANNEL_MARKER, "ERR_CHANNEL_MARKER", "channel marker whose letter is not A-Z or a-z"},
    {ERR_HEADER, "ERR_HEADER", "header item not starting with '#', or unknown directive"},
    {ERR_NO_TITLE_OR_CHANNEL, "ERR_NO_TITLE_OR_CHANNEL", "no #CHANNEL count or no title byte"},
    {ERR_CHANNEL_COUNT, "ERR_CHANNEL_COUNT",
     "channels with text do not match #CHANNEL (FAMICOM needs exactly 3)"},
    {ERR_TITLE, "ERR_TITLE", "#TITLE without '<', or the text ends inside the title"},
    {ERR_CHANNEL, "ERR_CHANNEL", "#CHANNEL without a number, or a number below 1 or beyond 32 bits"},
    {ERR_PRAGMA, "ERR_PRAGMA", "#PRAGMA not followed by FAMICOM"},
    {ERR_WAV_SYNTAX, "ERR_WAV_SYNTAX", "#WAV syntax error or value out of range"},
    {ERR_WAV_COUNT, "ERR_WAV_COUNT", "#WAV with other than 32 values"},
    {ERR_TITLE_TOO_LONG, "ERR_TITLE_TOO_LONG", "title longer than 65535 bytes"},
    {ERR_TOO_MANY_WAVES, "ERR_TOO_MANY_WAVES", "more than 255 #WAV definitions"},
    {ERR_OCTAVE, "ERR_OCTAVE", "octave outside 1..8"},
    {ERR_GATE, "ERR_GATE", "q gate outside 1..16"},
    {ERR_LENGTH, "ERR_LENGTH", "length outside 1..1024"},
    {ERR_VOLUME, "ERR_VOLUME", "v volume outside 0..15 or missing"},
    {ERR_RELEASE, "ERR_RELEASE", "s release outside 0..255 or sweep outside -128..127"},
    {ERR_DETUNE, "ERR_DETUNE", "k detune outside -128..127"},
    {ERR_TIMBRE, "ERR_TIMBRE", "@ timbre outside 0..255 or refused by the FAMICOM channel"},
    {ERR_VOICE_TYPE, "ERR_VOICE_TYPE", "% voice type outside 0..255, or % in FAMICOM mode"},
    {ERR_TEMPO, "ERR_TEMPO", "t tempo outside 1..512"},
    {ERR_LOOP_COUNT, "ERR_LOOP_COUNT", "/: loop count outside 2..255"},
    {ERR_LOOP_BREAK, "ERR_LOOP_BREAK", "/ with no loop open"},
    {ERR_LOOP_END, "ERR_LOOP_END", ":/ with no loop open"},
    {ERR_VIBRATO, "ERR_VIBRATO", "mp vibrato value out of range"},
    {ERR_LENGTH_DIVIDE, "ERR_LENGTH_DIVIDE", "length or dot does not divide the whole note evenly"},
    {ERR_LENGTH_OVERFLOW, "ERR_LENGTH_OVERFLOW", "note or rest part longer than 65534 ticks"},
    {ERR_SYNTAX, "ERR_SYNTAX",
     "character that starts no command, or a misplaced repeat bracket ('[' inside a repeat, ']' with none open, "
     "a count of 1)"},
    {ERR_LOOP_DEPTH, "ERR_LOOP_DEPTH", "a 17th nested /: loop"},
    {ERR_LOOP_OPEN, "ERR_LOOP_OPEN", "the channel ends inside a /: loop"},
    {ERR_REPEAT_LIMIT, "ERR_REPEAT_LIMIT",
     "[ ] repeats read more text again than one compile allows (reported at the '[')"},
}};

}  // namespace

std::span<const ErrorCodeInfo> errorCodes() {
  return kErrorCodes;
}

const ErrorCodeInfo* findErrorCode(int code) {
  for (const ErrorCodeInfo& info : errorCodes())
    if (info.code == code) return &info;
  return nullptr;
}

}  // namespace qvb
