// A LanguageServer driven in-process with JSON: requests and notifications
// in, the messages it answers with parsed back.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsp/language_server.h"

namespace qvb::lsp::test {

using Json = nlohmann::json;

class LspSession {
 public:
  explicit LspSession(ServerLimits limits = {}, AudioPlatform* audio = nullptr) : server(limits, audio) {}

  std::vector<Json> raw(const std::string& body) {
    std::vector<Json> out;
    for (const std::string& message : server.handle(body)) out.push_back(Json::parse(message));
    return out;
  }
  std::vector<Json> notify(const std::string& method, Json params) {
    return raw(Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}.dump());
  }
  // The one reply to a request.
  Json request(const std::string& method, Json params) {
    const std::vector<Json> out =
        raw(Json{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", std::move(params)}}.dump());
    return out.size() == 1 ? out[0] : Json{{"replies", out}};
  }
  // initialize (UTF-8 positions when asked) and initialized.
  Json start(bool utf8 = false) {
    Json capabilities = Json::object();
    if (utf8) capabilities["general"]["positionEncodings"] = {"utf-8", "utf-16"};
    Json reply = request("initialize", {{"processId", nullptr}, {"capabilities", capabilities}});
    notify("initialized", Json::object());
    return reply;
  }
  // didOpen; the diagnostics published for it.
  Json open(const std::string& text, const std::string& uri = "file:///song.qvm") {
    const std::vector<Json> out =
        notify("textDocument/didOpen", {{"textDocument", {{"uri", uri}, {"languageId", "qvm"}, {"version", 1},
                                                          {"text", text}}}});
    for (const Json& message : out)
      if (message.value("method", "") == "textDocument/publishDiagnostics") return message["params"]["diagnostics"];
    return Json{{"published", out}};
  }
  Json at(const std::string& method, int line, int character, const std::string& uri = "file:///song.qvm") {
    return request(method, {{"textDocument", {{"uri", uri}}}, {"position", {{"line", line}, {"character", character}}}});
  }

  LanguageServer server;

 private:
  int id_ = 0;
};

}  // namespace qvb::lsp::test
