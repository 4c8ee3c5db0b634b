#include "compiler/mml_source.h"

#include <climits>

namespace qvb {

namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;

constexpr std::array<bool, 256> kLineEnd = [] {
  std::array<bool, 256> end{};
  end[kCr] = true;
  end[kLf] = true;
  return end;
}();

// The channel a marker letter selects, or -1 for a byte that is no letter.
int markerChannel(std::uint8_t letter) {
  if (letter >= 'A' && letter <= 'Z') return letter - 'A' + 1;
  if (letter >= 'a' && letter <= 'z') return letter - 'a' + 1;
  return -1;
}

using scan::addDigit;
using scan::isDigit;

}  // namespace

int MmlSource::split(std::uint8_t* text) {
  lineNumber_ = 1;
  int channel = 0;
  std::uint8_t* p = text;
  while (*p != kLf) {
    std::uint8_t* q = p;
    while (*q == 0 || *q == ' ') ++q;
    if (*q == '#') {
      const std::uint8_t after = q[2];
      if (after == 0 || after == kLf || after == kCr || after == ' ') {
        const int marked = markerChannel(q[1]);
        if (marked < 0) return lineNumber_;
        channel = marked;
        q[0] = ' ';
        q[1] = ' ';
      } else {
        channel = 0;  // a directive line
      }
    }
    if (channel >= static_cast<int>(lines_.size())) lines_.resize(static_cast<std::size_t>(channel) + 1);
    lines_[static_cast<std::size_t>(channel)].push_back(SourceLine{lineNumber_, p});
    while (!kLineEnd[*p]) ++p;
    ++p;
    ++lineNumber_;
  }
  return 0;
}

std::int32_t MmlSource::lineCount(int channel) const {
  if (channel < 0 || channel > lastChannel()) return 0;
  return static_cast<std::int32_t>(lines_[static_cast<std::size_t>(channel)].size());
}

const SourceLine& MmlSource::line(int channel, std::int32_t index) const {
  return lines_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(index)];
}

void MmlSource::enterChannel(int channel) {
  channel_ = channel;
  const auto& list = lines_[static_cast<std::size_t>(channel)];
  channelLines_ = list.data();
  channelLineCount_ = static_cast<std::int32_t>(list.size());
  moveTo(0, 0);
}

void MmlSource::moveTo(std::int32_t lineIndex, std::int32_t column) {
  lineIndex_ = lineIndex;
  column_ = column;
  text_ = channelLineCount_ > 0 ? channelLines_[lineIndex].text : nullptr;
}

int MmlSource::selectChannel(int channel) {
  if (channel < 0 || channel > lastChannel()) return 0;
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
void MmlSource::startRun() {
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

void MmlSource::endRun() {
  if (runEnd_ < 0) return;
  const std::uint64_t steps = runSteps();
  readSteps_ += steps;
  if (replaying_) replayedBytes_ += steps;
  if (column_ > runFirstNonBlank_) passDelivered_ = true;
  runEnd_ = -1;
}

int MmlSource::readChar(bool expand) {
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

void MmlSource::leaveRepeat() {
  endRun();
  if (!replaying_) return;
  repeatCount_ = 0;
  replaying_ = false;
  moveTo(repeatExitLine_, repeatExitColumn_);
}

int MmlSource::matchWord(std::string_view word) {
  for (const char letter : word)
    if (getNonBlank() != static_cast<unsigned char>(letter)) return 0;
  return 1;
}

int MmlSource::readNumber(std::int32_t& value) {
  const scan::Number read = number();
  value = read.digits ? read.value() : 0;
  numberTooBig_ = read.digits && read.tooBig();
  return read.digits ? 1 : 0;
}

// The scans go on the run's bytes directly where they stop inside it: the
// byte that ends them is taken and held, as the reads through peek() would
// leave it. They stop at a line end at the latest.
scan::Number MmlSource::number() {
  if (runEnd_ >= 0) {
    scan::BytePointer in{text_ + unreadInRun()};
    const scan::Number read = scan::number(in);
    if (holdInRun(in.at)) return read;
  }
  return scan::number(*this);
}

int MmlSource::dots() {
  if (runEnd_ >= 0) {
    scan::BytePointer in{text_ + unreadInRun()};
    const int count = scan::dots(in);
    if (holdInRun(in.at)) return count;
  }
  return scan::dots(*this);
}

bool MmlSource::holdInRun(const std::uint8_t* stop) {
  const auto at = static_cast<std::int32_t>(stop - text_);
  if (at >= runEnd_) return false;
  pushback_ = *stop;
  column_ = at + 1;
  return true;
}

int MmlSource::readArgs(std::span<std::int32_t> values, std::span<bool> present) {
  const std::size_t n = values.size() < present.size() ? values.size() : present.size();
  for (std::size_t i = 0; i < n; ++i) {
    const bool last = i + 1 == n;
    if (!last && peekNonBlank() == ',') {
      pushback_ = -1;
      present[i] = false;
      continue;
    }
    if (!readInt(values[i])) {
      for (std::size_t k = i; k < n; ++k) present[k] = false;
      return 1;
    }
    present[i] = true;
    if (!last) {
      if (peekNonBlank() == ',') {
        pushback_ = -1;
      } else {
        for (std::size_t k = i + 1; k < n; ++k) present[k] = false;
        return 1;
      }
    }
  }
  return 1;
}

void MmlSource::position(std::int32_t& line, std::int32_t& row) const {
  if (channel_ < 0 || channelLineCount_ == 0) {
    line = 0;
    row = 0;
    return;
  }
  line = channelLines_[lineIndex_].number;
  row = column_;
}

}  // namespace qvb
