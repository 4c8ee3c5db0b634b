// The framing of the server's messages: whole bodies out of bytes in any
// pieces, and headers and bodies beyond their limits refused and skipped.
#include "lsp/message_frames.h"

#include <gtest/gtest.h>

#include <string>

namespace qvb::lsp {
namespace {

std::string framed(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }

TEST(MessageFrames, BodiesComeOutWholeHoweverTheBytesArrive) {
  const std::string bytes = framed("{\"a\":1}") + "Content-Type: x\r\ncontent-length:  2 \r\n\r\n[]" + framed("{}");
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, bytes.size()}) {
    FrameReader reader;
    std::vector<std::string> bodies;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      reader.feed(std::string_view(bytes).substr(at, piece));
      while (auto frame = reader.next()) {
        ASSERT_EQ(frame->fault, FrameFault::None) << frame->why;
        bodies.push_back(frame->body);
      }
    }
    EXPECT_EQ(bodies, (std::vector<std::string>{"{\"a\":1}", "[]", "{}"})) << "pieces of " << piece;
    EXPECT_FALSE(reader.pending());
  }
}

TEST(MessageFrames, AHeaderOrBodyIsTakenAtItsLimitAndRefusedOnePast) {
  const FrameLimits limits{32, 8};
  const std::string longHeader = "X: " + std::string(10, 'x') + "\r\nContent-Length: 1";  // 32 bytes
  ASSERT_EQ(longHeader.size(), 32u);
  struct Case {
    std::string bytes;
    FrameFault fault;
  } const cases[] = {
      {framed("12345678"), FrameFault::None},
      {framed("123456789"), FrameFault::BodyTooLong},
      {longHeader + "\r\n\r\n1", FrameFault::None},
      {"Y" + longHeader + "\r\n\r\n1", FrameFault::HeaderTooLong},
      {"Content-Length: 1x\r\n\r\n", FrameFault::NoLength},
      {"Content-Type: a\r\n\r\n", FrameFault::NoLength},
  };
  for (const Case& c : cases) {
    FrameReader reader(limits);
    // What follows a refused message still arrives.
    reader.feed(c.bytes + framed("{}"));
    const auto first = reader.next();
    ASSERT_TRUE(first) << c.bytes;
    EXPECT_EQ(first->fault, c.fault) << c.bytes;
    if (c.fault == FrameFault::None || c.fault == FrameFault::BodyTooLong) {
      const auto second = reader.next();
      ASSERT_TRUE(second) << c.bytes;
      EXPECT_EQ(second->body, "{}");
    }
  }
}

TEST(MessageFrames, ARefusedBodyIsSkippedEvenWhenItArrivesLater) {
  FrameReader reader(FrameLimits{64, 4});
  reader.feed("Content-Length: 10\r\n\r\n1234");
  ASSERT_EQ(reader.next()->fault, FrameFault::BodyTooLong);
  reader.feed("567890" + framed("{}"));
  const auto next = reader.next();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->body, "{}");
}

TEST(MessageFrames, AMessageIsWrittenWithItsLength) {
  EXPECT_EQ(frameMessage("{\"x\":\"\xc3\xbc\"}"), "Content-Length: 10\r\n\r\n{\"x\":\"\xc3\xbc\"}");
}

}  // namespace
}  // namespace qvb::lsp
