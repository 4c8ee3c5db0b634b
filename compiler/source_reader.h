// The compiler's character reader: delivers one channel's text (from the
// line index) a byte at a time, skipping removed bytes, crossing line ends,
// replaying [n ... | ...] repeat brackets within a replay budget, and holding
// one character of look-ahead. Plain bytes ahead make a run that the inline
// reads and the token scans take without the full read.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "compiler/line_index.h"
#include "compiler/token_scan.h"

namespace qvb {

// Codes the reader returns in place of a character.
inline constexpr int END_OF_TEXT = -1024;
inline constexpr int ERR_REPEAT_CLOSE = -1025;   // ']' with no repeat open
inline constexpr int ERR_REPEAT_ONE = -1026;     // a repeat count of 1
inline constexpr int ERR_REPEAT_NESTED = -1027;  // '[' while a repeat is open
inline constexpr int ERR_REPEAT_SPENT = -1028;   // repeats have read again all the budget allows

// What repeat passes after the first may read again in one compile: a base
// plus a share per source byte, so the work of a compile stays linear in the
// size of its source. A real song's repeats read again a few times its own
// size at most; a huge count (`[2147483647 c]`) stops here within a few
// milliseconds instead of running for minutes.
inline constexpr std::uint64_t kReplayBudgetBase = std::uint64_t{1} << 18;
inline constexpr std::uint64_t kReplayBudgetPerSourceByte = 2;
inline constexpr std::uint64_t replayBudgetFor(std::uint64_t sourceBytes) {
  return kReplayBudgetBase + kReplayBudgetPerSourceByte * sourceBytes;
}

class SourceReader {
 public:
  // Files a preprocessed text's lines (LineIndex::split); 0 or the line of a
  // bad channel marker.
  int split(std::uint8_t* text) { return lines_.split(text); }
  const LineIndex& lines() const { return lines_; }

  // 1 with the cursor at the start of the channel; 0 when it has no entry.
  int selectChannel(int channel);
  // Off: every read takes the byte-by-byte path. For the tests, which hold
  // the fast reads to the same results, position and counts.
  void setPlainRuns(bool on) { plainRuns_ = on; }
  // Bytes the repeats may read again from now on; unlimited until set.
  void setReplayBudget(std::uint64_t bytes) { replayBudget_ = bytes; }
  std::uint64_t replayedBytes() const { return replayedBytes_ + (replaying_ ? runSteps() : 0); }
  // Bytes examined by expanded and raw reads in all; for the tests' bound on
  // the work of a compile.
  std::uint64_t readSteps() const { return readSteps_ + runSteps(); }
  // Once the budget is spent every read gives ERR_REPEAT_SPENT, and the
  // position is that of the '[' whose repeat spent it.
  bool replayBudgetSpent() const { return budgetSpent_; }
  // Skips what is left of the repeat being read again, as if its remaining
  // passes had been read: the cursor goes to the place after its ']'. For a
  // caller that knows those passes can change nothing; no effect in a first
  // pass, whose end is not known yet.
  void leaveRepeat();
  // The next character (0..255) or a reader code. Raw reads return every
  // byte unexamined; expanded reads skip, cross lines and run repeats.
  int readChar(bool expand);
  int getChar() {
    // The common cases inline: the held character, or the next byte of the
    // run of plain bytes the full read found ahead. A spent budget leaves no
    // held character but its own code, and no run.
    if (pushback_ != -1) {
      const int held = pushback_;
      pushback_ = -1;
      return held;
    }
    if (column_ < runEnd_) return text_[column_++];
    return readChar(true);
  }
  int getNonBlank() {
    if (pushback_ == -1) {
      while (column_ < runEnd_ && text_[column_] == ' ') ++column_;
    }
    int c = getChar();
    while (c == ' ') c = getChar();
    return c;
  }
  int peekNonBlank() {
    if (!heldNonBlank()) pushback_ = getNonBlank();
    return pushback_;
  }
  // The reader as the cursor of the token scans (token_scan.h): the next
  // character, held until take(); a held character is what the next read
  // gives.
  int peek() {
    if (pushback_ == -1) pushback_ = getChar();
    return pushback_;
  }
  void take() { pushback_ = -1; }
  // A held character that the next non-blank read would give back as it is.
  bool heldNonBlank() const { return pushback_ != -1 && pushback_ != ' '; }

