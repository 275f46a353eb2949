// The exact divisions of solver/exact_division.h against the divide
// instruction, bit for bit, on every instruction-set path this CPU has.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "solver/cpu_features.h"
#include "solver/exact_division_arrays.h"
#include "state/grid.h"

namespace {

using plume::GridDivisor;
constexpr double kInf = INFINITY, kNaN = NAN;
constexpr double kFalseForSplitH = 0x1.a9192f534dc4cp+0;  // the one-FMA form gets x / h wrong
std::uint64_t bitsOf(double x) { return std::bit_cast<std::uint64_t>(x); }

// clang-format off
using Divide = void (*)(GridDivisor, const double*, double*, std::size_t);
struct Path { const char* name; Divide divide; bool available; };
// clang-format on
const Path kPaths[] = {{"Avx512", plume::divideArrayAvx512, plume::cpuHasAvx512()},
                       {"Avx2", plume::divideArrayAvx2, plume::cpuHasAvx2Fma()},
                       {"ScalarFma", plume::divideArrayScalar, plume::cpuHasAvx2Fma()},
                       {"Generic", plume::divideArrayGeneric, true}};
// clang-format off
const struct { GridDivisor id; const char* name; double value; } kDivisors[] = {
    {GridDivisor::H, "H", 1.0 / 1200}, {GridDivisor::TwoH, "TwoH", 2 * (1.0 / 1200)},
    {GridDivisor::HH, "HH", (1.0 / 1200) * (1.0 / 1200)},
    {GridDivisor::FourOverHH, "FourOverHH", 4 / ((1.0 / 1200) * (1.0 / 1200))}};
// clang-format on

// x, -x and, with `walk`, the `walk` doubles on either side of both.
void add(std::vector<double>& v, double x, int walk = 0) {
  double below = x, above = x;
  for (int k = 0; k <= walk;
       ++k, below = std::nextafter(below, -kInf), above = std::nextafter(above, kInf))
    for (double y : {below, above}) v.insert(v.end(), {y, -y});
}

// Significands X (2^52 <= X < 2^53) whose quotient by y (odd significand Y)
// lies within |D| / (2Y) ulp of a rounding midpoint (D odd) or of a double
// (D even), |D| <= maxD: X * 2^(s+1) = D (mod Y), s = 52 where X >= Y and 53
// otherwise. Only these can round wrongly in an algorithm closer to x / y
// than maxD / (2Y) ulp.
std::vector<std::uint64_t> nearMidpointSignificands(double y, int maxD) {
  const std::uint64_t Y = (bitsOf(y) & 0xfffffffffffffULL) | (1ULL << 52);
  std::vector<std::uint64_t> found;
  for (int s : {52, 53}) {
    unsigned __int128 inverse = 1;  // 2^-(s+1) mod Y
    for (int k = 0; k <= s; ++k) inverse = inverse * ((Y + 1) / 2) % Y;
    for (long long D = -maxD; D <= maxD; ++D) {
      unsigned __int128 residue = D < 0 ? Y - std::uint64_t(-D) : std::uint64_t(D);
      for (std::uint64_t X = std::uint64_t(residue * inverse % Y); X < (1ULL << 53); X += Y)
        if (X >= (1ULL << 52) && (s == 52) == (X >= Y)) found.push_back(X);
    }
  }
  return found;
}

// The hard significands at exponents across the fast-path range and its ends.
std::vector<double> hardCases(double d) {
  std::vector<double> v;
  for (std::uint64_t X : nearMidpointSignificands(d, 2047))
    for (int e :
         {-1022, -990, -989, -970, -969, -947, -946, -60, -1, 0, 11, 1012, 1013, 1014, 1023})
      add(v, std::ldexp(double(X), e - 52), 1);
  return v;
}

// Zeros of both signs (the mirror rows hold -0), infinities, NaNs, both sides of every fast-path
// bound and of the ends of the double range, quotients that overflow or are subnormal, multiples of
// d, and random bit patterns and magnitudes.
std::vector<double> edgeCases(double d) {
  std::vector<double> v;
  for (double x :
       {0.0, kInf, kNaN, 1.0, 3.0, d, kFalseForSplitH, 1200.0, DBL_MIN, DBL_MAX, DBL_TRUE_MIN})
    add(v, x);
  for (std::uint64_t nan : {0x7ff0000000000001ULL, 0x7ff4000000000000ULL, 0xfff0000000abcdefULL})
    v.push_back(std::bit_cast<double>(nan));
  for (double b :
       {0x1p-969, 0x1p-989, 0x1p-946, 0x1p+1013, 0x1p+1014, 0x1p-1022, DBL_MAX, DBL_TRUE_MIN})
    add(v, b, 16);
  add(v, DBL_MAX * d, 64);
  add(v, 0x1p-1022 * d, 64);
  for (int k = 1; k <= 2000; ++k) add(v, std::ldexp(k * d, -1074), 1);
  for (int k = 1; k <= 20000; ++k) add(v, k * d, 1);
  for (int e = -1074; e <= 1023; ++e) add(v, std::ldexp(d, e), 1);
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 200000; ++i) {
    v.push_back(std::bit_cast<double>(rng()));
    int e = i % 2 ? int(rng() % 81) - 40 : int(rng() % 2100) - 1060;
    v.push_back(std::ldexp(1 + double(rng() >> 11) * 0x1p-53, e));
  }
  return v;
}

