#include "lsp/stdio_server.h"

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

}  // namespace

int serveOn(int input, int output) {
  LanguageServer server;
  FrameReader reader;
  std::string chunk(1 << 16, '\0');
  for (;;) {
    const ssize_t n = ::read(input, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;  // the editor went away without exit
    reader.feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    while (std::optional<Frame> frame = reader.next()) {
      std::vector<std::string> answers;
      if (frame->fault == FrameFault::None) answers = server.handle(frame->body);
      else answers.push_back(server.refusal(*frame));
      for (const std::string& answer : answers)
        if (!writeAll(output, frameMessage(answer))) return 1;
      if (server.exited()) return server.exitStatus();
    }
  }
}

}  // namespace qvb::lsp
