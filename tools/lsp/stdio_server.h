// The server on a pair of file descriptors (standard input and output):
// reads the framed messages as they come, hands each to a LanguageServer and
// writes its answers framed, until exit or the end of the input.
#pragma once

namespace qvb::lsp {

// The program's exit status: the server's after exit, 1 when the input ended
// without one or could not be read or written.
int serveOn(int input, int output);

}  // namespace qvb::lsp
