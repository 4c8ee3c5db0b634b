#include "lsp/message_frames.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace qvb::lsp {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";

bool sameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The Content-Length of a header (its lines without the final empty one), or
// nothing when it has none, or one that is not a plain decimal number.
std::optional<std::size_t> contentLength(std::string_view header) {
  std::optional<std::size_t> length;
  while (!header.empty()) {
    const std::size_t end = header.find("\r\n");
    const std::string_view line = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !sameWord(trimmed(line.substr(0, colon)), "Content-Length")) continue;
    const std::string_view value = trimmed(line.substr(colon + 1));
    std::size_t n = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc{} || ptr != value.data() + value.size()) return std::nullopt;
    length = n;
  }
  return length;
}

}  // namespace

void FrameReader::feed(std::string_view bytes) {
  if (skipBody_ > 0) {
    const std::size_t dropped = std::min(skipBody_, bytes.size());
    skipBody_ -= dropped;
    bytes.remove_prefix(dropped);
  }
  buffer_.append(bytes);
}

void FrameReader::compact() {
  if (start_ == 0) return;
  buffer_.erase(0, start_);
  start_ = 0;
}

std::optional<Frame> FrameReader::next() {
  if (skipBody_ > 0) return std::nullopt;
  const std::string_view unread = std::string_view(buffer_).substr(start_);
  // The header's lines may take headerBytes, then comes the empty line.
  const std::size_t window = limits_.headerBytes + kHeaderEnd.size();
  const std::size_t headerEnd = unread.substr(0, window).find(kHeaderEnd);
  if (headerEnd == std::string_view::npos) {
    if (unread.size() < window) {
      compact();
      return std::nullopt;
    }
    // Too long: keep only what may still hold the start of its empty line.
    const bool first = !skippingHeader_;
    skippingHeader_ = true;
    start_ = buffer_.size() - std::min<std::size_t>(kHeaderEnd.size() - 1, unread.size());
    compact();
    if (!first) return std::nullopt;
    return Frame{FrameFault::HeaderTooLong, {},
                 "a message header beyond the limit of " + std::to_string(limits_.headerBytes) + " bytes"};
  }
  start_ += headerEnd + kHeaderEnd.size();
  if (skippingHeader_) {
    // The end of a refused header: what follows is its body, of unknown length.
    skippingHeader_ = false;
    return next();
  }
  const std::optional<std::size_t> length = contentLength(unread.substr(0, headerEnd));
  if (!length) {
    compact();
    return Frame{FrameFault::NoLength, {}, "a message header without a valid Content-Length"};
  }
  if (*length > limits_.bodyBytes) {
    const std::size_t here = std::min(*length, buffer_.size() - start_);
    start_ += here;
    skipBody_ = *length - here;
    compact();
    return Frame{FrameFault::BodyTooLong, {},
                 "a message body of " + std::to_string(*length) + " bytes is beyond the limit of " +
                     std::to_string(limits_.bodyBytes)};
  }
  if (buffer_.size() - start_ < *length) {
    start_ -= headerEnd + kHeaderEnd.size();  // wait for the whole body
    compact();
    return std::nullopt;
  }
  Frame frame;
  frame.body = buffer_.substr(start_, *length);
  start_ += *length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return frame;
}

std::string frameMessage(std::string_view body) {
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

}  // namespace qvb::lsp
