// The band sums pass over vectors of terms too small to change them: whenever
// a vector is skipped, adding its eight terms one by one must give the sum
// back bit for bit.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "solver/band_sum_skip.h"
#include "solver/cpu_features.h"
#include "tests/test_support.h"

namespace {

double addTerms(const double* w, double s) {
  for (int k = 0; k < 8; ++k) s = (w[k] * w[k]) * 2 + s;
  return s;
}

// The skip test as built for AVX-512 or AVX2.
struct Build {
  const char* name;
  bool (*skips)(const double*, double);
  bool available;
};
const Build kBuilds[] = {{"avx512", plume::negligibleTermsAvx512, plume::cpuHasAvx512()},
                         {"avx2", plume::negligibleTermsAvx2, plume::cpuHasAvx2Fma()}};

class BandSumSkip : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    if (!GetParam().available)
      GTEST_SKIP() << "the " << GetParam().name
                   << " build is not run: this CPU lacks its instructions";
  }
  static bool skipped(const double (&w)[8], double s) { return GetParam().skips(w, s); }
};

INSTANTIATE_TEST_SUITE_P(Build, BandSumSkip, ::testing::ValuesIn(kBuilds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

TEST_P(BandSumSkip, HalfAnUlpIsNotSkippedBelowItIs) {
  // Sum 4 + 2^-50 (odd last bit); a term of 2^-51 is exactly half an ulp and
  // rounds the sum up to even, so it must be added.
  const double s = 4 + 0x1p-50;
  double tie[8];
  for (double& x : tie) x = 0x1p-26;  // (w*w)*2 = 2^-51
  EXPECT_FALSE(skipped(tie, s));
  EXPECT_NE(addTerms(tie, s), s);
  double below[8];
  for (double& x : below) x = 0x1p-27;  // 2^-53
  EXPECT_TRUE(skipped(below, s));
  below[5] = 0x1p-26;
  EXPECT_FALSE(skipped(below, s));
  double zeros[8] = {0, -0.0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(skipped(zeros, 1.0));
}

TEST_P(BandSumSkip, NothingIsSkippedForZeroTinyOrNonFiniteSums) {
  double zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (double s : {0.0, 0x1p-1074, 0x1p-1022, 0x1.fffffffffffffp-1022,
                   std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
    EXPECT_FALSE(skipped(zeros, s)) << s;
  EXPECT_TRUE(skipped(zeros, 0x1p-1021));
}

TEST_P(BandSumSkip, SkippedVectorsLeaveTheSumUnchanged) {
  std::mt19937_64 next(11);
  auto unit = [&] { return static_cast<double>(next() >> 11) * 0x1p-53; };
  long skips = 0, kept = 0;
  for (int n = 0; n < 2000000; ++n) {
    // A sum anywhere in the double range, terms around half its ulp.
    const double s = std::ldexp(1 + unit(), static_cast<int>(next() % 2100) - 1076);
    const double half = std::ldexp(1.0, std::ilogb(s) - 53);
    double w[8];
    for (double& v : w) {
      const double t = half * std::ldexp(1 + unit(), static_cast<int>(next() % 5) - 3);
      v = std::sqrt(t / 2);
      if (next() % 4 == 0) v = std::nextafter(v, next() & 1 ? 0.0 : 1.0);
      if (next() % 2 == 0) v = -v;
    }
    if (skipped(w, s)) {
      ++skips;
      ASSERT_EQ(addTerms(w, s), s) << "sum " << s << " term " << w[0];
    } else {
      ++kept;
    }
  }
  EXPECT_GT(skips, 1000);
  EXPECT_GT(kept, 1000);
}
