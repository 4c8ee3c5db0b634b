#include "compiler/mml_compiler.h"

#include <algorithm>
#include <climits>
#include <new>

#include "compiler/compile_errors.h"
#include "compiler/image_writer.h"
#include "compiler/large_buffer.h"
#include "compiler/preprocess.h"
#include "compiler/track_compiler.h"

namespace qvb {

float compilerVersion() { return 0.85f; }

MmlCompiler::MmlCompiler(const std::uint8_t* text, std::int32_t size) { compile(text, size); }

MmlCompiler::MmlCompiler(std::vector<std::uint8_t>&& text) { compile(std::move(text)); }

MmlCompiler::MmlCompiler(const std::uint8_t* text, std::int32_t size, SourceMap& map) : map_(&map) {
  map.clear();
  compile(text, size);
  if (status_ != 0) map.clear();
}

MmlCompiler::MmlCompiler(const std::uint8_t* text, std::int32_t size, bool plainRuns) {
  reader_.setPlainRuns(plainRuns);
  compile(text, size);
}

void MmlCompiler::reserveWorkCopy(std::vector<std::uint8_t>& text, std::size_t sourceSize) {
  reserveLarge(text, sourceSize + kWorkCopyExtra);
}

int MmlCompiler::fail(int code, std::int32_t line, std::int32_t row) {
  status_ = code;
  errorLine_ = line;
  errorRow_ = row;
  errorChannel_ = 0;
  return code;
}

int MmlCompiler::failAtReader(int code) {
  // Whatever the reader's code was taken for, a spent replay budget is the
  // cause; the reader then stands at the repeat's bracket.
  if (reader_.replayBudgetSpent()) code = ERR_REPEAT_LIMIT;
  std::int32_t line = 0;
  std::int32_t row = 0;
  reader_.position(line, row);
  fail(code, line, row);
  errorChannel_ = reader_.channel() > 0 ? reader_.channel() : 0;
  return code;
}

// The reported place stays where the reads stopped (or none); a person is
// shown the directive instead.
void MmlCompiler::placeHeaderFault(HeaderPlace at) {
  command_ = CommandFault{};
  command_.line = at.line;
  command_.row = at.row;
}

int MmlCompiler::compile(const std::uint8_t* text, std::int32_t size) {
  if (text == nullptr) {
    status_ = 1;
    return status_;
  }
  return guarded([&] {
    if (size < 0) return fail(ERR_MEMORY, 0, 0);
    reserveWorkCopy(source_, static_cast<std::size_t>(size));
    source_.assign(text, text + size);
    return steps(size);
  });
}

int MmlCompiler::compile(std::vector<std::uint8_t>&& text) {
  return guarded([&] {
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) return fail(ERR_MEMORY, 0, 0);
    const auto size = static_cast<std::int32_t>(text.size());
    source_ = std::move(text);
    return steps(size);
  });
}

// Running out of memory anywhere (work copy, line lists, title, waves,
// buffers, image) fails the compile as a whole.
template <typename Steps>
int MmlCompiler::guarded(Steps&& steps) {
  source_.clear();
  image_.clear();
  status_ = 1;
  try {
    return steps();
  } catch (const std::bad_alloc&) {
    image_.clear();
    return fail(ERR_MEMORY, 0, 0);
  }
}

// source_ holds the text; the two closing zero bytes make it the work copy.
int MmlCompiler::steps(std::int32_t size) {
  source_.insert(source_.end(), kWorkCopyExtra, 0);
  if (const int result = preprocess(source_, errorLine_, errorRow_); result != 0) {
    status_ = result;
    return result;
  }
  if (const int line = reader_.split(source_.data()); line != 0) return fail(ERR_CHANNEL_MARKER, line, 0);
  reader_.setReplayBudget(replayBudgetFor(static_cast<std::uint64_t>(size)));
  if (const int result = parseHeader(reader_, header_); result != 0) {
    failAtReader(result);
    if (status_ != ERR_REPEAT_LIMIT) placeHeaderFault(header_.itemAt);
    return status_;
  }

  if (header_.channelCount <= 0 || header_.title.empty()) return fail(ERR_NO_TITLE_OR_CHANNEL, 0, 0);
  // Exactly the channels 0..channelCount have an entry: the highest letter
  // with text is the channelCount-th one.
  if ((header_.mode == kModeFamicom && header_.channelCount != 3) ||
      reader_.lines().lastChannel() != header_.channelCount) {
    fail(ERR_CHANNEL_COUNT, 0, 0);
    placeHeaderFault(header_.channelAt);
    return status_;
  }

  tracks_.emplace(header_.channelCount);
  // Room for a place every two bytes of text, shared evenly (a song of one
  // long channel outgrows it once), up to kMapReserveBytes in all: in the
  // page's linear memory a reservation is memory taken.
  if (map_ != nullptr) {
    constexpr std::size_t kMapReserveBytes = std::size_t{64} << 20;
    const std::size_t places = std::min(static_cast<std::size_t>(size) / 2, kMapReserveBytes / sizeof(SourcePlace));
    map_->reserve(header_.channelCount, places / static_cast<std::size_t>(header_.channelCount) + 16);
  }
  if (const int result = compileTracks(reader_, header_, *tracks_, map_, &command_); result != 0) {
    if (result == ERR_MEMORY && !reader_.replayBudgetSpent()) return fail(ERR_MEMORY, 0, 0);
    return failAtReader(result);
  }
  // The reader is done with the work copy; its storage takes the image.
  image_ = writeImage(header_, *tracks_, std::move(source_));
  source_.clear();
  return fail(0, 0, 0);
}

int MmlCompiler::errorInfo(CompileError& info) const {
  if (status_ >= 0) return 0;
  info = {status_, errorLine_, errorRow_, errorChannel_, command_.channel, command_.line, command_.row,
          command_.openLine, command_.openRow};
  return 1;
}

std::int32_t MmlCompiler::imageSize() const { return status_ == 0 ? static_cast<std::int32_t>(image_.size()) : 0; }

int MmlCompiler::copyImage(std::uint8_t* destination) const {
  if (status_ != 0 || destination == nullptr) return 0;
  std::copy(image_.begin(), image_.end(), destination);
  return 1;
}

std::vector<std::uint8_t> MmlCompiler::takeImage() {
  if (status_ != 0) return {};
  status_ = 1;  // nothing compiled is held any more
  return std::move(image_);
}

}  // namespace qvb
