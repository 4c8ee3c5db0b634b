// What the programs write to a terminal: whether a standard stream is one, on
// every system the programs build for (progress lines are shown only there),
// and text from outside (a song's title or source line, a file name) made
// harmless there, since a terminal takes control bytes as orders (a window
// title, the clipboard, clearing the screen).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qvb {

bool isTerminal(std::FILE* stream);

// Makes a Windows console show the UTF-8 text the programs write (file names,
// titles) as written, by setting its output code page to UTF-8 until the
// program exits; the console is the shell's too, so its own code page comes
// back then. Does nothing elsewhere, nor when there is no console.
void showUtf8OnConsole();

// The text with every control byte shown as an escape such as "\x1b": the C0
// controls but tab, DEL, and the C1 controls, whether written as UTF-8
// characters or as bytes 0x80-0x9F outside one. Other text, valid UTF-8
// included, stays as it is.
std::string visibleControls(std::string_view text);

// The text as it is to be written to stream: visibleControls() on a terminal,
// every byte as it is into a pipe or a file.
std::string textFor(std::FILE* stream, std::string_view text);

}  // namespace qvb
