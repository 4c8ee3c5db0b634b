// The language server's input: any bytes on its standard input, cut into
// reads of any size (the first byte), through the framing into the protocol
// core. Every message it answers with must be JSON-RPC 2.0 written as JSON,
// and nothing may fault, leak or run away, whatever the framing or the
// messages say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "lsp/language_server.h"
#include "lsp/message_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = std::size_t{data[0]} + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  // Small limits, so that the refusals are reached and each input stays quick.
  qvb::lsp::ServerLimits limits;
  limits.openDocuments = 4;
  limits.documentBytes = 4096;
  limits.hoverCallbacks = 20000;
  qvb::lsp::LanguageServer server(limits);
  qvb::lsp::FrameReader reader(qvb::lsp::FrameLimits{256, 8192});
  const auto check = [](const std::string& message) {
    const nlohmann::json parsed = nlohmann::json::parse(message, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || parsed.value("jsonrpc", "") != "2.0") std::abort();
  };
  for (std::size_t at = 0; at < bytes.size() && !server.exited(); at += piece) {
    reader.feed(bytes.substr(at, piece));
    while (auto frame = reader.next()) {
      if (frame->fault != qvb::lsp::FrameFault::None) {
        check(server.refusal(*frame));
        continue;
      }
      for (const std::string& message : server.handle(frame->body)) check(message);
      if (server.exited()) break;
    }
  }
  return 0;
}
