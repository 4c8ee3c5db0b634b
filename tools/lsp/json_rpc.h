// The JSON-RPC messages the server writes: replies with a result or an
// error, and notifications, in the error codes the editor expects. Written
// so that a song's bytes that are not UTF-8 never stop a message (they are
// replaced), never throwing.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qvb::lsp {

enum class RpcError : int {
  ParseError = -32700,
  InvalidRequest = -32600,
  MethodNotFound = -32601,
  InvalidParams = -32602,
  InternalError = -32603,
  ServerNotInitialized = -32002,
  RequestFailed = -32803,
};

std::string resultMessage(const nlohmann::json& id, nlohmann::json result);
std::string errorMessage(const nlohmann::json& id, RpcError code, std::string_view message);
std::string notificationMessage(std::string_view method, nlohmann::json params);

}  // namespace qvb::lsp
