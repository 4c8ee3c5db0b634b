// The keys of a Windows console as the bytes a terminal sends for them, so
// that one KeyMap reads both: the console hands over key events (a virtual
// key code and the character typed, if any), a terminal hands over bytes.
// Plain C++, so the mapping is tested on every system.
#pragma once

#include <cstdint>
#include <string>

namespace qvb {

// One key event of the console, as ReadConsoleInput gives it.
struct ConsoleKey {
  bool down = true;
  std::uint16_t virtualKey = 0;  // the system's VK_ code
  char16_t character = 0;        // what the key typed (Ctrl-C: 3), 0 for none
  std::uint16_t repeat = 1;      // a key held down comes as one event with a count
};

// The bytes a terminal would send: the character (ASCII only: no key of the
// player lies beyond it), the arrows as CSI sequences, nothing for a release
// or a key that types nothing (Shift, a function key).
std::string terminalBytes(const ConsoleKey& key);

}  // namespace qvb
