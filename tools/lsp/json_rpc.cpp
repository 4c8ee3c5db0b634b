#include "lsp/json_rpc.h"

#include <utility>

namespace qvb::lsp {
namespace {

std::string written(const nlohmann::json& message) {
  return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string resultMessage(const nlohmann::json& id, nlohmann::json result) {
  return written({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

std::string errorMessage(const nlohmann::json& id, RpcError code, std::string_view message) {
  return written({{"jsonrpc", "2.0"},
                  {"id", id},
                  {"error", {{"code", static_cast<int>(code)}, {"message", std::string(message)}}}});
}

std::string notificationMessage(std::string_view method, nlohmann::json params) {
  return written({{"jsonrpc", "2.0"}, {"method", std::string(method)}, {"params", std::move(params)}});
}

}  // namespace qvb::lsp
