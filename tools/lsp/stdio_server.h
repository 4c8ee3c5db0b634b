// The server on a pair of file descriptors (standard input and output):
// reads the framed messages as they come, hands each to a LanguageServer and
// writes its answers framed, until exit or the end of the input. While a
// song plays it also wakes some 30 times a second, between messages, for
// what is heard; the server and its sound end with the input.
#pragma once

namespace qvb {
class AudioPlatform;
}

namespace qvb::lsp {

// The program's exit status: the server's after exit, 1 when the input ended
// without one or could not be read or written.
// audio: where songs play (null: not at all).
int serveOn(int input, int output, AudioPlatform* audio = nullptr);

}  // namespace qvb::lsp
