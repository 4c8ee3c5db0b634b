#include "play/terminal.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <atomic>

#include "play/console_keys.h"

namespace qvb {
namespace {

constexpr char kShowCursor[] = "\033[?25h";
constexpr char kHideCursor[] = "\033[?25l";
// Bytes taken in one read of the keys at the most: a paste of far more waits
// for the next refresh.
constexpr std::size_t kMostKeys = 4096;
constexpr DWORD kMostRecords = 64;

// Read by the console's control handler, which runs on a thread of its own:
// set before it is installed.
DWORD gSavedInput = 0, gSavedOutput = 0;
UINT gSavedCodePage = 0;
std::atomic<bool> gRaw{false};

HANDLE input() { return GetStdHandle(STD_INPUT_HANDLE); }
HANDLE output() { return GetStdHandle(STD_OUTPUT_HANDLE); }

void writeAll(const char* text, std::size_t length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(output(), text, static_cast<DWORD>(length), &written, nullptr) || written == 0) return;
    text += written;
    length -= written;
  }
}

// The console is shared with the shell that started us: its modes and code
// page go back as they were, once, whichever way out comes first.
void restoreNow() {
  if (!gRaw.exchange(false)) return;
  writeAll(kShowCursor, sizeof kShowCursor - 1);
  writeAll("\r\n", 2);
  SetConsoleMode(input(), gSavedInput);
  SetConsoleMode(output(), gSavedOutput);
  SetConsoleOutputCP(gSavedCodePage);
}

// Ctrl-C comes as a key; should it come as a signal all the same (Wine's
// console sends both), it is taken as the key, so quitting takes one path.
std::atomic<bool> gCtrlC{false};

// Ctrl-Break, the window closed, logoff or shutdown: the console put back,
// then the default handling ends the process.
BOOL WINAPI onControl(DWORD event) {
  if (event == CTRL_C_EVENT) {
    gCtrlC = true;
    return TRUE;
  }
  restoreNow();
  return FALSE;
}

}  // namespace

Terminal::Terminal(bool wanted) {
  if (!wanted || !GetConsoleMode(input(), &gSavedInput) || !GetConsoleMode(output(), &gSavedOutput)) return;
  gSavedCodePage = GetConsoleOutputCP();
  // Escape sequences drawn, not shown; a console without them (older than
  // Windows 10) gets the plain lines instead of a display.
  if (!SetConsoleMode(output(), gSavedOutput | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return;
  // Keys one at a time without echo; Ctrl-C as a key, so quitting takes the
  // same path as q.
  const DWORD raw = gSavedInput & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  if (!SetConsoleMode(input(), raw)) {
    SetConsoleMode(output(), gSavedOutput);
    return;
  }
  SetConsoleOutputCP(CP_UTF8);  // titles and file names are UTF-8
  gRaw = true;
  SetConsoleCtrlHandler(&onControl, TRUE);
  interactive_ = true;
  writeAll(kHideCursor, sizeof kHideCursor - 1);
  writeAll("\033[2J", 4);
}

void Terminal::restore() {
  if (!interactive_) return;
  restoreNow();
  SetConsoleCtrlHandler(&onControl, FALSE);
  interactive_ = false;
}

void Terminal::suspend() {}

int Terminal::width() const {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(output(), &info) && info.srWindow.Right >= info.srWindow.Left) {
    return info.srWindow.Right - info.srWindow.Left + 1;
  }
  return 80;
}

// The console's input handle is signalled while events wait (keys, and also
// focus, mouse and size changes, which are read and dropped here).
std::string Terminal::readKeys(int timeoutMs, WakeHandle wake) {
  const HANDLE handles[2] = {input(), wake};
  const bool signalled = WaitForMultipleObjects(wake != kNoWake ? 2 : 1, handles, FALSE,
                                                static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
  std::string keys = gCtrlC.exchange(false) ? "\003" : "";
  if (!signalled) return keys;
  INPUT_RECORD records[kMostRecords];
  DWORD waiting = 0;
  while (keys.size() < kMostKeys && GetNumberOfConsoleInputEvents(input(), &waiting) && waiting > 0) {
    DWORD got = 0;
    if (!ReadConsoleInputW(input(), records, waiting < kMostRecords ? waiting : kMostRecords, &got)) break;
    for (DWORD i = 0; i < got; ++i) {
      if (records[i].EventType != KEY_EVENT) continue;
      const KEY_EVENT_RECORD& k = records[i].Event.KeyEvent;
      keys += terminalBytes(ConsoleKey{k.bKeyDown != FALSE, k.wVirtualKeyCode,
                                       static_cast<char16_t>(k.uChar.UnicodeChar), k.wRepeatCount});
    }
  }
  return keys;
}

void Terminal::writeOut(const std::string& text) { writeAll(text.data(), text.size()); }

}  // namespace qvb
