#include "compiler/source_reader.h"

#include <climits>

namespace qvb {

namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;

using scan::addDigit;
using scan::isDigit;

}  // namespace

void SourceReader::enterChannel(int channel) {
  channel_ = channel;
  const auto& list = lines_.channelLines(channel);
  channelLines_ = list.data();
  channelLineCount_ = static_cast<std::int32_t>(list.size());
  moveTo(0, 0);
}

void SourceReader::moveTo(std::int32_t lineIndex, std::int32_t column) {
  lineIndex_ = lineIndex;
  column_ = column;
  text_ = channelLineCount_ > 0 ? channelLines_[lineIndex].text : nullptr;
}

int SourceReader::selectChannel(int channel) {
  if (channel < 0 || channel > lines_.lastChannel()) return 0;
  endRun();
  enterChannel(channel);
  repeatCount_ = 0;
  replaying_ = false;
  pushback_ = -1;
  return 1;
}

// Every line ends in a line end, so the scan stops inside the line. In a
// repeat read again the run stops where the budget does, so that the byte
// that spends it takes the full read.
void SourceReader::startRun() {
  if (!plainRuns_) return;
  std::int32_t end = column_;
  while (text_[end] == ' ') ++end;
  const std::int32_t firstNonBlank = end;
  while (kPlainByte[text_[end]]) ++end;
  if (replaying_) {
    const std::uint64_t left = replayedBytes_ < replayBudget_ ? replayBudget_ - replayedBytes_ : 0;
    if (static_cast<std::uint64_t>(end - column_) > left) end = column_ + static_cast<std::int32_t>(left);
  }
  if (end == column_) return;
  runStart_ = column_;
  runEnd_ = end;
  runFirstNonBlank_ = firstNonBlank;
}

void SourceReader::endRun() {
  if (runEnd_ < 0) return;
  const std::uint64_t steps = runSteps();
  readSteps_ += steps;
  if (replaying_) replayedBytes_ += steps;
  if (column_ > runFirstNonBlank_) passDelivered_ = true;
  runEnd_ = -1;
}

int SourceReader::readChar(bool expand) {
  endRun();
  if (channel_ < 0) return END_OF_TEXT;
  if (budgetSpent_) return ERR_REPEAT_SPENT;
  if (pushback_ != -1) {
    const int held = pushback_;
    pushback_ = -1;
    return held;
  }
  if (channelLineCount_ == 0) return END_OF_TEXT;
  for (;;) {
    // Plain bytes ahead, also right after a line end, a bracket or removed
    // bytes, make a run.
    if (expand) {
      startRun();
      if (column_ < runEnd_) return text_[column_++];
    }
    ++readSteps_;
    if (replaying_ && expand && ++replayedBytes_ > replayBudget_) {
      // Reported at the bracket: no pass of this repeat is to blame alone.
      budgetSpent_ = true;
      moveTo(repeatOpenLine_, repeatOpenColumn_);
      return ERR_REPEAT_SPENT;
    }
    const std::uint8_t b = text_[column_++];
    if (!expand) return b;
    switch (b) {
      case 0:
        // A removed byte: the rest of its stretch goes in one tight loop,
        // counted byte by byte as above.
        while (text_[column_] == 0 && (!replaying_ || replayedBytes_ < replayBudget_)) {
          ++column_;
          ++readSteps_;
          if (replaying_) ++replayedBytes_;
        }
        break;
      case kCr:
      case kLf:
        if (lineIndex_ + 1 == channelLineCount_) {
          // The end of a channel leaves the cursor at the start of the header.
          enterChannel(0);
          return END_OF_TEXT;
        }
        moveTo(lineIndex_ + 1, 0);
        break;
      case '[': {
        if (repeatCount_ != 0) return ERR_REPEAT_NESTED;
        repeatOpenLine_ = lineIndex_;
        repeatOpenColumn_ = column_;
        // A count beyond 32 bits saturates: it can only run into the budget.
        std::uint64_t count = 0;
        bool digits = false;
        while (isDigit(text_[column_])) {
          count = addDigit(count, text_[column_++]);
          digits = true;
        }
        repeatCount_ = digits ? static_cast<std::int32_t>(count < INT32_MAX ? count : INT32_MAX) : 2;
        if (repeatCount_ == 1) return ERR_REPEAT_ONE;
        repeatStartLine_ = lineIndex_;
        repeatStartColumn_ = column_;
        passDelivered_ = false;
        break;
      }
      case ']':
        if (repeatCount_ == 0) return ERR_REPEAT_CLOSE;
        --repeatCount_;
        // A pass that gave nothing but blanks gives the same again: the
        // remaining passes are skipped, so a huge count over an empty body
        // cannot stall the compile.
        if (repeatCount_ > 0 && !passDelivered_) repeatCount_ = 0;
        replaying_ = repeatCount_ > 0;
        if (repeatCount_ > 0) {
          passDelivered_ = false;
          repeatExitLine_ = lineIndex_;
          repeatExitColumn_ = column_;
          moveTo(repeatStartLine_, repeatStartColumn_);
        }
        break;
      case '|':
        if (repeatCount_ == 1) {
          repeatCount_ = 0;
          replaying_ = false;
          moveTo(repeatExitLine_, repeatExitColumn_);
        }
        break;
      default:
        if (b != ' ') passDelivered_ = true;
        return b;
    }
  }
}

void SourceReader::leaveRepeat() {
  endRun();
  if (!replaying_) return;
  repeatCount_ = 0;
  replaying_ = false;
  moveTo(repeatExitLine_, repeatExitColumn_);
}

void SourceReader::position(std::int32_t& line, std::int32_t& row) const {
  if (channel_ < 0 || channelLineCount_ == 0) {
    line = 0;
    row = 0;
    return;
  }
  line = channelLines_[lineIndex_].number;
  row = column_;
}

}  // namespace qvb
