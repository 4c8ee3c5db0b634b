#include "render/seconds.h"

#include <cctype>
#include <vector>

#include "render/render_session.h"

namespace qvb {
namespace {

// Six hours of 16-bit stereo stay below the 4 GiB that a WAV file can hold.
constexpr std::int64_t kMaxSeconds = 6 * 60 * 60;

bool allDigits(std::string_view s) {
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// floor(0.DIGITS * rate): the digits times the rate, with as many digits as
// the fraction had dropped from the end. Done on decimal digits, so any
// length is exact.
std::int64_t fractionFrames(std::string_view digits, std::int64_t rate) {
  std::vector<int> product(digits.size() + 8, 0);  // least significant first
  for (std::size_t i = 0; i < digits.size(); ++i) {
    product[i] = digits[digits.size() - 1 - i] - '0';
  }
  std::int64_t carry = 0;
  for (int& d : product) {
    const std::int64_t v = d * rate + carry;
    d = static_cast<int>(v % 10);
    carry = v / 10;
  }
  std::int64_t whole = 0;
  for (std::size_t i = product.size(); i-- > digits.size();) whole = whole * 10 + product[i];
  return whole;
}

}  // namespace

std::optional<std::int64_t> secondsToFrames(std::string_view text) {
  const std::size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  if (!allDigits(whole) || !allDigits(fraction)) return std::nullopt;
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  if (whole.size() > 6) return std::nullopt;
  std::int64_t seconds = 0;
  for (char c : whole) seconds = seconds * 10 + (c - '0');
  const std::int64_t frames = seconds * kRenderRate + fractionFrames(fraction, kRenderRate);
  if (frames > kMaxSeconds * kRenderRate) return std::nullopt;
  return frames;
}

}  // namespace qvb
