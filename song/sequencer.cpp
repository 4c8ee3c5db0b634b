#include "song/sequencer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "song/pitch_tables.h"
#include "song/sequencer_events.h"
#include "sound/mixer.h"
#include "sound/voice.h"

namespace qvb {
namespace {

// Tells the observer, if there is one, what a channel just did.
void notify(const DriverContext& context, const Track& track, SequencerEventKind kind,
            std::int32_t offset = -1, std::int32_t note = 0, std::int32_t ticks = 0) {
  if (context.observer == nullptr) return;
  SequencerEvent event;
  event.kind = kind;
  event.channel = static_cast<std::int32_t>(&track - context.tracks);
  event.frame = context.mixer != nullptr ? context.mixer->framePosition() : 0;
  event.note = note;
  event.ticks = ticks;
  event.interval = context.tickInterval;
  event.offset = offset;
  context.observer->onSequencerEvent(event);
}

void timerDone(const DriverContext& context, SequencerTimer timer) {
  if (context.observer == nullptr) return;
  context.observer->onTimerDone(timer, context.mixer != nullptr ? context.mixer->framePosition() : 0);
}

// What reading one item left the channel to do next.
enum class Step { Continue, Wait, End };

int clampPeriod(std::int32_t period) { return std::clamp(period, 0, kMaxPeriod); }

// The context's Voice for a channel, or null when the Mixer did not supply one;
// such a channel is left alone, since nothing can sound through it.
Voice* voiceOf(const DriverContext& context, int channel) {
  return context.voices != nullptr ? context.voices[channel] : nullptr;
}

void noteOn(const DriverContext& context, Track& track, Voice& voice, int note) {
  if (track.periodMode == 0) {
    // Converting to uint16 keeps the value modulo 65536, so a negative detune
    // on a low note wraps instead of overflowing.
    voice.frequency = static_cast<std::uint16_t>(context.noteFrequency[note] + track.detune);
  } else {
    track.period = clampPeriod(context.notePeriod[note] - track.detune);
    voice.frequency = context.periodFrequency[track.period];
  }
  voice.volumeRight = track.volumeRight;
  voice.volumeLeft = track.volumeLeft;
  track.keyOn = 1;
  track.noteFrames = 0;
}

void finish(Track& track, Voice& voice) {
  track.wait = 0;
  track.keyOn = 0;
  voice.volumeRight = 0;
  voice.volumeLeft = 0;
}

// The Track as reading found it each time it arrived at the start of a
// repeat level's body in this tick, and whether a break of that level was
// read since. Reading is a function of the Track alone (the Voice, the tempo
// and the Mixer are only written, each write replacing a value), so a pass
// that took no time and brought the Track back to where it started, apart
// from its own count and exit, is what every further pass would be.
class PassStarts {
 public:
  // Taking or checking a pass start copies or compares a whole Track, about
  // the work of this many items; it counts against the item budget.
  static constexpr int kCost = 16;

  void arrive(int level, const Track& track) {
    starts_[level] = track;
    breakRead_[level] = false;
    work_ += kCost;
  }
  void breakSeen(int level) { breakRead_[level] = true; }
  int work() const { return work_; }

  // Called at the REPEAT_END of a level about to jump back. When the pass
  // just read repeats itself, the passes with a count of 2 and more are
  // taken in one step; without a break the last pass is the same too, so
  // the loop ends here.
  void skipRepeats(Track& track, int level) {
    if (!starts_[level].has_value()) return;
    work_ += kCost;
    const Track& start = *starts_[level];
    // Compared as it would stand after the jump, apart from the level's own count and exit.
    const std::int32_t pos = track.pos;
    const std::int32_t count = track.repeatCount[level];
    const std::int32_t exit = track.repeatExit[level];
    track.pos = track.repeatStart[level];
    track.repeatCount[level] = start.repeatCount[level];
    track.repeatExit[level] = start.repeatExit[level];
    const bool same = track == start;
    track.pos = pos;
    track.repeatExit[level] = exit;
    track.repeatCount[level] = same ? (breakRead_[level] ? std::min(count, 1) : 0) : count;
  }

