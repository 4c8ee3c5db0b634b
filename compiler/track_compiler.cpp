#include "compiler/track_compiler.h"

#include <array>
#include <cstdint>
#include <span>

#include "compiler/compile_errors.h"
#include "compiler/note_grammar.h"
#include "song/track_commands.h"

namespace qvb {

namespace {

constexpr std::array<int, 4> kFamicomDuties{2, 4, 6, 7};
constexpr int kFamicomWaveChannel = 2;  // the third channel plays the sine voice

using grammar::inRange;

class ChannelCompiler {
 public:
  ChannelCompiler(MmlSource& reader, ChannelBuffers& out, std::int32_t mode, int index, SourceMap* map)
      : in_(reader), out_(out), famicom_(mode == kModeFamicom), index_(index), map_(map) {}

  int run() {
    if (famicom_) {
      const Place place = here();
      out_.emit(VOICE_TYPE, index_ == kFamicomWaveChannel ? 3 : 1);
      mark(place);
    }
    for (;;) {
      notesFromRun();
      const int ch = in_.getNonBlank();
      if (ch == END_OF_TEXT) {
        if (loopDepth_ != 0) return ERR_LOOP_OPEN;  // fault() names where it opened
        out_.emit(END);
        return 0;
      }
      in_.position(command_.line, command_.row);
      const Place place = here();
      const int result = command(ch);
      if (result != 0) return result;
      mark(place);
      // A full buffer drops every later byte, so there is no use going on.
      if (out_.failed()) return ERR_MEMORY;
    }
  }

  // Where the command being read began, and the loop left open last.
  CommandFault fault() const {
    CommandFault f;
    f.channel = index_ + 1;
    f.line = command_.line;
    f.row = command_.row;
    if (loopDepth_ > 0 && loopDepth_ <= static_cast<int>(loopOpens_.size())) {
      f.openLine = loopOpens_[static_cast<std::size_t>(loopDepth_ - 1)].line;
      f.openRow = loopOpens_[static_cast<std::size_t>(loopDepth_ - 1)].row;
    }
    return f;
  }

 private:
  // Where a command begins and the length of the block before its items.
  struct Place {
    std::int32_t line = 0, row = 0, offset = 0;
  };
  Place here() const {
    Place p;
    if (map_ == nullptr) return p;
    in_.position(p.line, p.row);
    p.offset = out_.length(index_);
    return p;
  }
  // Enters the items the command from that place wrote, if it wrote any. END
  // has no command of its own: it maps to the last one.
  void mark(const Place& p) {
    if (map_ != nullptr && p.line > 0 && p.row > 0 && out_.length(index_) > p.offset) {
      map_->add(index_, p.offset, p.line, p.row);
    }
  }

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

  // The items of a note (its gated part, then the rest after it) or a rest,
  // each through item(opcode, ticks); parts beyond the longest length field
  // are refused before any is written.
  template <typename Item>
  static int noteItems(const NoteRead& note, std::int32_t gate, Item&& item) {
    const std::int64_t sounding = note.rest ? note.ticks : note.ticks * gate / kGateSteps;
    const std::int64_t silent = note.ticks - sounding;
    const bool tooLong = note.ticks > kMaxNoteTicks && (sounding > kMaxNoteTicks || silent > kMaxNoteTicks);
    if (tooLong) return ERR_LENGTH_OVERFLOW;
    item(note.rest ? REST : note.number, static_cast<std::int32_t>(sounding));
    if (silent != 0) item(REST, static_cast<std::int32_t>(silent));
    return 0;
  }

  // A note command (note_grammar.h) read on the reader.
  int noteCommand(int letter) {
    NoteRead note;
    if (const int fault = readNoteCommand(in_, letter, settings_, note); fault != 0) return fault;
    if (!isNoteLetter(letter)) return 0;
    return noteItems(note, settings_.gate, [this](int opcode, std::int32_t ticks) {
      out_.emitTimed(static_cast<std::uint8_t>(opcode), ticks);
    });
  }

  // Note commands, the bulk of every song, read straight from the reader's
  // run and written straight into the buffer, as many as follow one another.
  // It stops before anything else, before a command that the run or the
  // buffer's room ends inside, and before any fault, so that the reads on the
  // reader take over at exactly that byte.
  void notesFromRun() {
    const std::span<const std::uint8_t> run = in_.runAhead();
    const std::span<std::uint8_t> room = out_.room();
    constexpr std::size_t kNoteRoom = 2 * kMaxItemBytes;  // a note and its rest
    if (run.empty() || room.size() < kNoteRoom) return;
    const std::uint8_t* const start = run.data();
    const std::uint8_t* const end = start + run.size();
    std::uint8_t* at = room.data();
    std::uint8_t* const full = at + room.size() - kNoteRoom;
    const auto write = [&at](int opcode, std::int32_t ticks) {
      at = writeTimedItem(at, static_cast<std::uint8_t>(opcode), ticks);
    };
    const std::uint8_t* done = start;  // after the last command taken
    const std::int32_t base = map_ != nullptr ? out_.length(index_) : 0;
    NoteSettings settings = settings_;
    NoteRead note;
    for (;;) {
      scan::BytePointer p{done};
      scan::blanks(p);
      if (p.at >= end) break;
      const int c = p.peek();
      const bool timed = isNoteLetter(c);
      if (!timed && !isNoteCommand(c)) break;
      if (timed && at > full) break;
      std::uint8_t* const itemsAt = at;
      const std::uint8_t* const commandAt = p.at;
      p.take();
      // A setting counts only once its command lies whole inside the run.
      const NoteSettings before = settings;
      if (readNoteCommand(p, c, settings, note) != 0 || p.at >= end ||
          (timed && noteItems(note, settings.gate, write) != 0)) {
        settings = before;
        break;
      }
      if (map_ != nullptr && at != itemsAt) {
        std::int32_t line = 0, row = 0;
        in_.placeInRun(commandAt, line, row);
        map_->add(index_, base + static_cast<std::int32_t>(itemsAt - room.data()), line, row);
      }
      done = p.at;
    }
    settings_ = settings;
    if (done == start) return;
    in_.takeFromRun(static_cast<std::size_t>(done - start));
    out_.wrote(at);
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
      loopOpens_[static_cast<std::size_t>(loopDepth_)] = command_;
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
    if (isNoteCommand(ch)) return noteCommand(ch);
    switch (ch) {
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
  SourceMap* map_;
  struct Spot {
    std::int32_t line = 0, row = 0;
  };
  Spot command_;  // where the command being read began
  std::array<Spot, kRepeatLevels> loopOpens_{};
  NoteSettings settings_;
  int loopDepth_ = 0;
};

}  // namespace

int compileTracks(MmlSource& reader, const SongHeader& header, ChannelBuffers& tracks, SourceMap* map,
                  CommandFault* fault) {
  if (tracks.failed()) return ERR_MEMORY;
  for (std::int32_t i = 0; i < header.channelCount; ++i) {
    if (!tracks.select(i) || !reader.selectChannel(i + 1)) return ERR_CHANNEL_COUNT;
    ChannelCompiler channel(reader, tracks, header.mode, i, map);
    if (const int result = channel.run(); result != 0) {
      if (fault != nullptr) *fault = channel.fault();
      return result;
    }
  }
  return tracks.failed() ? ERR_MEMORY : 0;
}

}  // namespace qvb
