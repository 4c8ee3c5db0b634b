#include "host/terminal.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdlib>
#else
#include <unistd.h>
#endif

namespace qvb {
namespace {

// The length of the valid UTF-8 character that starts at text[at] (no
// overlong form, no surrogate, nothing past U+10FFFF), 0 when none does.
std::size_t utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) -> unsigned {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
  };
  const unsigned lead = byte(0);
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

#ifdef _WIN32
UINT gShellCodePage = 0;

void restoreShellCodePage() { SetConsoleOutputCP(gShellCodePage); }
#endif

void appendEscape(std::string& out, unsigned char byte) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

}  // namespace

bool isTerminal(std::FILE* stream) {
  if (stream == nullptr) return false;
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) == 1;
#endif
}

void showUtf8OnConsole() {
#ifdef _WIN32
  gShellCodePage = GetConsoleOutputCP();
  if (gShellCodePage == 0 || gShellCodePage == CP_UTF8) return;  // no console, or already so
  if (SetConsoleOutputCP(CP_UTF8)) std::atexit(restoreShellCodePage);
#endif
}

std::string visibleControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = byte < 0x80 ? 1 : utf8Length(text, at);
    bool control = false;
    if (length == 0) {
      length = 1;  // a byte that starts no character: a control in the C1 range
      control = byte <= 0x9F;
    } else if (length == 1) {
      control = (byte < 0x20 && byte != '\t') || byte == 0x7F;
    } else {
      control = byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;  // U+0080-U+009F
    }
    for (std::size_t i = at; i < at + length; ++i) {
      if (control) appendEscape(out, static_cast<unsigned char>(text[i]));
      else out += text[i];
    }
    at += length;
  }
  return out;
}

std::string textFor(std::FILE* stream, std::string_view text) {
  return isTerminal(stream) ? visibleControls(text) : std::string(text);
}

}  // namespace qvb