void expectPathEqualsTheDivideInstruction(const Path& p) {
  if (!p.available)
    GTEST_SKIP() << "the " << p.name << " path is not run: this CPU lacks its instructions";
  for (const auto& d : kDivisors) {
    SCOPED_TRACE(std::string(p.name) + " " + d.name);
    std::vector<double> x = edgeCases(d.value), hard = hardCases(d.value);
    x.insert(x.end(), hard.begin(), hard.end());
    // Every pattern of fast and slow lanes in a vector of eight.
    const double fast[] = {1.0, -0.0, 0.0, 3.7e-5, -123.25, 0x1p-900, 0x1p+1000, kFalseForSplitH};
    const double slow[] = {kInf,       -kInf,  kNaN,     DBL_TRUE_MIN,
                           -0x1p-1000, 1e-300, -DBL_MAX, 0x1p-1060};
    for (unsigned mask = 0; mask < 256; ++mask)
      for (unsigned lane = 0; lane < 8; ++lane)
        x.push_back(mask >> lane & 1 ? slow[(mask + lane) % 8] : fast[(mask / 8 + lane) % 8]);
    std::vector<double> q(x.size());
    p.divide(d.id, x.data(), q.data(), x.size());
    volatile double divisor = d.value;  // the divide instruction at run time
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
      if (bitsOf(q[i]) != bitsOf(x[i] / divisor) && ++wrong <= 3)
        ADD_FAILURE() << "x = " << std::hexfloat << x[i] << ": " << q[i] << ", not "
                      << x[i] / divisor;
    EXPECT_EQ(wrong, 0u) << "of " << x.size();
    for (std::size_t n = 0; n <= 17;
         ++n) {  // short arrays, unaligned: nothing written past the end
      std::vector<double> out(n + 2, 7.0);
      p.divide(d.id, x.data() + 1, out.data() + 1, n);
      EXPECT_TRUE(out[0] == 7 && out[n + 1] == 7 && std::memcmp(&out[1], &q[1], n * 8) == 0) << n;
    }
  }
}

}  // namespace

TEST(ExactDivision, Avx512Path) { expectPathEqualsTheDivideInstruction(kPaths[0]); }
TEST(ExactDivision, Avx2Path) { expectPathEqualsTheDivideInstruction(kPaths[1]); }
TEST(ExactDivision, ScalarFmaPath) { expectPathEqualsTheDivideInstruction(kPaths[2]); }
TEST(ExactDivision, GenericPath) { expectPathEqualsTheDivideInstruction(kPaths[3]); }

// The hard cases are the hard ones: the one-FMA form with h's split
// reciprocal and the uncorrected product x * RN(1/h) both fail on some.
TEST(ExactDivision, WeakerFormsFailOnTheHardCases) {
  const double y = 1.0 / 1200, zh = std::nextafter(1 / y, 0.0), zl = std::fma(-y, zh, 1.0) / y;
  auto split = [&](double x) { return std::fma(x, zh, x * zl); };
  EXPECT_EQ(bitsOf(split(kFalseForSplitH)) + 1, bitsOf(kFalseForSplitH / y));
  std::size_t splitWrong = 0, productWrong = 0;
  std::vector<double> x = hardCases(y);
  for (double v : x) {
    splitWrong += bitsOf(split(v)) != bitsOf(v / y);
    productWrong += bitsOf(v * 1200.0) != bitsOf(v / y);
  }
  EXPECT_GT(splitWrong, 0u);
  EXPECT_GT(productWrong, x.size() / 10);
}
