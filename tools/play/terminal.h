// The terminal while qvbplay runs: keys read one at a time without echo, the
// cursor hidden, and everything put back on every way out, signals included
// (the handlers only write the saved settings back, show the cursor and end
// the process, which is all that is safe inside a handler). On POSIX systems
// a termios terminal (terminal_posix.cpp); on Windows the console in
// virtual-terminal mode, its key events read as the bytes a terminal sends
// for them (terminal_windows.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "play/wake_handle.h"

namespace qvb {

class Terminal {
 public:
  // Raw mode on standard input when wanted and both it and standard output
  // are a terminal (a console that takes escape sequences, on Windows);
  // otherwise nothing changes and interactive() is false.
  explicit Terminal(bool wanted = true);
  ~Terminal() { restore(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool interactive() const { return interactive_; }
  // Columns of the terminal (80 when it cannot tell).
  int width() const;
  // Waits up to timeoutMs for keys on standard input (or until wake, when
  // given, has news) and returns their bytes (empty otherwise).
  std::string readKeys(int timeoutMs, WakeHandle wake = kNoWake);
  // Draws the lines from the top left, clearing what was there.
  void draw(const std::string& screen);
  void restore();
  // Ctrl-Z: the terminal as it was while the process is stopped, raw again
  // (and the screen cleared for a redraw) once it continues. Windows has no
  // stopped processes: nothing happens there.
  void suspend();

 private:
  // The whole text to standard output, as the system writes to its terminal.
  static void writeOut(const std::string& text);

  bool interactive_ = false;
};

// The lines joined for Terminal::draw: each cleared to its end.
std::string screenText(const std::vector<std::string>& lines);

}  // namespace qvb
