#include "sound/wave_tables.h"

namespace qvb {
namespace {

constexpr double kPi = 3.14159265358979323846;

// sin(2 * pi * k / 256) for k in 0..64, the first quadrant. The Taylor series
// is exact to double precision there; k = 64 is pinned to 1 so that the
// quarter points land exactly on +-64.
constexpr double quarterSine(int k) {
  if (k == 64) return 1.0;
  const double x = 2.0 * kPi * k / 256.0;
  double term = x;
  double sum = x;
  for (int n = 1; n < 14; ++n) {
    term *= -x * x / ((2.0 * n) * (2.0 * n + 1.0));
    sum += term;
  }
  return sum;
}

constexpr double sineOfStep(int i) {
  if (i <= 64) return quarterSine(i);
  if (i <= 128) return quarterSine(128 - i);
  if (i <= 192) return -quarterSine(i - 128);
  return -quarterSine(256 - i);
}

constexpr std::array<std::int8_t, kSineLength> makeSineTable() {
  std::array<std::int8_t, kSineLength> table{};
  for (int i = 0; i < kSineLength; ++i) {
    // A cast to int truncates toward zero.
    table[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(static_cast<int>(64.0 * sineOfStep(i)));
  }
  return table;
}

// How the noise table was made: a 32-bit xorshift generator (shifts 13, 17, 5)
// started from seed 135 gives one value per entry, its top byte read as a
// signed 8-bit number. The first 16 and last 8 entries are then replaced by
// the sequence the sound has always started and ended with. Seed 135 is the
// first seed for which every value -128..127 occurs between 7 and 28 times and
// the mean lies near -1.5; the tests check those properties.
constexpr std::array<std::int8_t, 16> kNoiseHead = {126, -80, -28, -101, -33, 116, -74, -82,
                                                    -68, -43, 50,  -12,  34,  -16, 69,  -21};
constexpr std::array<std::int8_t, 8> kNoiseTail = {115, 66, -127, 80, -2, 31, -63, 112};

constexpr std::array<std::int8_t, kNoiseLength> makeNoiseTable() {
  std::array<std::int8_t, kNoiseLength> table{};
  std::uint32_t x = 135;
  for (auto& entry : table) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    entry = static_cast<std::int8_t>(static_cast<std::uint8_t>(x >> 24));
  }
  for (std::size_t i = 0; i < kNoiseHead.size(); ++i) table[i] = kNoiseHead[i];
  for (std::size_t i = 0; i < kNoiseTail.size(); ++i) {
    table[kNoiseLength - kNoiseTail.size() + i] = kNoiseTail[i];
  }
  return table;
}

}  // namespace

constinit const std::array<std::int8_t, kSineLength> kSineTable = makeSineTable();
constinit const std::array<std::int8_t, kNoiseLength> kNoiseTable = makeNoiseTable();

}  // namespace qvb
