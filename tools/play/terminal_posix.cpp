#include "play/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace qvb {
namespace {

constexpr char kShowCursor[] = "\033[?25h";
constexpr char kHideCursor[] = "\033[?25l";
// Bytes taken in one read of the keys at the most: a paste of far more waits
// for the next refresh.
constexpr std::size_t kMostKeys = 4096;

// Read by the signal handlers: set once before they are installed.
struct termios gSaved;
struct termios gRawSettings;
volatile sig_atomic_t gRaw = 0;
// Raw mode is wanted (between the constructor and restore()), also while
// the process is stopped.
volatile sig_atomic_t gWanted = 0;

void writeAll(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void restoreNow() {
  if (gRaw == 0) return;
  gRaw = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &gSaved);
  writeAll(kShowCursor, sizeof kShowCursor - 1);
  writeAll("\r\n", 2);
}

// Only async-signal-safe calls: tcsetattr, write, signal, raise.
void onSignal(int signal) {
  restoreNow();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void installStop();

void onStop(int) {
  restoreNow();
  ::signal(SIGTSTP, SIG_DFL);
  ::raise(SIGTSTP);
}

// Back from Ctrl-Z and fg: raw mode again, the screen cleared for the next
// redraw, and Ctrl-Z caught once more.
void onContinue(int) {
  if (gWanted == 0 || gRaw != 0) return;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &gRawSettings) != 0) return;
  gRaw = 1;
  writeAll(kHideCursor, sizeof kHideCursor - 1);
  writeAll("\033[2J", 4);
  installStop();
}

void installStop() {
  struct sigaction action {};
  action.sa_handler = &onStop;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTSTP, &action, nullptr);
}

}  // namespace

Terminal::Terminal(bool wanted) {
  if (!wanted || ::isatty(STDIN_FILENO) != 1 || ::isatty(STDOUT_FILENO) != 1) return;
  if (::tcgetattr(STDIN_FILENO, &gSaved) != 0) return;
  struct termios raw = gSaved;
  // Ctrl-C arrives as a key, so quitting takes the same path as q.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  struct sigaction action {};
  action.sa_handler = &onSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(s, &action, nullptr);
  action.sa_handler = &onContinue;
  ::sigaction(SIGCONT, &action, nullptr);
  installStop();
  gRawSettings = raw;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
  gRaw = 1;
  gWanted = 1;
  interactive_ = true;
  writeAll(kHideCursor, sizeof kHideCursor - 1);
  writeAll("\033[2J", 4);
}

void Terminal::restore() {
  if (!interactive_) return;
  gWanted = 0;
  restoreNow();
  interactive_ = false;
}

void Terminal::suspend() {
  if (interactive_) ::raise(SIGTSTP);
}

int Terminal::width() const {
  struct winsize size {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

std::string Terminal::readKeys(int timeoutMs, WakeHandle wake) {
  struct pollfd in[2] = {{STDIN_FILENO, POLLIN, 0}, {wake, POLLIN, 0}};
  if (::poll(in, wake != kNoWake ? 2 : 1, timeoutMs) <= 0 || (in[0].revents & POLLIN) == 0) return {};
  // Everything waiting, so a key's bytes are not cut between two reads.
  std::string keys;
  char bytes[256];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (n <= 0) break;
    keys.append(bytes, static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) < sizeof bytes || keys.size() >= kMostKeys) break;
  }
  return keys;
}

void Terminal::writeOut(const std::string& text) { writeAll(text.data(), text.size()); }

}  // namespace qvb
