#include "lsp/language_server.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <utility>

#include "lsp/guide_help.h"
#include "lsp/item_frames.h"
#include "lsp/json_rpc.h"
#include "lsp/song_diagnostics.h"
#include "lsp/song_hover.h"
#include "lsp/song_outline.h"
#include "lsp/song_tokens.h"
#include "qvbp_version.h"

namespace qvb::lsp {
namespace {

using Json = nlohmann::json;

// The protocol's numbers for what the server sends.
constexpr int kSyncFull = 1;
constexpr int kMessageError = 1;
constexpr int kCompletionKeyword = 14;
constexpr int kCompletionValue = 12;
constexpr int kSymbolProperty = 7, kSymbolNamespace = 3, kSymbolArray = 18;

Json position(const Position& p) { return {{"line", p.line}, {"character", p.character}}; }

Json range(const TextLines& lines, std::size_t line, std::size_t start, std::size_t end, PositionEncoding e) {
  return {{"start", position(lines.positionAt(line, start, e))}, {"end", position(lines.positionAt(line, end, e))}};
}

Json showMessage(std::string_view text) { return {{"type", kMessageError}, {"message", std::string(text)}}; }

// The editor's token types for the classes of song_classes.h, in their
// order: what the legend announces and the tokens' type numbers index.
// Invalid bytes get no colour (their diagnostics mark them).
constexpr std::string_view kTokenTypes[] = {
    "keyword",    // directive
    "namespace",  // channel marker
    "variable",   // note
    "parameter",  // rest
    "number",     // length, with its dots and ties
    "function",   // command
    "number",     // a command's or directive's value
    "operator",   // octave step
    "operator",   // repeat bracket
    "operator",   // loop
    "operator",   // loop mark
    "comment",    // comment
    "string",     // title
    "",           // invalid
    "enumMember", // pragma word
};

// The legend: each distinct type once, and the index of each class in it.
struct TokenLegend {
  Json types = Json::array();
  int index[std::size(kTokenTypes)] = {};
  TokenLegend() {
    for (std::size_t i = 0; i < std::size(kTokenTypes); ++i) {
      index[i] = -1;
      if (kTokenTypes[i].empty()) continue;
      const auto found = std::find(types.begin(), types.end(), kTokenTypes[i]);
      index[i] = static_cast<int>(found - types.begin());
      if (found == types.end()) types.push_back(kTokenTypes[i]);
    }
  }
};

const TokenLegend& legend() {
  static const TokenLegend kLegend;
  return kLegend;
}

// The play commands, as executeCommand names them.
constexpr const char* kPlayCommands[] = {"qvb.play", "qvb.playFrom", "qvb.playSelection", "qvb.stop"};

// A position as a 0-based line and byte column, or nothing.
std::optional<std::pair<std::size_t, std::size_t>> byteColumnOf(const SongDocument& document, const Json& at,
                                                              PositionEncoding encoding) {
  const Position p{at.at("line").get<std::int64_t>(), at.at("character").get<std::int64_t>()};
  const std::optional<std::size_t> offset = document.lines().offsetOf(p, encoding);
  if (!offset) return std::nullopt;
  const auto line = static_cast<std::size_t>(p.line);
  return std::pair{line, *offset - document.lines().lineStart(line)};
}

// The cursor of a request as a 0-based line and byte column, or nothing.
std::optional<std::pair<std::size_t, std::size_t>> cursorOf(const SongDocument& document, const Json& params,
                                                          PositionEncoding encoding) {
  return byteColumnOf(document, params.at("position"), encoding);
}

}  // namespace

LanguageServer::LanguageServer(ServerLimits limits, AudioPlatform* audio) : limits_(limits) {
  if (audio != nullptr) playback_ = std::make_unique<SongPlayback>(*audio);
}

std::vector<std::string> LanguageServer::handle(std::string_view body) {
  std::vector<std::string> out;
  const Json message = Json::parse(body, nullptr, false);
  if (message.is_discarded()) {
    out.push_back(errorMessage(nullptr, RpcError::ParseError, "the message is not JSON"));
    return out;
  }
  if (!message.is_object()) {
    out.push_back(errorMessage(nullptr, RpcError::InvalidRequest, "a message must be a JSON object"));
    return out;
  }
  const auto id = message.find("id");
  const bool hasId = id != message.end();
  if (hasId && !id->is_number_integer() && !id->is_string()) {
    out.push_back(errorMessage(nullptr, RpcError::InvalidRequest, "a request's id must be a number or a string"));
    return out;
  }
  const Json idValue = hasId ? *id : Json(nullptr);
  const auto method = message.find("method");
  if (method == message.end()) {
    // A reply to a request of ours (the server sends none) or nothing at all.
    if (!hasId || (!message.contains("result") && !message.contains("error")))
      out.push_back(errorMessage(idValue, RpcError::InvalidRequest, "a message without a method"));
    return out;
  }
  if (!method->is_string() || message.value("jsonrpc", Json()) != "2.0") {
    out.push_back(errorMessage(idValue, RpcError::InvalidRequest,
                               "a request needs \"jsonrpc\": \"2.0\" and a method name"));
    return out;
  }
  const auto params = message.find("params");
  const Json paramsValue = params != message.end() ? *params : Json(nullptr);
  if (!paramsValue.is_null() && !paramsValue.is_object() && !paramsValue.is_array()) {
    if (hasId) out.push_back(errorMessage(idValue, RpcError::InvalidRequest, "params must be an object or an array"));
    return out;
  }
  const std::string name = method->get<std::string>();
  try {
    if (hasId) request(idValue, name, paramsValue, out);
    else notification(name, paramsValue, out);
  } catch (const Json::exception& e) {
    // A field of the wrong type or missing: the caller's mistake, told in nlohmann's words.
    if (hasId) out.push_back(errorMessage(idValue, RpcError::InvalidParams, e.what()));
  } catch (const std::bad_alloc&) {
    if (hasId) out.push_back(errorMessage(idValue, RpcError::RequestFailed, "not enough memory"));
  }
  return out;
}

std::string LanguageServer::refusal(const Frame& frame) const {
  const RpcError code = frame.fault == FrameFault::BodyTooLong ? RpcError::InvalidRequest : RpcError::ParseError;
  return errorMessage(nullptr, code, frame.why);
}

void LanguageServer::request(const Json& id, std::string_view method, const Json& params,
                             std::vector<std::string>& out) {
  if (method == "initialize") {
    if (initialized_) {
      out.push_back(errorMessage(id, RpcError::InvalidRequest, "initialize was already received"));
      return;
    }
    if (!params.is_object()) {
      out.push_back(errorMessage(id, RpcError::InvalidParams, "initialize needs its parameters"));
      return;
    }
    Json result = initialize(params);
    initialized_ = true;
    out.push_back(resultMessage(id, std::move(result)));
    return;
  }
  if (!initialized_) {
    out.push_back(errorMessage(id, RpcError::ServerNotInitialized, "initialize must come first"));
    return;
  }
  if (shutDown_) {
    out.push_back(errorMessage(id, RpcError::InvalidRequest, "the server is shut down"));
    return;
  }
  // The requests about a song, each answered by one query of it.
  using Query = Json (LanguageServer::*)(const Json&) const;
  static constexpr std::pair<std::string_view, Query> kQueries[] = {
      {"textDocument/hover", &LanguageServer::hover},
      {"textDocument/completion", &LanguageServer::completion},
      {"textDocument/documentSymbol", &LanguageServer::symbols},
      {"textDocument/definition", &LanguageServer::definition},
      {"textDocument/references", &LanguageServer::references},
      {"textDocument/semanticTokens/full", &LanguageServer::semanticTokens},
  };
  for (const auto& [name, query] : kQueries) {
    if (method != name) continue;
    out.push_back(resultMessage(id, (this->*query)(params)));
    return;
  }
  if (method == "shutdown") {
    shutDown_ = true;
    if (playback_) playback_->stop();
    out.push_back(resultMessage(id, nullptr));
  } else if (method == "workspace/executeCommand") {
    execute(id, params, out);
  } else {
    out.push_back(errorMessage(id, RpcError::MethodNotFound, "no method " + std::string(method)));
  }
}

void LanguageServer::notification(std::string_view method, const Json& params, std::vector<std::string>& out) {
  if (method == "exit") {
    exited_ = true;
    return;
  }
  if (!initialized_ || shutDown_) return;  // dropped, as the protocol asks
  if (method == "textDocument/didOpen") open(params, out);
  else if (method == "textDocument/didChange") change(params, out);
  else if (method == "textDocument/didClose") close(params, out);
  // initialized, $/cancelRequest, settings and the rest need nothing.
}

LanguageServer::Json LanguageServer::initialize(const Json& params) {
  // The editor lists the encodings it counts in, best first; UTF-8 is ours.
  const Json encodings = params.value("/capabilities/general/positionEncodings"_json_pointer, Json::array());
  encoding_ = PositionEncoding::Utf16;
  if (encodings.is_array())
    for (const Json& e : encodings)
      if (e == "utf-8") encoding_ = PositionEncoding::Utf8;
  return {
      {"capabilities",
       {{"positionEncoding", encoding_ == PositionEncoding::Utf8 ? "utf-8" : "utf-16"},
        {"textDocumentSync", {{"openClose", true}, {"change", kSyncFull}}},
        {"hoverProvider", true},
        {"completionProvider", {{"triggerCharacters", {"#"}}}},
        {"documentSymbolProvider", true},
        {"definitionProvider", true},
        {"executeCommandProvider", {{"commands", kPlayCommands}}},
        {"referencesProvider", true},
        {"semanticTokensProvider", {{"legend", {{"tokenTypes", legend().types}, {"tokenModifiers", Json::array()}}},
                                    {"full", true}}}}},
      {"serverInfo", {{"name", "qvblsp"}, {"version", kVersion}}},
  };
}

bool LanguageServer::keep(const std::string& uri, std::string text, std::int64_t version,
                          std::vector<std::string>& out) {
  const auto known = documents_.find(uri);
  if (text.size() > limits_.documentBytes) {
    out.push_back(notificationMessage(
        "window/showMessage",
        showMessage(uri + ": " + std::to_string(text.size()) + " bytes, more than the " +
                    std::to_string(limits_.documentBytes) + " a song may have; it is not checked")));
    if (known != documents_.end()) {
      documents_.erase(known);
      publish(uri, nullptr, out);  // what was said of the text before no longer holds
    }
    return false;
  }
  if (known == documents_.end() && documents_.size() >= limits_.openDocuments) {
    out.push_back(notificationMessage(
        "window/showMessage",
        showMessage(uri + ": " + std::to_string(limits_.openDocuments) +
                    " songs are open already, the most the server keeps; it is not checked")));
    return false;
  }
  documents_[uri] = std::make_unique<SongDocument>(std::move(text), version);
  return true;
}

void LanguageServer::open(const Json& params, std::vector<std::string>& out) {
  const Json& item = params.at("textDocument");
  const std::string uri = item.at("uri").get<std::string>();
  if (keep(uri, item.at("text").get<std::string>(), item.value("version", std::int64_t{0}), out))
    publish(uri, documents_[uri].get(), out);
}

void LanguageServer::change(const Json& params, std::vector<std::string>& out) {
  const Json& item = params.at("textDocument");
  const std::string uri = item.at("uri").get<std::string>();
  const Json& changes = params.at("contentChanges");
  if (!changes.is_array() || changes.empty() || !documents_.contains(uri)) return;
  // Full sync: every change is the whole text, the last one counts.
  if (keep(uri, changes.back().at("text").get<std::string>(), item.value("version", std::int64_t{0}), out))
    publish(uri, documents_[uri].get(), out);
}

void LanguageServer::close(const Json& params, std::vector<std::string>& out) {
  const std::string uri = params.at("textDocument").at("uri").get<std::string>();
  if (documents_.erase(uri) > 0) publish(uri, nullptr, out);
}

void LanguageServer::publish(const std::string& uri, const SongDocument* document,
                             std::vector<std::string>& out) const {
  Json list = Json::array();
  Json params = {{"uri", uri}};
  if (document != nullptr) {
    for (const SongDiagnostic& d : songDiagnostics(*document)) {
      Json item = {{"range", range(document->lines(), d.line, d.startByte, d.endByte, encoding_)},
                   {"severity", static_cast<int>(d.severity)},
                   {"source", d.source},
                   {"message", d.message}};
      if (!d.code.empty()) item["code"] = d.code;
      list.push_back(std::move(item));
    }
    params["version"] = document->version();
  }
  params["diagnostics"] = std::move(list);
  out.push_back(notificationMessage("textDocument/publishDiagnostics", std::move(params)));
}

const SongDocument* LanguageServer::documentOf(const Json& params) const {
  const auto found = documents_.find(params.at("textDocument").at("uri").get<std::string>());
  return found != documents_.end() ? found->second.get() : nullptr;
}

LanguageServer::Json LanguageServer::hover(const Json& params) const {
  const SongDocument* document = documentOf(params);
  if (document == nullptr) return nullptr;
  const auto cursor = cursorOf(*document, params, encoding_);
  if (!cursor) return nullptr;
  const std::optional<Hover> found = songHover(*document, cursor->first, cursor->second, limits_.hoverCallbacks);
  if (!found) return nullptr;
  return {{"contents", {{"kind", "markdown"}, {"value", found->markdown}}},
          {"range", range(document->lines(), found->line, found->startByte, found->endByte, encoding_)}};
}

LanguageServer::Json LanguageServer::completion(const Json& params) const {
  const SongDocument* document = documentOf(params);
  Json items = Json::array();
  // The song's own names first: each wave slot a #WAV fills, as the timbre that picks it.
  for (const SongPlace& wave : document != nullptr ? document->places().definitions() : std::vector<SongPlace>{}) {
    const std::string timbre = "@" + std::to_string(wave.number);
    items.push_back({{"label", timbre},
                     {"kind", kCompletionValue},
                     {"detail", "wave slot " + std::to_string(wave.number) + " (#WAV on line " + std::to_string(wave.line + 1) + ")"}});
  }
  std::set<std::string_view> seen;
  for (const HelpEntry& entry : helpEntries()) {
    // The note letters and the parts of a note are written after a note, not
    // chosen from a list.
    static constexpr std::string_view kPartsOfANote[] = {"+", "#", "-", ".", "^", "length"};
    if (std::ranges::find(kPartsOfANote, entry.key) != std::end(kPartsOfANote)) continue;
    if (!seen.insert(entry.key).second) continue;
    items.push_back({{"label", std::string(entry.key)},
                     {"kind", kCompletionKeyword},
                     {"detail", std::string(entry.usage)},
                     {"documentation", {{"kind", "markdown"}, {"value", helpMarkdown(entry.key)}}}});
  }
  return items;
}

LanguageServer::Json LanguageServer::symbols(const Json& params) const {
  const SongDocument* document = documentOf(params);
  if (document == nullptr) return nullptr;
  Json list = Json::array();
  const TextLines& lines = document->lines();
  for (const OutlineItem& item : songOutline(lines)) {
    const int kind = item.kind == OutlineKind::Channel ? kSymbolNamespace
                     : item.kind == OutlineKind::Wave  ? kSymbolArray
                                                       : kSymbolProperty;
    Json symbol = {{"name", item.name},
                   {"kind", kind},
                   {"range", {{"start", position(lines.positionAt(item.firstLine, 0, encoding_))},
                              {"end", position(lines.positionAt(item.lastLine, lines.line(item.lastLine).size(),
                                                                encoding_))}}},
                   {"selectionRange", range(lines, item.firstLine, 0, item.nameEnd, encoding_)}};
    if (!item.detail.empty()) symbol["detail"] = item.detail;
    list.push_back(std::move(symbol));
  }
  return list;
}

LanguageServer::Json LanguageServer::location(const std::string& uri, const SongDocument& document,
                                              const SongPlace& place) const {
  return {{"uri", uri}, {"range", range(document.lines(), place.line, place.start, place.end, encoding_)}};
}

LanguageServer::Json LanguageServer::definition(const Json& params) const {
  const SongDocument* document = documentOf(params);
  if (document == nullptr) return nullptr;
  const auto cursor = cursorOf(*document, params, encoding_);
  const std::optional<SongPlace> place = cursor ? document->places().at(cursor->first, cursor->second) : std::nullopt;
  if (!place) return nullptr;
  const std::string uri = params["textDocument"]["uri"].get<std::string>();
  Json list = Json::array();
  for (const SongPlace& p : document->places().definitionsOf(*place)) list.push_back(location(uri, *document, p));
  return list;
}

LanguageServer::Json LanguageServer::references(const Json& params) const {
  const SongDocument* document = documentOf(params);
  if (document == nullptr) return nullptr;
  const auto cursor = cursorOf(*document, params, encoding_);
  const std::optional<SongPlace> place = cursor ? document->places().at(cursor->first, cursor->second) : std::nullopt;
  if (!place) return nullptr;
  const std::string uri = params["textDocument"]["uri"].get<std::string>();
  const bool withDefinition = params.value("/context/includeDeclaration"_json_pointer, false);
  Json list = Json::array();
  if (withDefinition)
    for (const SongPlace& p : document->places().definitionsOf(*place)) list.push_back(location(uri, *document, p));
  for (const SongPlace& p : document->places().usesOf(*place)) list.push_back(location(uri, *document, p));
  return list;
}

LanguageServer::Json LanguageServer::semanticTokens(const Json& params) const {
  const SongDocument* document = documentOf(params);
  if (document == nullptr) return nullptr;
  // Five numbers a token: line and start relative to the token before, the
  // length, the type and no modifiers.
  Json data = Json::array();
  Position before;
  for (const ClassedToken& t : document->tokens()) {
    const int type = legend().index[static_cast<std::size_t>(t.kind)];
    if (type < 0) continue;
    const Position start = document->lines().positionAt(t.line, t.start, encoding_);
    const Position end = document->lines().positionAt(t.line, t.end, encoding_);
    data.push_back(start.line - before.line);
    data.push_back(start.line == before.line ? start.character - before.character : start.character);
    data.push_back(end.character - start.character);
    data.push_back(type);
    data.push_back(0);
    before = start;
  }
  return {{"data", std::move(data)}};
}

std::optional<std::pair<std::size_t, std::size_t>> LanguageServer::placeOf(const SongDocument& document,
                                                                           const Json& position) const {
  if (!position.is_object()) return std::nullopt;
  return byteColumnOf(document, position, encoding_);
}

// qvb.play [uri], qvb.playFrom [uri, position], qvb.playSelection [uri,
// range], qvb.stop []: each answers null once the sound is on its way.
void LanguageServer::execute(const Json& id, const Json& params, std::vector<std::string>& out) {
  const std::string command = params.at("command").get<std::string>();
  const Json arguments = params.value("arguments", Json::array());
  const auto invalid = [&](const std::string& why) { out.push_back(errorMessage(id, RpcError::InvalidParams, why)); };
  if (std::ranges::find(kPlayCommands, command) == std::end(kPlayCommands)) return invalid("no command " + command);
  if (!arguments.is_array()) return invalid("the arguments must be a list");
  if (command == "qvb.stop") {
    if (playback_) playback_->stop();
    out.push_back(resultMessage(id, nullptr));
    return;
  }
  const std::size_t wanted = command == "qvb.play" ? 1 : 2;
  if (arguments.size() != wanted || !arguments[0].is_string())
    return invalid(command + " takes the song's uri" + (wanted == 2 ? " and a place in it" : ""));
  const std::string uri = arguments[0].get<std::string>();
  const auto found = documents_.find(uri);
  if (found == documents_.end()) return invalid(uri + " is not open");
  const SongDocument& document = *found->second;
  if (!playback_) {
    out.push_back(errorMessage(id, RpcError::RequestFailed, "this server was started without sound"));
    return;
  }
  if (!document.song().ok()) {
    out.push_back(errorMessage(id, RpcError::RequestFailed, "the song does not compile: see its errors"));
    return;
  }
  std::int64_t from = 0, sectionEnd = -1;
  if (command != "qvb.play") {
    const Json& where = arguments[1];
    const bool selection = command == "qvb.playSelection";
    const auto start = placeOf(document, selection && where.is_object() ? where.value("start", Json()) : where);
    const auto end = selection && where.is_object() ? placeOf(document, where.value("end", Json())) : start;
    if (!start || !end) return invalid(command + (selection ? " takes a range of the song" : " takes a position in the song"));
    const auto frames = itemFrames(document.song(), limits_.hoverCallbacks);
    // The note under the cursor, or the first written after it.
    TextPlace at{start->first, start->second};
    if (const std::optional<LineToken> token = tokenAt(document.lines().line(at.line), at.column)) at.column = token->start;
    if (selection) {
      const auto span = itemsSpan(document.song(), frames, at, {end->first, end->second});
      if (!span) return invalid("no note of the song is written in the selection");
      from = span->first;
      sectionEnd = span->second;
    } else {
      const std::optional<SequencerEvent> item = firstItemFrom(document.song(), frames, at);
      if (!item) return invalid("no note of the song is written at or after the position");
      from = item->frame;
    }
  }
  if (!playback_->play(document, uri, from, sectionEnd)) {
    out.push_back(errorMessage(id, RpcError::RequestFailed, playback_->error()));
    return;
  }
  out.push_back(resultMessage(id, nullptr));
}

std::vector<std::string> LanguageServer::poll() {
  std::vector<std::string> out;
  if (!playback_) return out;
  const std::optional<HeardNow> heard = playback_->poll();
  if (!heard) return out;
  const auto found = documents_.find(heard->uri);
  Json notes = Json::array();
  for (const HeardNote& n : heard->notes) {
    Json item = {{"channel", std::string(1, static_cast<char>('A' + n.channel))}};
    // The text played is the one the song was started from: while its
    // document is as it was, its lines give the positions.
    if (found != documents_.end() && n.line < found->second->lines().lineCount())
      item["range"] = range(found->second->lines(), n.line, n.start, n.end, encoding_);
    else
      item["range"] = {{"start", {{"line", n.line}, {"character", n.start}}}, {"end", {{"line", n.line}, {"character", n.end}}}};
    notes.push_back(std::move(item));
  }
  out.push_back(notificationMessage(
      "qvb/heard", {{"uri", heard->uri}, {"frame", heard->frame}, {"seconds", heard->seconds}, {"notes", std::move(notes)}}));
  return out;
}

}  // namespace qvb::lsp
