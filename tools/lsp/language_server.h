// The language server's protocol core: takes one message body at a time
// and answers with the messages to send (replies, diagnostics), keeping the
// open songs and the session's state (initialize, shutdown, exit). It reads
// and writes no stream itself, so it runs in-process on strings; the program
// (stdio_server.h) frames its messages on standard input and output. Given
// a sound platform it also plays songs (the qvb.* commands) and, polled
// while a song plays, tells what is heard (qvb/heard).
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/file_bytes.h"
#include "lsp/message_frames.h"
#include "lsp/song_document.h"
#include "lsp/song_hover.h"
#include "lsp/song_playback.h"
#include "lsp/text_lines.h"

namespace qvb::lsp {

// Songs open at once: far more than an editor shows.
inline constexpr std::size_t kMaxOpenDocuments = 256;

struct ServerLimits {
  std::size_t openDocuments = kMaxOpenDocuments;
  std::size_t documentBytes = kMaxInputBytes;  // what our programs read from a file
  std::int64_t hoverCallbacks = kMaxHoverCallbacks;  // the sequencer's steps a hover may take
};

class LanguageServer {
 public:
  // audio: where songs play (null: the play commands are refused).
  explicit LanguageServer(ServerLimits limits = {}, AudioPlatform* audio = nullptr);

  // While a song plays: the qvb/heard notification when what is heard
  // changed since the last poll (the program polls some 30 times a second).
  std::vector<std::string> poll();
  bool playing() const { return playback_ && playback_->playing(); }

  // The messages to send for one message received (often none).
  std::vector<std::string> handle(std::string_view body);
  // The reply to a message the framing refused (its id is not known).
  std::string refusal(const Frame& frame) const;

  // exit was received: the program ends with exitStatus() (0 after a
  // shutdown, 1 without one).
  bool exited() const { return exited_; }
  int exitStatus() const { return shutDown_ ? 0 : 1; }
  PositionEncoding encoding() const { return encoding_; }
  std::size_t openDocuments() const { return documents_.size(); }

 private:
  using Json = nlohmann::json;
  void request(const Json& id, std::string_view method, const Json& params, std::vector<std::string>& out);
  void notification(std::string_view method, const Json& params, std::vector<std::string>& out);

  Json initialize(const Json& params);
  void open(const Json& params, std::vector<std::string>& out);
  void change(const Json& params, std::vector<std::string>& out);
  void close(const Json& params, std::vector<std::string>& out);
  // Keeps the text as the document's, or says why not; true when kept.
  bool keep(const std::string& uri, std::string text, std::int64_t version, std::vector<std::string>& out);
  void publish(const std::string& uri, const SongDocument* document, std::vector<std::string>& out) const;
  Json hover(const Json& params) const;
  Json completion(const Json& params) const;
  Json symbols(const Json& params) const;
  Json definition(const Json& params) const;
  Json references(const Json& params) const;
  Json semanticTokens(const Json& params) const;
  Json location(const std::string& uri, const SongDocument& document, const SongPlace& place) const;
  const SongDocument* documentOf(const Json& params) const;
  void execute(const Json& id, const Json& params, std::vector<std::string>& out);
  std::optional<std::pair<std::size_t, std::size_t>> placeOf(const SongDocument& document, const Json& position) const;

  ServerLimits limits_;
  bool initialized_ = false;
  bool shutDown_ = false;
  bool exited_ = false;
  PositionEncoding encoding_ = PositionEncoding::Utf16;
  std::map<std::string, std::unique_ptr<SongDocument>> documents_;
  std::unique_ptr<SongPlayback> playback_;
};

}  // namespace qvb::lsp
