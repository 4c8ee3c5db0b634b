// Whether a standard stream is an interactive terminal, on every system the
// programs build for (progress lines are shown only there).
#pragma once

#include <cstdio>

namespace qvb {

bool isTerminal(std::FILE* stream);

}  // namespace qvb
