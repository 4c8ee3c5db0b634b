#include "sound/wave_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numeric>

namespace qvb {
namespace {

TEST(SineTable, MatchesTruncatedSineAtEveryStep) {
  for (int i = 0; i < kSineLength; ++i) {
    const long double exact = 64.0L * std::sin(2.0L * 3.14159265358979323846264338L * i / 256.0L);
    // The quarter points are exact in theory; long double rounding leaves a tiny
    // remainder there, which must not change the truncated value.
    long double expected = std::trunc(exact);
    if (i % 64 == 0) expected = std::round(exact);
    EXPECT_EQ(kSineTable[static_cast<std::size_t>(i)], static_cast<int>(expected)) << "entry " << i;
  }
}

TEST(SineTable, KnownEntries) {
  const std::map<int, int> known = {{0, 0},   {1, 1},  {2, 3},     {64, 64},
                                    {128, 0}, {192, -64}, {255, -1}};
  for (const auto& [index, value] : known) {
    EXPECT_EQ(kSineTable[static_cast<std::size_t>(index)], value) << "entry " << index;
  }
}

TEST(NoiseTable, BeginsAndEndsWithTheFixedValues) {
  const int head[] = {126, -80, -28, -101, -33, 116, -74, -82, -68, -43, 50, -12, 34, -16, 69, -21};
  const int tail[] = {115, 66, -127, 80, -2, 31, -63, 112};
  for (std::size_t i = 0; i < std::size(head); ++i) EXPECT_EQ(kNoiseTable[i], head[i]) << i;
  for (std::size_t i = 0; i < std::size(tail); ++i) {
    EXPECT_EQ(kNoiseTable[kNoiseLength - std::size(tail) + i], tail[i]) << i;
  }
}

TEST(NoiseTable, EveryValueOccursBetween7And28Times) {
  std::array<int, 256> counts{};
  for (std::int8_t v : kNoiseTable) ++counts[static_cast<std::size_t>(v + 128)];
  for (int v = -128; v < 128; ++v) {
    const int n = counts[static_cast<std::size_t>(v + 128)];
    EXPECT_GE(n, 7) << "value " << v;
    EXPECT_LE(n, 28) << "value " << v;
  }
}

TEST(NoiseTable, MeanIsAboutMinusOneAndAHalf) {
  const long sum = std::accumulate(kNoiseTable.begin(), kNoiseTable.end(), 0L);
  const double mean = static_cast<double>(sum) / kNoiseLength;
  EXPECT_GT(mean, -1.75);
  EXPECT_LT(mean, -1.25);
}

TEST(NoiseTable, HasNoShorterPeriod) {
  for (int period = 1; period < kNoiseLength; ++period) {
    bool differs = false;
    for (int i = 0; i < kNoiseLength && !differs; ++i) {
      differs = kNoiseTable[static_cast<std::size_t>(i)] !=
                kNoiseTable[static_cast<std::size_t>((i + period) % kNoiseLength)];
    }
    EXPECT_TRUE(differs) << "repeats after " << period;
  }
}

}  // namespace
}  // namespace qvb