 private:
  std::array<std::optional<Track>, kRepeatLevels> starts_{};
  std::array<bool, kRepeatLevels> breakRead_{};
  int work_ = 0;
};

// Performs one item at the track's position. Reaching the end of the block,
// also in the middle of an item, reads as END.
Step readItem(DriverContext& context, Track& track, Voice& voice, PassStarts& passes) {
  const std::int32_t at = track.pos;
  const TrackItem item = decodeItem(track.data, track.length, track.pos);
  const std::int32_t operand = item.operands[0];

  if (isNote(item.opcode) || item.opcode == REST) {
    if (item.opcode == REST) {
      track.keyOn = 0;
      if (track.release == 0) {
        voice.volumeRight = 0;
        voice.volumeLeft = 0;
      }
    } else {
      noteOn(context, track, voice, item.opcode);
    }
    track.wait = operand;
    notify(context, track, item.opcode == REST ? SequencerEventKind::Rest : SequencerEventKind::NoteOn, at,
           item.opcode == REST ? 0 : item.opcode, operand);
    return operand != 0 ? Step::Wait : Step::Continue;
  }

  switch (item.opcode) {
    case VOLUME:
      track.volumeRight = track.volumeLeft = operand;
      return Step::Continue;
    case RELEASE:
      track.release = operand;
      return Step::Continue;
    case DETUNE:
      track.detune = operand;
      return Step::Continue;
    case SWEEP:
      track.sweep = operand;
      return Step::Continue;
    case VOLUME_RIGHT:
      track.volumeRight = operand;
      return Step::Continue;
    case VOLUME_LEFT:
      track.volumeLeft = operand;
      return Step::Continue;
    case TEMPO:
      context.tickInterval = operand;
      if (context.mixer != nullptr) context.mixer->SetTimer2Interval(context.tickInterval);
      notify(context, track, SequencerEventKind::TempoChange, at);
      return Step::Continue;
    case VIBRATO_DELAY:
      track.vibratoDelay = operand;
      track.vibratoOn = track.vibratoDelay != 0 ? 1 : 0;
      return Step::Continue;
    case VIBRATO_DEPTH:
      track.vibratoDepth = operand;
      return Step::Continue;
    case VIBRATO_RATE:
      track.vibratoRate = operand;
      return Step::Continue;
    case VIBRATO_STEP:
      track.vibratoStep = operand;
      return Step::Continue;
    case VIBRATO_GROWTH:
      track.vibratoGrowth = operand;
      return Step::Continue;
    case LOOP_MARK:
      track.loopMark = track.pos;
      notify(context, track, SequencerEventKind::LoopMark, at);
      return Step::Continue;
    case REPEAT_START: {
      // A level without a slot is skipped whole, so its loop body plays once.
      // The exit is forgotten: a break may only use one recorded by this
      // loop, never a stale one of an earlier loop on the same level.
      const std::int32_t level = operand;
      if (level < kRepeatLevels) {
        track.repeatCount[level] = item.operands[1];
        track.repeatStart[level] = track.pos;
        track.repeatExit[level] = 0;
        passes.arrive(level, track);
      }
      return Step::Continue;
    }
    case REPEAT_BREAK: {
      // Offset 0 means no REPEAT_END of this level was read yet: no exit to take.
      const std::int32_t level = operand;
      if (level < kRepeatLevels) {
        passes.breakSeen(level);
        if (track.repeatCount[level] == 1 && track.repeatExit[level] != 0) track.pos = track.repeatExit[level];
      }
      return Step::Continue;
    }
    case REPEAT_END: {
      // The count never goes below 0, so a count of 0 (or an END without its
      // START) plays the body once instead of jumping back 2^32 times.
      const std::int32_t level = operand;
      if (level < kRepeatLevels) {
        track.repeatExit[level] = track.pos;
        if (track.repeatCount[level] > 0) --track.repeatCount[level];
        if (track.repeatCount[level] > 0) passes.skipRepeats(track, level);
        if (track.repeatCount[level] > 0) {
          track.pos = track.repeatStart[level];
          passes.arrive(level, track);
        }
      }
      return Step::Continue;
    }
    case TIMBRE:
      voice.timbre = operand;
      return Step::Continue;
    case VOICE_TYPE:
      voice.SetType(static_cast<unsigned>(operand & 0x0F));
      track.periodMode = operand >> 7;
      return Step::Continue;
    default:
      return Step::End;  // END, every unassigned command byte and a cut item
  }
}

// Reads items until a note or rest that takes time, or until the channel
// finishes. A second END in one reading means the loop since the mark took
// no time and would run for ever, so the channel finishes instead. Repeats
// of bodies that take no time are cut short by PassStarts; the item budget
// bounds whatever is left (bodies that never settle, breaks nested deep).
void readChannel(DriverContext& context, Track& track, Voice& voice) {
  bool jumpedToMark = false;
  PassStarts passes;
  for (int items = 0; items + passes.work() < kMaxItemsPerTick; ++items) {
    switch (readItem(context, track, voice, passes)) {
      case Step::Wait:
        return;
      case Step::Continue:
        break;
      case Step::End:
        if (track.loopMark == 0 || jumpedToMark) {
          finish(track, voice);
          notify(context, track, SequencerEventKind::ChannelEnd);
          return;
        }
        jumpedToMark = true;
        track.pos = track.loopMark;
        ++track.loopJumps;
        notify(context, track, SequencerEventKind::JumpToMark);
        break;
    }
  }
  finish(track, voice);
  notify(context, track, SequencerEventKind::ChannelEnd);
}

void releaseAndSweep(const DriverContext& context, Track& track, Voice& voice) {
  if (track.release != 0) {
    voice.volumeRight = track.release < voice.volumeRight ? voice.volumeRight - track.release : 0;
    voice.volumeLeft = track.release < voice.volumeLeft ? voice.volumeLeft - track.release : 0;
  }
  if (track.sweep != 0) {
    if (track.periodMode == 0) {
      const auto swept = static_cast<std::uint16_t>(voice.frequency + track.sweep);
      voice.frequency = swept != 0 ? swept : 1;
    } else {
      // Kept inside the table so a long sweep neither leaves it nor overflows.
      track.period = clampPeriod(track.period - track.sweep);
      voice.frequency = context.periodFrequency[track.period];
    }
  }
}

void vibratoStep(const DriverContext& context, Track& track, Voice& voice) {
  track.vibratoTimer = 0;
  track.vibratoOffset += track.vibratoDelta;
  if (track.vibratoDelta > 0) {
    if (track.vibratoOffset >= track.vibratoRange) {
      track.vibratoDelta = -track.vibratoDelta;
      ++track.vibratoTurns;
      if (track.vibratoTurns == track.vibratoGrowth) {
        track.vibratoTurns = 0;
        ++track.vibratoRange;
      }
    }
  } else if (track.vibratoOffset <= -track.vibratoRange) {
    // Turning at the lower bound does not count a turn.
    track.vibratoDelta = -track.vibratoDelta;
    if (track.vibratoTurns == track.vibratoGrowth) {
      track.vibratoTurns = 0;
      ++track.vibratoRange;
    }
  }
  const std::int32_t pitch = track.vibratoBase + track.vibratoOffset;
  if (track.periodMode == 0)
    voice.frequency = static_cast<std::uint16_t>(pitch);
  else
    voice.frequency = context.periodFrequency[clampPeriod(pitch)];
}

void vibrato(const DriverContext& context, Track& track, Voice& voice) {
  if (track.noteFrames < track.vibratoDelay) {
    ++track.noteFrames;
  } else if (track.noteFrames == track.vibratoDelay) {
    // The offset is kept: the previous note's offset carries over.
    track.vibratoBase = track.periodMode == 0 ? voice.frequency : track.period;
    track.vibratoRange = track.vibratoDepth;
    track.vibratoDelta = track.vibratoStep;
    track.vibratoTimer = 0;
    track.vibratoTurns = 0;
    ++track.noteFrames;
  } else {
    // Saturates instead of overflowing when the rate is never met (rate 0).
    if (track.vibratoTimer < INT32_MAX) ++track.vibratoTimer;
    if (track.vibratoTimer == track.vibratoRate) vibratoStep(context, track, voice);
  }
}

}  // namespace

void tick(DriverContext& context) {
  for (int i = 0; i < context.channelCount; ++i) {
    Voice* voice = voiceOf(context, i);
    Track& track = context.tracks[i];
    if (voice == nullptr || track.wait <= 0) continue;
    if (--track.wait != 0) continue;
    readChannel(context, track, *voice);
  }
  timerDone(context, SequencerTimer::Tick);
}

void effectFrame(DriverContext& context) {
  for (int i = 0; i < context.channelCount; ++i) {
    Voice* voice = voiceOf(context, i);
    if (voice == nullptr) continue;
    Track& track = context.tracks[i];
    if (track.keyOn == 0) releaseAndSweep(context, track, *voice);
    if (track.vibratoOn == 1) vibrato(context, track, *voice);
  }
  timerDone(context, SequencerTimer::EffectFrame);
}

void tickCallback(void* context) {
  if (context != nullptr) tick(*static_cast<DriverContext*>(context));
}

void effectFrameCallback(void* context) {
  if (context != nullptr) effectFrame(*static_cast<DriverContext*>(context));
}

}  // namespace qvb
