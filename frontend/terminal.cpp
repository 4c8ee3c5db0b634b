#include "frontend/terminal.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace qvb {

bool isTerminal(std::FILE* stream) {
  if (stream == nullptr) return false;
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) == 1;
#endif
}

}  // namespace qvb
