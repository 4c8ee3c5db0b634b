#include "compiler/compile_errors.h"

namespace qvb {

namespace {

constexpr ErrorCodeInfo kErrorCodes[] = {
#define QVB_COMPILE_ERROR_ENTRY(name, code, meaning) {name, #name, meaning},
    QVB_COMPILE_ERRORS(QVB_COMPILE_ERROR_ENTRY)
#undef QVB_COMPILE_ERROR_ENTRY
};

}  // namespace

std::span<const ErrorCodeInfo> errorCodes() {
  return kErrorCodes;
}

const ErrorCodeInfo* findErrorCode(int code) {
  for (const ErrorCodeInfo& info : errorCodes())
    if (info.code == code) return &info;
  return nullptr;
}

}  // namespace qvb
