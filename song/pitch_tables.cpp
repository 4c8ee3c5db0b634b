#include "song/pitch_tables.h"

namespace qvb {
namespace {

// 2^(1/12) by Newton's method on x^12 = 2, in long double at compile time.
constexpr long double twelfthRootOfTwo() {
  long double x = 1.06;
  for (int i = 0; i < 16; ++i) {
    long double p = 1;
    for (int k = 0; k < 11; ++k) p *= x;  // x^11
    x -= (p * x - 2) / (12 * p);
  }
  return x;
}

// Whole octaves are exact powers of two, so notes 12 semitones apart from
// note 69 land exactly on 440 * 2^k; the other notes are irrational and far
// from a whole number, so long double precision is ample for the floor.
constexpr std::array<std::uint16_t, kNoteCount> makeNoteFrequency() {
  std::array<std::uint16_t, kNoteCount> table{};
  const long double semitone = twelfthRootOfTwo();
  for (int n = 0; n < kNoteCount; ++n) {
    int d = n - 69;
    int octave = d >= 0 ? d / 12 : -((-d + 11) / 12);
    int step = d - octave * 12;
    long double f = 440;
    for (int i = 0; i < step; ++i) f *= semitone;
    for (int i = 0; i < octave; ++i) f *= 2;
    for (int i = 0; i > octave; --i) f /= 2;
    table[n] = static_cast<std::uint16_t>(f);
  }
  return table;
}

constexpr std::array<std::uint16_t, kPeriodCount> makePeriodFrequency() {
  std::array<std::uint16_t, kPeriodCount> table{};
  table[0] = 65535;
  for (int k = 1; k < kPeriodCount; ++k) table[k] = static_cast<std::uint16_t>(55930 / k);
  return table;
}

// The period table is normative as it stands: some entries differ by one from
// the rounding of 55930.4 / f, and those are kept.
constexpr std::array<std::uint16_t, kNoteCount> makeNotePeriod() {
  constexpr std::uint16_t rows[8][12] = {
      {3421, 3228, 3047, 2876, 2715, 2562, 2419, 2283, 2155, 2034, 1920, 1812},
      {1711, 1614, 1524, 1438, 1358, 1281, 1210, 1142, 1078, 1017, 960, 906},
      {855, 807, 762, 719, 679, 641, 605, 571, 539, 509, 480, 453},
      {428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 227},
      {214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113},
      {107, 101, 95, 90, 85, 80, 76, 71, 67, 64, 60, 57},
      {53, 50, 48, 45, 42, 40, 38, 36, 34, 32, 30, 28},
      {27, 25, 24, 22, 21, 20, 19, 18, 17, 16, 15, 14},
  };
  std::array<std::uint16_t, kNoteCount> table{};
  for (int n = 12; n < 108; ++n) table[n] = rows[(n - 12) / 12][(n - 12) % 12];
  return table;
}

}  // namespace

constexpr std::array<std::uint16_t, kNoteCount> kNoteFrequencyData = makeNoteFrequency();
const std::array<std::uint16_t, kNoteCount> kNoteFrequency = kNoteFrequencyData;
const std::array<std::uint16_t, kPeriodCount> kPeriodFrequency = makePeriodFrequency();
const std::array<std::uint16_t, kNoteCount> kNotePeriod = makeNotePeriod();

static_assert(kNoteFrequencyData[69] == 440 && kNoteFrequencyData[60] == 261);
static_assert(kNoteFrequencyData[0] == 8 && kNoteFrequencyData[127] == 12543);

}  // namespace qvb