  // The run's bytes from the one the next read gives on, for a caller that
  // reads whole commands on them at once; empty when no run is open. Every
  // line ends in a line end, so a scan that stops at the first byte it cannot
  // take never leaves the line, though it may pass the end of a run that the
  // replay budget cut: what it read counts only when it stopped inside.
  std::span<const std::uint8_t> runAhead() const {
    if (runEnd_ < 0) return {};
    const std::int32_t from = unreadInRun();
    return {text_ + from, static_cast<std::size_t>(runEnd_ - from)};
  }
  // Takes the first `count` bytes of runAhead() as read; the next read gives
  // the byte after them. Where the reads of those bytes would have taken
  // that byte too and held it, the reader reads it next instead: every read
  // then gives the same, and only position() before that read could differ.
  void takeFromRun(std::size_t count) {
    column_ = unreadInRun() + static_cast<std::int32_t>(count);
    pushback_ = -1;
  }

  // Runs read(scan::BytePointer&) on the run's bytes from the one the next
  // read gives on. When it stops inside the run, what it passed counts as
  // read, the byte it stopped at is held and the result is true; otherwise
  // nothing changes.
  template <class Read>
  bool scanInRun(Read&& read) {
    if (runEnd_ < 0) return false;
    scan::BytePointer in{text_ + unreadInRun()};
    read(in);
    return holdInRun(in.at);
  }

  // The current line's number and the bytes of it consumed so far; 0 and 0
  // when no line is selected.
  void position(std::int32_t& line, std::int32_t& row) const;
  // The line and 1-based row of a byte of runAhead().
  void placeInRun(const std::uint8_t* at, std::int32_t& line, std::int32_t& row) const {
    line = channelLines_[lineIndex_].number;
    row = static_cast<std::int32_t>(at - text_) + 1;
  }
  // The selected channel: 0 the header, 1..26 the letters A..Z, -1 none.
  int channel() const { return channel_; }

 private:
  // Bytes the expanded read delivers as they stand: all but the removed
  // bytes, the line ends and the repeat brackets.
  static constexpr std::array<bool, 256> kPlainByte = [] {
    std::array<bool, 256> plain{};
    plain.fill(true);
    for (const char b : std::string_view("\0\r\n[]|", 6)) plain[static_cast<std::uint8_t>(b)] = false;
    return plain;
  }();
  // A run: plain bytes from the cursor on, delivered by getChar() without
  // the full read. Its read steps, replayed bytes and whether it gave a
  // non-blank are counted when it ends, as the full read would have counted
  // them byte by byte.
  void startRun();
  // A scan on the run's bytes that stopped at `stop`: when that lies inside
  // the run, takes what it read and holds the stop byte; else changes nothing.
  bool holdInRun(const std::uint8_t* stop) {
    const auto at = static_cast<std::int32_t>(stop - text_);
    if (at >= runEnd_) return false;
    pushback_ = *stop;
    column_ = at + 1;
    return true;
  }
  // Where the next read's byte lies in the run. A held character is always
  // the last byte read, and while a run lasts every read came from it, so a
  // held character is the byte just before the cursor.
  std::int32_t unreadInRun() const { return pushback_ == -1 ? column_ : column_ - 1; }
  void endRun();
  std::uint64_t runSteps() const { return runEnd_ >= 0 ? static_cast<std::uint64_t>(column_ - runStart_) : 0; }
  void moveTo(std::int32_t lineIndex, std::int32_t column);
  void enterChannel(int channel);

  LineIndex lines_;
  int channel_ = -1;
  std::int32_t lineIndex_ = 0;
  std::int32_t column_ = 0;
  std::int32_t repeatOpenLine_ = 0;  // the '[': line index and column after it
  std::int32_t repeatOpenColumn_ = 0;
  std::int32_t repeatStartLine_ = 0;
  std::int32_t repeatStartColumn_ = 0;
  std::int32_t repeatCount_ = 0;
  std::int32_t repeatExitLine_ = 0;
  std::int32_t repeatExitColumn_ = 0;
  int pushback_ = -1;
  bool passDelivered_ = false;  // the current repeat pass gave a non-blank
  bool replaying_ = false;      // reading a repeat body again
  bool budgetSpent_ = false;
  std::uint64_t replayedBytes_ = 0;
  std::uint64_t replayBudget_ = UINT64_MAX;
  std::uint64_t readSteps_ = 0;
  // The selected channel's lines and the current line's text, cached for speed.
  const SourceLine* channelLines_ = nullptr;
  std::int32_t channelLineCount_ = 0;
  const std::uint8_t* text_ = nullptr;
  std::int32_t runStart_ = 0;
  std::int32_t runEnd_ = -1;  // -1: no run
  std::int32_t runFirstNonBlank_ = 0;
  bool plainRuns_ = true;
};

}  // namespace qvb
