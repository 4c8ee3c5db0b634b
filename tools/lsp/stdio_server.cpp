#include "lsp/stdio_server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "lsp/language_server.h"
#include "lsp/message_frames.h"

namespace qvb::lsp {
namespace {

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// How often a playing song's heard notes are looked at.
constexpr int kPollMilliseconds = 30;

bool writeEach(int fd, const std::vector<std::string>& messages) {
  for (const std::string& message : messages)
    if (!writeAll(fd, frameMessage(message))) return false;
  return true;
}

}  // namespace

int serveOn(int input, int output, AudioPlatform* audio) {
  LanguageServer server({}, audio);
  FrameReader reader;
  std::string chunk(1 << 16, '\0');
  for (;;) {
    if (server.playing()) {
      pollfd wait{input, POLLIN, 0};
      const int ready = ::poll(&wait, 1, kPollMilliseconds);
      if (ready < 0 && errno != EINTR) return 1;
      if (ready <= 0) {
        if (!writeEach(output, server.poll())) return 1;
        continue;
      }
    }
    const ssize_t n = ::read(input, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;  // the editor went away without exit
    reader.feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    while (std::optional<Frame> frame = reader.next()) {
      std::vector<std::string> answers;
      if (frame->fault == FrameFault::None) answers = server.handle(frame->body);
      else answers.push_back(server.refusal(*frame));
      if (!writeEach(output, answers)) return 1;
      if (server.exited()) return server.exitStatus();
    }
    if (server.playing() && !writeEach(output, server.poll())) return 1;
  }
}

}  // namespace qvb::lsp
