// The grammar of notes, rests, octave steps and the o, l and q settings, the
// bulk of every song, written once over a token scan cursor (token_scan.h).
// The command compiler runs it on the reader's run of plain bytes directly
// and on the reader itself for everything else: both look at the same bytes
// and find the same fault at the same byte, which leaves the reader's position
// where the fault is reported.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "compiler/compile_errors.h"
#include "compiler/token_scan.h"

namespace qvb {

inline constexpr int kWholeNote = 192;                // ticks of a whole note
inline constexpr int kGateSteps = 16;                 // the gate counts sixteenths
inline constexpr std::int32_t kLongestLength = 1024;  // the largest length number, a 1024th

// What the settings and octave steps leave for the notes after them.
struct NoteSettings {
  std::int32_t octave = 4;
  std::int32_t defaultLength = 4;
  std::int32_t gate = kGateSteps;
};

// A note's number, or a rest, and its ticks with every tie added.
struct NoteRead {
  bool rest = false;
  int number = 0;
  std::int64_t ticks = 0;
};

namespace grammar {

// What a byte starts: 0 nothing read here, 1 a note or rest, 2 an octave
// step or a setting.
inline constexpr std::array<std::uint8_t, 256> kStarts = [] {
  std::array<std::uint8_t, 256> starts{};
  for (const char c : std::string_view("abcdefgr")) starts[static_cast<std::uint8_t>(c)] = 1;
  for (const char c : std::string_view("<>olq")) starts[static_cast<std::uint8_t>(c)] = 2;
  return starts;
}();

inline int starts(int c) {
  return static_cast<unsigned>(c) < kStarts.size() ? kStarts[static_cast<std::size_t>(c)] : 0;
}

inline bool inRange(std::int64_t v, std::int64_t lo, std::int64_t hi) { return lo <= v && v <= hi; }

// The number that follows, or the fallback where no digit stands.
template <class Cursor>
QVB_SCAN_INLINE std::int32_t numberOr(Cursor& in, std::int32_t fallback) {
  const scan::Number number = in.number();
  return number.digits ? number.value() : fallback;
}

// One length and its dots added to a tie chain's ticks. 64 bits hold any tie
// chain a source can spell.
QVB_SCAN_INLINE int addLength(std::int32_t length, int dots, std::int64_t& total) {
  if (kWholeNote % length != 0) return ERR_LENGTH_DIVIDE;
  int part = kWholeNote / length;
  total += part;
  for (int d = 0; d < dots; ++d) {
    if (part % 2 != 0) return ERR_LENGTH_DIVIDE;
    part /= 2;
    total += part;
  }
  return 0;
}

// An accidental and lengths with dots, joined by '^' ties, after the letter.
template <class Cursor>
QVB_SCAN_INLINE int readNote(Cursor& in, int letter, const NoteSettings& settings, NoteRead& note) {
  // Semitones from a to r; only a..g are notes.
  static constexpr std::array<int, 18> kSemitones{9, 11, 0, 2, 4, 5, 7};
  scan::blanks(in);
  const int x = in.peek();
  const int accidental = x == '#' || x == '+' ? 1 : x == '-' ? -1 : 0;
  if (accidental != 0) in.take();
  note.rest = letter == 'r';
  note.number = settings.octave * 12 + kSemitones[static_cast<std::size_t>(letter - 'a')] + accidental;
  note.ticks = 0;
  for (;;) {
    const std::int32_t length = numberOr(in, settings.defaultLength);
    if (!inRange(length, 1, kLongestLength)) return ERR_LENGTH;
    if (const int fault = addLength(length, in.dots(), note.ticks); fault != 0) return fault;
    if (in.peek() != '^') return 0;  // the dots took the blanks
    in.take();
  }
}

}  // namespace grammar

// The commands this grammar reads: notes and rests, < and >, o, l and q.
inline bool isNoteCommand(int c) { return grammar::starts(c) != 0; }
inline bool isNoteLetter(int c) { return grammar::starts(c) == 1; }

// Reads the command whose letter (isNoteCommand) was just taken: a note or
// rest into `note`, or a setting or octave step into `settings`. Returns 0 or
// the fault; the cursor is then on the byte after what was read, or at the
// byte where the fault was found.
template <class Cursor>
QVB_SCAN_INLINE int readNoteCommand(Cursor& in, int letter, NoteSettings& settings, NoteRead& note) {
  using grammar::inRange;
  if (isNoteLetter(letter)) return grammar::readNote(in, letter, settings, note);
  switch (letter) {
    case '<':
    case '>': {
      const std::int32_t octave = settings.octave + (letter == '<' ? 1 : -1);
      if (!inRange(octave, 1, 8)) return ERR_OCTAVE;
      settings.octave = octave;
      return 0;
    }
    case 'o': {
      const std::int32_t octave = grammar::numberOr(in, 4);
      if (!inRange(octave, 1, 8)) return ERR_OCTAVE;
      settings.octave = octave;
      return 0;
    }
    case 'l': {
      const std::int32_t length = grammar::numberOr(in, 4);
      if (!inRange(length, 1, kLongestLength)) return ERR_LENGTH;
      settings.defaultLength = length;
      in.dots();  // taken, never applied: a note adds only its own dots
      return 0;
    }
    case 'q': {
      const std::int32_t gate = grammar::numberOr(in, kGateSteps);
      if (!inRange(gate, 1, kGateSteps)) return ERR_GATE;
      settings.gate = gate;
      return 0;
    }
    default:
      return ERR_SYNTAX;  // not a command of this grammar
  }
}

}  // namespace qvb
