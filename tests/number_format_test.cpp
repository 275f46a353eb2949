// Numbers as the program prints them: general notation with six significant
// digits, two or more exponent digits, and '.' whatever the locale.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "output/number_format.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

const double kValues[] = {0.0,
                          -0.0,
                          0.5,
                          -2.5,
                          100000,
                          123456,
                          123456.7,
                          999999.4,
                          999999.5,
                          1e6,
                          1234567,
                          1e15,
                          1e100,
                          1e-4,
                          9.99999e-5,
                          9.999995e-5,
                          1.5e-5,
                          0.0001234567,
                          1e-300,
                          5e-324,
                          std::numeric_limits<double>::max(),
                          -std::numeric_limits<double>::max(),
                          2.0 / 3,
                          0.1 + 0.2,
                          -1e-7,
                          -2879999.9999999995,
                          0.0016666666666666668};

}  // namespace

TEST(NumberFormat, WrittenAsTheGeneralSixDigitNotation) {
  EXPECT_EQ(formatNumber(0.0), "0");
  EXPECT_EQ(formatNumber(0.5), "0.5");
  EXPECT_EQ(formatNumber(100000), "100000");
  EXPECT_EQ(formatNumber(1e6), "1e+06");
  EXPECT_EQ(formatNumber(1.5e-5), "1.5e-05");
  EXPECT_EQ(formatNumber(999999.5), "1e+06");
  EXPECT_EQ(formatNumber(1e100), "1e+100");
  EXPECT_EQ(formatNumber(-0.0), "-0");
  for (double v : kValues) EXPECT_EQ(formatNumber(v), cFormat("%g", v)) << cFormat("%.17g", v);
}

TEST(NumberFormat, AgreesWithPrintfOverManyMagnitudes) {
  std::mt19937_64 gen(81);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-310, 308);
  int faults = 0;
  for (int n = 0; n < 20000; ++n) {
    double v = mantissa(gen) * std::pow(10.0, exponent(gen));
    if (!std::isfinite(v)) continue;
    std::string got = formatNumber(v), want = cFormat("%g", v);
    if (got != want && ++faults <= 5) ADD_FAILURE() << cFormat("%.17g", v) << ": " << got << " vs " << want;
  }
  EXPECT_EQ(faults, 0);
}

TEST(NumberFormat, NonFiniteValues) {
  EXPECT_EQ(formatNumber(INFINITY), "inf");
  EXPECT_EQ(formatNumber(-INFINITY), "-inf");
  EXPECT_EQ(formatNumber(std::fabs(NAN)), "nan");
  EXPECT_EQ(formatNumber(-std::fabs(NAN)), "-nan");
}

TEST(NumberFormat, PointWhateverTheLocale) {
  CommaLocale locale;
  if (locale.name().empty()) GTEST_SKIP() << "no locale with a decimal comma available";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", 0.5);
  ASSERT_STREQ(buf, "0,5") << "the locale " << locale.name() << " is not in force";
  for (double v : kValues) EXPECT_EQ(formatNumber(v), cFormat("%g", v));
  std::string s;
  appendNumber(s, 0.71);
  EXPECT_EQ(s, "0.71");
}
