// The framing of the messages between an editor and qvblsp: each message is
// a header of "Name: value" lines (Content-Length required), an empty line,
// then exactly Content-Length bytes of JSON. FrameReader takes the bytes as
// they arrive, in pieces of any size, and hands out whole bodies; a header
// or body beyond its limit is refused and skipped, so one bad message never
// stops the ones after it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "host/file_bytes.h"

namespace qvb::lsp {

// The longest header a message may have: a few short lines in practice.
inline constexpr std::size_t kMaxHeaderBytes = 4096;
// The longest body: a whole song of kMaxInputBytes in JSON, where a byte may
// take up to six (\u0001), with room for the rest of the message.
inline constexpr std::size_t kMaxBodyBytes = 6 * kMaxInputBytes + 65536;

struct FrameLimits {
  std::size_t headerBytes = kMaxHeaderBytes;
  std::size_t bodyBytes = kMaxBodyBytes;
};

enum class FrameFault {
  None,
  HeaderTooLong,   // no empty line within the header limit: skipped up to the next one
  NoLength,        // a header without a valid Content-Length: the header is dropped
  BodyTooLong,     // Content-Length beyond the body limit: its bytes are skipped
};

struct Frame {
  FrameFault fault = FrameFault::None;
  std::string body;   // the message, when fault is None
  std::string why;    // words for a fault: "a message body of 9 bytes is beyond the limit of 8"
};

class FrameReader {
 public:
  explicit FrameReader(FrameLimits limits = {}) : limits_(limits) {}

  void feed(std::string_view bytes);
  // The next whole message or fault, or nothing until more bytes come.
  std::optional<Frame> next();
  // Bytes fed that no message has taken yet (a partial message).
  bool pending() const { return start_ < buffer_.size() || skipBody_ > 0; }

 private:
  void compact();

  FrameLimits limits_;
  std::string buffer_;
  std::size_t start_ = 0;        // where the unread bytes begin
  std::size_t skipBody_ = 0;     // bytes of a refused body still to drop
  bool skippingHeader_ = false;  // inside a refused header: drop up to its empty line
};

// The bytes that carry one message body.
std::string frameMessage(std::string_view body);

}  // namespace qvb::lsp
