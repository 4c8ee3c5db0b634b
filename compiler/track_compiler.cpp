#include "compiler/track_compiler.h"

#include <array>
#include <cstdint>
#include <span>

#include "compiler/compile_errors.h"
#include "compiler/token_scan.h"
#include "song/track_commands.h"

namespace qvb {

namespace {

constexpr std::array<int, 7> kNoteSemitones{9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
constexpr std::array<int, 4> kFamicomDuties{2, 4, 6, 7};
constexpr int kFamicomWaveChannel = 2;  // the third channel plays the sine voice

constexpr std::int32_t kLongestLength = 1024;  // the largest length number, a 1024th

// The settings o, l and q: the value without a number, the range, the fault.
struct Setting {
  std::int32_t fallback, lo, hi;
  int fault;
};
constexpr Setting kOctave{4, 1, 8, ERR_OCTAVE};
constexpr Setting kDefaultLength{4, 1, kLongestLength, ERR_LENGTH};
constexpr Setting kGate{kGateSteps, 1, kGateSteps, ERR_GATE};

bool inRange(std::int64_t v, std::int64_t lo, std::int64_t hi) { return lo <= v && v <= hi; }
bool inRange(std::int64_t v, const Setting& setting) { return inRange(v, setting.lo, setting.hi); }
bool isNoteLetter(int c) { return (c >= 'a' && c <= 'g') || c == 'r'; }

class ChannelCompiler {
 public:
  ChannelCompiler(MmlSource& reader, ChannelBuffers& out, std::int32_t mode, int index)
      : in_(reader), out_(out), famicom_(mode == kModeFamicom), index_(index) {}

  int run() {
    if (famicom_) {
      out_.emit(VOICE_TYPE, index_ == kFamicomWaveChannel ? 3 : 1);
    }
    for (;;) {
      notesFromRun();
      const int ch = in_.getNonBlank();
      if (ch == END_OF_TEXT) {
        if (loopDepth_ != 0) return ERR_LOOP_OPEN;
        out_.emit(END);
        return 0;
      }
      const int result = command(ch);
      if (result != 0) return result;
      // A full buffer drops every later byte, so there is no use going on.
      if (out_.failed()) return ERR_MEMORY;
    }
  }

 private:
  // The number that follows, or the fallback when no digit stands here.
  std::int32_t number(std::int32_t fallback) {
    std::int32_t value = 0;
    return in_.readInt(value) ? value : fallback;
  }

  bool next(int expected) {
    if (in_.peekNonBlank() != expected) return false;
    in_.getNonBlank();
    return true;
  }

  // A note or rest; lengths beyond the longest length field are refused.
  int emitTimed(int opcode, std::int64_t ticks) {
    if (ticks > kMaxNoteTicks) return ERR_LENGTH_OVERFLOW;
    out_.emitTimed(static_cast<std::uint8_t>(opcode), static_cast<std::int32_t>(ticks));
    return 0;
  }

  // One length and its dots added to a tie chain's ticks. 64 bits hold any
  // tie chain a source can spell.
  static int addLength(std::int32_t length, int dots, std::int64_t& total) {
    if (!inRange(length, 1, kLongestLength)) return ERR_LENGTH;
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

  // Lengths with dots, joined by '^' ties, summed in ticks.
  int readLength(std::int64_t& total) {
    total = 0;
    do {
      const std::int32_t length = number(defaultLength_);
      if (!inRange(length, 1, kLongestLength)) return ERR_LENGTH;
      if (const int result = addLength(length, in_.countDots(), total); result != 0) return result;
    } while (next('^'));
    return 0;
  }

  int note(int letter) {
    int accidental = 0;
    const int x = in_.peekNonBlank();
    if (x == '#' || x == '+') accidental = 1;
    if (x == '-') accidental = -1;
    if (accidental != 0) in_.getNonBlank();
    std::int64_t total = 0;
    if (const int result = readLength(total); result != 0) return result;
    return noteItems(letter, accidental, total, [this](int opcode, std::int64_t ticks) { return emitTimed(opcode, ticks); });
  }

  // The note (its gated part, then the rest after it) or the rest, each
  // item through item(opcode, ticks), which returns 0 or a fault.
  template <typename Item>
  int noteItems(int letter, int accidental, std::int64_t total, Item&& item) const {
    if (letter == 'r') return item(REST, total);
    const int number = octave_ * 12 + kNoteSemitones[static_cast<std::size_t>(letter - 'a')] + accidental;
    const std::int64_t sounding = total * gate_ / kGateSteps;
    if (const int result = item(number, sounding); result != 0) return result;
    if (sounding == total) return 0;
    return item(REST, total - sounding);
  }

  // Notes, rests, octave steps and the o, l and q settings, the bulk of
  // every song, read straight from the reader's run and written straight into
  // the buffer, as many as follow one another. It stops before anything else,
  // before a command that the run or the buffer's room ends inside, and
  // before any fault, so that the reads of command() take over at exactly
  // that byte.
  void notesFromRun() {
    const std::span<const std::uint8_t> run = in_.runAhead();
    const std::span<std::uint8_t> room = out_.room();
    constexpr std::size_t kNoteRoom = 2 * kMaxItemBytes;  // a note and its rest
    if (run.empty() || room.size() < kNoteRoom) return;
    const std::uint8_t* const start = run.data();
    const std::uint8_t* const end = start + run.size();
    std::uint8_t* at = room.data();
    std::uint8_t* const full = at + room.size() - kNoteRoom;
    const auto write = [&at](int opcode, std::int64_t ticks) {
      at = writeTimedItem(at, static_cast<std::uint8_t>(opcode), static_cast<std::int32_t>(ticks));
      return 0;
    };
    const std::uint8_t* done = start;  // after the last command taken
    for (;;) {
      const std::uint8_t* p = done;
      while (*p == ' ') ++p;
      if (p >= end) break;
      const int c = *p;
      if (c == '<' || c == '>') {
        const int octave = octave_ + (c == '<' ? 1 : -1);
        if (!inRange(octave, kOctave)) break;
        octave_ = octave;
        done = p + 1;
        continue;
      }
      if (c == 'o' || c == 'l' || c == 'q') {
        if ((done = setting(c, p + 1, end)) == nullptr) {
          done = p;
          break;
        }
        continue;
      }
      if (!isNoteLetter(c) || at > full) break;
      int accidental = 0;
      std::int64_t total = 0;
      const std::uint8_t* const after = noteText(p + 1, accidental, total);
      if (after == nullptr || after >= end || total > kMaxNoteTicks) break;
      noteItems(c, accidental, total, write);
      done = after;
    }
    if (done == start) return;
    in_.takeFromRun(static_cast<std::size_t>(done - start));
    out_.wrote(at);
  }

  // o, l or q and its number (l with its dots) after the letter, read and
  // checked as command() does: where the first byte after it lies, or
  // nullptr, with nothing set, where only the reads may take it.
  const std::uint8_t* setting(int c, const std::uint8_t* p, const std::uint8_t* end) {
    const Setting& setting = c == 'o' ? kOctave : c == 'l' ? kDefaultLength : kGate;
    std::int32_t value = setting.fallback;
    int dots = 0;
    if ((p = numberText(p, value)) == nullptr || !inRange(value, setting)) return nullptr;
    if (c == 'l') p = scan::dots(p, dots);
    if (p >= end) return nullptr;
    switch (c) {
      case 'o':
        octave_ = value;
        break;
      case 'l':
        defaultLength_ = value;
        defaultDots_ = dots;
        break;
      default:
        gate_ = value;
        break;
    }
    return p;
  }

  // A note's accidental and lengths after its letter, read as note() reads
  // them: where the first byte after it lies (blanks count for nothing inside
  // a note), or nullptr for what only the reads may take.
  const std::uint8_t* noteText(const std::uint8_t* p, int& accidental, std::int64_t& total) const {
    while (*p == ' ') ++p;
    accidental = *p == '#' || *p == '+' ? 1 : *p == '-' ? -1 : 0;
    if (accidental != 0) ++p;
    for (;;) {
      std::int32_t length = defaultLength_;
      int dots = 0;
      if ((p = numberText(p, length)) == nullptr) return nullptr;
      p = scan::dots(p, dots);
      if (addLength(length, dots, total) != 0) return nullptr;
      if (*p != '^') return p;
      ++p;
    }
  }

  // A number as readInt() reads it: where the first byte after it lies,
  // value untouched when no digit stands there, or nullptr for a '-' (which
  // only the reads may take) or a number beyond every range here.
  static const std::uint8_t* numberText(const std::uint8_t* p, std::int32_t& value) {
    scan::Number number;
    p = scan::number(p, number);
    if (number.negative || number.magnitude > static_cast<std::uint64_t>(kLongestLength)) return nullptr;
    if (number.digits) value = static_cast<std::int32_t>(number.magnitude);
    return p;
  }

  int volume() {
    std::int32_t a = 0;
    std::int32_t b = 0;
    if (next(',')) {
      if (!in_.readInt(b) || !inRange(b, 0, 15)) return ERR_VOLUME;
      out_.emit(VOLUME_LEFT, b * 16);
      return 0;
    }
    if (!in_.readInt(a)) {
      out_.emit(VOLUME, 10 * 16);
      return 0;
    }
    if (!inRange(a, 0, 15)) return ERR_VOLUME;
    if (!next(',')) {
      out_.emit(VOLUME, a * 16);
      return 0;
    }
    out_.emit(VOLUME_RIGHT, a * 16);
    if (!in_.readInt(b)) return 0;
    if (!inRange(b, 0, 15)) return ERR_VOLUME;
    out_.emit(VOLUME_LEFT, b * 16);
    return 0;
  }

  int releaseAndSweep() {
    if (in_.peekNonBlank() != ',') {
      const std::int32_t release = number(0);
      if (!inRange(release, 0, 255)) return ERR_RELEASE;
      out_.emit(RELEASE, release);
    }
    if (next(',')) {
      const std::int32_t sweep = number(0);
      if (!inRange(sweep, -128, 127)) return ERR_RELEASE;
      out_.emit(SWEEP, sweep);
    }
    return 0;
  }

  int vibrato() {
    if (!next('p')) return ERR_SYNTAX;
    struct Field {
      std::uint8_t opcode;
      std::int32_t lo, hi;
    };
    static constexpr std::array<Field, 5> kFields{{{VIBRATO_DELAY, 0, 65535},
                                                   {VIBRATO_DEPTH, 0, 255},
                                                   {VIBRATO_RATE, 0, 255},
                                                   {VIBRATO_STEP, -128, 127},
                                                   {VIBRATO_GROWTH, 0, 255}}};
    std::array<std::int32_t, 5> values{};
    std::array<bool, 5> present{};
    in_.readArgs(values, present);
    for (std::size_t i = 0; i < kFields.size(); ++i) {
      if (!present[i]) continue;
      if (!inRange(values[i], kFields[i].lo, kFields[i].hi)) return ERR_VIBRATO;
      out_.emit(kFields[i].opcode, values[i]);
    }
    return 0;
  }

  int timbre() {
    const std::int32_t value = number(0);
    if (!inRange(value, 0, 255)) return ERR_TIMBRE;
    if (famicom_) {
      if (index_ == kFamicomWaveChannel) return ERR_TIMBRE;
      bool duty = false;
      for (const int allowed : kFamicomDuties) duty = duty || value == allowed;
      if (!duty) return ERR_TIMBRE;
    }
    out_.emit(TIMBRE, value);
    return 0;
  }

  int loop(int ch) {
    if (ch == '/' && next(':')) {
      const std::int32_t count = number(2);
      if (!inRange(count, 2, 255)) return ERR_LOOP_COUNT;
      if (loopDepth_ >= kRepeatLevels) return ERR_LOOP_DEPTH;
      out_.emit(REPEAT_START, loopDepth_, count);
      ++loopDepth_;
      return 0;
    }
    if (ch == '/') {
      if (loopDepth_ == 0) return ERR_LOOP_BREAK;
      out_.emit(REPEAT_BREAK, loopDepth_ - 1);
      return 0;
    }
    if (!next('/')) return ERR_SYNTAX;  // ':' must start ":/"
    if (loopDepth_ == 0) return ERR_LOOP_END;
    out_.emit(REPEAT_END, loopDepth_ - 1);
    --loopDepth_;
    return 0;
  }

  int command(int ch) {
    switch (ch) {
      case 'a': case 'b': case 'c': case 'd': case 'e': case 'f': case 'g': case 'r':
        return note(ch);
      case 'o': {
        const std::int32_t octave = number(kOctave.fallback);
        if (!inRange(octave, kOctave)) return kOctave.fault;
        octave_ = octave;
        return 0;
      }
      case '<':
      case '>': {
        const int octave = octave_ + (ch == '<' ? 1 : -1);
        if (!inRange(octave, kOctave)) return kOctave.fault;
        octave_ = octave;
        return 0;
      }
      case 'l': {
        const std::int32_t length = number(kDefaultLength.fallback);
        if (!inRange(length, kDefaultLength)) return kDefaultLength.fault;
        defaultLength_ = length;
        // Kept for the record only: a note falling back on the default
        // length adds just its own dots.
        defaultDots_ = in_.countDots();
        return 0;
      }
      case 'q': {
        const std::int32_t gate = number(kGate.fallback);
        if (!inRange(gate, kGate)) return kGate.fault;
        gate_ = gate;
        return 0;
      }
      case 't': {
        const std::int32_t tempo = number(120);
        if (!inRange(tempo, 1, 512)) return ERR_TEMPO;
        out_.emit(TEMPO, kTempoBase / tempo);
        return 0;
      }
      case 'v':
        return volume();
      case 's':
        return releaseAndSweep();
      case 'k': {
        const std::int32_t detune = number(0);
        if (!inRange(detune, -128, 127)) return ERR_DETUNE;
        out_.emit(DETUNE, detune);
        return 0;
      }
      case 'm':
        return vibrato();
      case '@':
        return timbre();
      case '%': {
        // Read first like every other operand, then refused in FAMICOM mode.
        const std::int32_t type = number(0);
        if (famicom_ || !inRange(type, 0, 255)) return ERR_VOICE_TYPE;
        out_.emit(VOICE_TYPE, type);
        return 0;
      }
      case '$':
        out_.emit(LOOP_MARK);
        return 0;
      case '/':
      case ':':
        return loop(ch);
      default:
        return ERR_SYNTAX;
    }
  }

  MmlSource& in_;
  ChannelBuffers& out_;
  const bool famicom_;
  const int index_;
  int octave_ = 4;
  std::int32_t defaultLength_ = 4;
  int defaultDots_ = 0;
  int gate_ = kGateSteps;
  int loopDepth_ = 0;
};

}  // namespace

int compileTracks(MmlSource& reader, const SongHeader& header, ChannelBuffers& tracks) {
  if (tracks.failed()) return ERR_MEMORY;
  for (std::int32_t i = 0; i < header.channelCount; ++i) {
    if (!tracks.select(i) || !reader.selectChannel(i + 1)) return ERR_CHANNEL_COUNT;
    ChannelCompiler channel(reader, tracks, header.mode, i);
    if (const int result = channel.run(); result != 0) return result;
  }
  return tracks.failed();
}

}  // namespace qvb
