// The MML compiler: turns a QVM source text into a QVB image in its
// constructor and reports the outcome through its status.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "compiler/channel_buffers.h"
#include "compiler/mml_source.h"
#include "compiler/song_header.h"
#include "compiler/source_map.h"
#include "compiler/track_compiler.h"

namespace qvb {

float compilerVersion();

struct CompileError {
  std::int32_t type = 0;  // the status, a negative code
  std::int32_t line = 0;
  std::int32_t row = 0;
  std::int32_t channel = 0;  // 1..26 when the error lies in channel A..Z, else 0
  // For a faulty command, where a person finds it (the reported line and row
  // say where the reads stopped, which at a channel's end is no place in the
  // text): its channel, where it began, and for a loop left open where that
  // loop began. A faulty header item has channel 0 and the place of its
  // directive (for a channel count that does not fit, of #CHANNEL). 0 when
  // unknown.
  std::int32_t commandChannel = 0;
  std::int32_t commandLine = 0, commandRow = 0;
  std::int32_t openLine = 0, openRow = 0;
};

class MmlCompiler {
 public:
  MmlCompiler(const std::uint8_t* text, std::int32_t size);
  // Compiles a text handed over: it becomes the work copy, without a copy
  // when its capacity has kWorkCopyExtra bytes to spare.
  explicit MmlCompiler(std::vector<std::uint8_t>&& text);
  // The same compile, which also enters where every item came from in map
  // (the image does not change).
  MmlCompiler(const std::uint8_t* text, std::int32_t size, SourceMap& map);
  // The same compile with the reader's runs off, so that every byte takes
  // the byte-by-byte reads and no fast path runs. For the tests and the
  // fuzzer, which hold the fast paths to the same outcome.
  static MmlCompiler withoutRuns(const std::uint8_t* text, std::int32_t size) {
    return MmlCompiler(text, size, false);
  }
  static constexpr std::size_t kWorkCopyExtra = 2;
  // Makes room in text for a source of sourceSize bytes to be read into it,
  // the closing bytes included, the way the compile works on it best.
  static void reserveWorkCopy(std::vector<std::uint8_t>& text, std::size_t sourceSize);

  // 0 = image ready, 1 = nothing compiled, negative = error code.
  int status() const { return status_; }
  // 1 and the code, line and row when the compile failed; else 0, info untouched.
  int errorInfo(CompileError& info) const;
  std::int32_t imageSize() const;
  int copyImage(std::uint8_t* destination) const;
  // Hands the image over without a copy; empty when there is none. The
  // compiler keeps no image afterwards.
  std::vector<std::uint8_t> takeImage();
  // What the header lines set, and the last channel with text: what a
  // refused channel count is weighed against.
  const SongHeader& header() const { return header_; }
  int lastChannelWithText() const { return reader_.lines().lastChannel(); }
  // Bytes the reader examined in the last compile: a measure of its work.
  std::uint64_t readSteps() const { return reader_.readSteps(); }

 private:
  MmlCompiler(const std::uint8_t* text, std::int32_t size, bool plainRuns);
  int compile(const std::uint8_t* text, std::int32_t size);
  int compile(std::vector<std::uint8_t>&& text);
  template <typename Steps>
  int guarded(Steps&& steps);
  int steps(std::int32_t size);
  int fail(int code, std::int32_t line, std::int32_t row);
  int failAtReader(int code);
  void placeHeaderFault(HeaderPlace at);

  std::vector<std::uint8_t> source_;  // the work copy: the text and kWorkCopyExtra zero bytes
  std::vector<std::uint8_t> image_;
  int status_ = 1;
  std::int32_t errorLine_ = 0;
  std::int32_t errorRow_ = 0;
  std::int32_t errorChannel_ = 0;
  CommandFault command_;  // of a fault in a channel's commands or a header item
  MmlSource reader_;
  std::optional<ChannelBuffers> tracks_;
  SourceMap* map_ = nullptr;
  SongHeader header_;
};

}  // namespace qvb
