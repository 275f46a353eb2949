// The exact divisions of solver/exact_division.h against real division, bit
// for bit, on every instruction-set path.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "solver/cpu_features.h"
#include "solver/exact_division_arrays.h"
#include "state/grid.h"

namespace {

using plume::GridDivisor;
constexpr double kInf = std::numeric_limits<double>::infinity();
using plume::Isa;

std::uint64_t bitsOf(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

double fromBits(std::uint64_t b) {
  double x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

std::string describe(double x) {
  char text[80];
  std::snprintf(text, sizeof text, "%a (0x%016llx)", x,
                static_cast<unsigned long long>(bitsOf(x)));
  return text;
}

struct Divisor {
  GridDivisor id;
  const char* name;
  double value;
};

const Divisor kDivisors[] = {{GridDivisor::H, "H", plume::h},
                             {GridDivisor::TwoH, "TwoH", plume::twoH},
                             {GridDivisor::HH, "HH", plume::hh},
                             {GridDivisor::FourOverHH, "FourOverHH", plume::fourOverHH}};

enum class Path { Avx512, Avx2, ScalarFma, Generic };

const char* pathName(Path p) {
  switch (p) {
    case Path::Avx512: return "Avx512";
    case Path::Avx2: return "Avx2";
    case Path::ScalarFma: return "ScalarFma";
    case Path::Generic: return "Generic";
  }
  return "?";
}

void runPath(Path p, GridDivisor d, const double* x, double* q, std::size_t n) {
  switch (p) {
    case Path::Avx512: return plume::divideArrayAvx512(d, x, q, n);
    case Path::Avx2: return plume::divideArrayAvx2(d, x, q, n);
    case Path::ScalarFma: return plume::divideArrayScalar(d, x, q, n);
    case Path::Generic: return plume::divideArrayGeneric(d, x, q, n);
  }
}

// The reference: a division done by the divide instruction at run time.
std::vector<double> divideReally(const std::vector<double>& x, double d) {
  volatile double divisor = d;
  const double y = divisor;
  std::vector<double> q(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) q[i] = x[i] / y;
  return q;
}

// Adds both signs of x and, if `neighbours`, of the doubles next to it.
void addSigned(std::vector<double>& v, double x, bool neighbours = false) {
  v.push_back(x);
  v.push_back(-x);
  if (neighbours) {
    for (double n : {std::nextafter(x, 0.0), std::nextafter(x, kInf)}) {
      v.push_back(n);
      v.push_back(-n);
    }
  }
}

// x and the `steps` doubles on either side of it, both signs.
void addWalk(std::vector<double>& v, double x, int steps) {
  double below = x, above = x;
  addSigned(v, x);
  for (int k = 0; k < steps; ++k) {
    below = std::nextafter(below, -kInf);
    above = std::nextafter(above, kInf);
    addSigned(v, below);
    addSigned(v, above);
  }
}

constexpr double kCounterexample = 0x1.a9192f534dc4cp+0;  // breaks the split form for h

std::vector<double> specialValues() {
  std::vector<double> v;
  for (double x : {0.0, kInf, 1.0, 2.0, 3.0, 0.5, DBL_MIN, DBL_MAX, DBL_TRUE_MIN,
                   DBL_MIN - DBL_TRUE_MIN, 0x1p-1073, kCounterexample, plume::h, plume::twoH,
                   plume::hh, plume::fourOverHH, 1200.0, 0.25, 1e-300, 1e300})
    addSigned(v, x);
  for (std::uint64_t nan : {0x7ff8000000000000ULL, 0xfff8000000000000ULL, 0x7ff0000000000001ULL,
                            0x7ff4000000000000ULL, 0x7fffffffffffffffULL, 0xffffffffffffffffULL,
                            0x7ff800000001e240ULL, 0xfff0000000abcdefULL})
    v.push_back(fromBits(nan));
  return v;
}

// Both sides of the fast-path bounds, and of the ends of the normal range.
std::vector<double> boundaryValues() {
  std::vector<double> v;
  for (double b : {0x1p-969, 0x1p-989, 0x1p-946, 0x1p+1013, 0x1p+1014, 0x1p-1022, 0x1p+1023,
                   0x1p-970, 0x1p-990, 0x1p-947, 0x1p+1012, 0x1p-968, 0x1p-988, 0x1p-945})
    addWalk(v, b, 16);
  addWalk(v, DBL_MAX, 16);
  addWalk(v, DBL_TRUE_MIN, 16);
  return v;
}

// x whose quotient overflows, lies at the top of the range, or is subnormal.
std::vector<double> extremeQuotients(double d) {
  std::vector<double> v;
  addWalk(v, DBL_MAX * d, 64);
  addWalk(v, 0x1p-1022 * d, 64);
  addWalk(v, 0x1p-1060 * d, 8);
  for (int k = 1; k <= 2000; ++k) addSigned(v, std::ldexp(k * d, -1074), true);
  return v;
}

// Rounded multiples of d and d scaled by powers of two: quotients close to
// representable numbers.
std::vector<double> multiples(double d) {
  std::vector<double> v;
  for (int k = 1; k <= 20000; ++k) addSigned(v, k * d, true);
  for (int e = -1074; e <= 1023; ++e) {
    double x = std::ldexp(d, e);
    if (x != 0 && std::isfinite(x)) addSigned(v, x, true);
  }
  return v;
}

// The integer significand Y of y (y = Y * 2^k, 2^52 <= Y < 2^53).
std::uint64_t significandOf(double y) {
  return (bitsOf(y) & 0x000fffffffffffffULL) | 0x0010000000000000ULL;
}

using U128 = unsigned __int128;

// Significands X of x for which x / y (Y odd) lies within |D| / (2Y) ulp of a
// rounding midpoint (D odd) or of a double (D even), |D| <= maxD: the
// solutions of X * 2^(s+1) = D (mod Y), s = 52 where X >= Y (quotient
// significand in [1, 2)) and s = 53 otherwise. Only these can round wrongly
// when an algorithm is closer to x/y than maxD / (2Y) ulp.
std::vector<std::uint64_t> nearMidpointSignificands(double y, int maxD) {
  const std::uint64_t Y = significandOf(y);
  std::vector<std::uint64_t> found;
  for (int s : {52, 53}) {
    U128 inverse = 1;  // 2^-(s+1) mod Y
    for (int k = 0; k <= s; ++k) inverse = inverse * ((Y + 1) / 2) % Y;
    for (long long D = -maxD; D <= maxD; ++D) {
      U128 residue = static_cast<U128>(D < 0 ? Y - static_cast<std::uint64_t>(-D) : D);
      std::uint64_t X = static_cast<std::uint64_t>(residue * inverse % Y);
      for (; X < (1ULL << 53); X += Y)
        if (X >= (1ULL << 52) && ((s == 52) == (X >= Y))) found.push_back(X);
    }
  }
  return found;
}

const int kHardCaseExponents[] = {-1022, -1000, -990, -989, -988, -980, -975, -970, -969, -968,
                                  -960,  -955,  -947, -946, -945, -500, -60,  -11,  -1,   0,
                                  1,     11,    60,   500,  1002, 1003, 1004, 1012, 1013, 1014,
                                  1023};

std::vector<double> hardCases(double d) {
  std::vector<double> v;
  for (std::uint64_t X : nearMidpointSignificands(d, 2047))
    for (int e : kHardCaseExponents)
      addSigned(v, std::ldexp(static_cast<double>(X), e - 52), true);
  return v;
}

// Random doubles, fixed seed: uniform bit patterns (all exponents, NaNs and
// subnormals included), then significands uniform in [1, 2) scaled to
// exponents near the fast-path bounds and to the magnitudes the solver sees.
const std::vector<double>& randomValues() {
  static const std::vector<double> values = [] {
    std::mt19937_64 rng(20240611);
    std::vector<double> v;
    for (int i = 0; i < 2000000; ++i) v.push_back(fromBits(rng()));
    const int centres[] = {-969, -989, -946, 1013, 1014, -1022, 0};
    std::uniform_int_distribution<int> centre(0, 6), offset(-6, 5), typical(-40, 40);
    for (int i = 0; i < 2000000; ++i) {
      std::uint64_t r = rng();
      int e = (i % 2 == 0) ? centres[centre(rng)] + offset(rng) : typical(rng);
      if (e < -1022) e = -1022;
      std::uint64_t b = (r & 0x800fffffffffffffULL) | (static_cast<std::uint64_t>(e + 1023) << 52);
      v.push_back(fromBits(b));
    }
    return v;
  }();
  return values;
}

bool pathAvailable(Path p) {
  switch (p) {
    case Path::Avx512: return plume::cpuHasAvx512();
    case Path::Avx2:
    case Path::ScalarFma: return plume::cpuHasAvx2Fma();
    case Path::Generic: return true;
  }
  return false;
}

class ExactDivisionPath : public ::testing::TestWithParam<std::tuple<Path, int>> {
 protected:
  void SetUp() override {
    if (!pathAvailable(path())) GTEST_SKIP() << "CPU lacks " << pathName(path());
  }
  Path path() const { return std::get<0>(GetParam()); }
  const Divisor& divisor() const { return kDivisors[std::get<1>(GetParam())]; }

  // Runs the path on x and compares with real division.
  void expectExact(const std::vector<double>& x) {
    std::vector<double> q(x.size());
    runPath(path(), divisor().id, x.data(), q.data(), x.size());
    expectSameBits(x, q, divideReally(x, divisor().value));
  }

  void expectSameBits(const std::vector<double>& x, const std::vector<double>& got,
                      const std::vector<double>& want) {
    std::size_t wrong = 0;
    std::string shown;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (bitsOf(got[i]) == bitsOf(want[i])) continue;
      if (++wrong <= 5)
        shown += "\n  x = " + describe(x[i]) + ": got " + describe(got[i]) + ", x / d is " +
                 describe(want[i]);
    }
    EXPECT_EQ(wrong, 0u) << "of " << x.size() << " values, divisor " << divisor().name << shown;
  }
};

TEST_P(ExactDivisionPath, SpecialValues) { expectExact(specialValues()); }

TEST_P(ExactDivisionPath, NegativeZeroStaysNegative) {
  std::vector<double> x(19, -0.0), q(19, 1.0);
  runPath(path(), divisor().id, x.data(), q.data(), x.size());
  for (double r : q) EXPECT_EQ(bitsOf(r), bitsOf(-0.0)) << describe(r);
}

TEST_P(ExactDivisionPath, FastPathBounds) { expectExact(boundaryValues()); }

TEST_P(ExactDivisionPath, OverflowingAndSubnormalQuotients) {
  expectExact(extremeQuotients(divisor().value));
}

TEST_P(ExactDivisionPath, MultiplesOfTheDivisor) { expectExact(multiples(divisor().value)); }

TEST_P(ExactDivisionPath, QuotientsNearMidpoints) { expectExact(hardCases(divisor().value)); }

TEST_P(ExactDivisionPath, RandomValues) { expectExact(randomValues()); }

// Every pattern of fast and slow lanes in a vector of 8 (and so in each half
// for vectors of 4).
TEST_P(ExactDivisionPath, MixedLanes) {
  const double fast[] = {1.0, -0.0, 0.0, 3.7e-5, -123.25, 0x1p-900, 0x1p+1000, kCounterexample};
  const double slow[] = {kInf,       -kInf,  fromBits(0x7ff8000000000000ULL), DBL_TRUE_MIN,
                         -0x1p-1000, 1e-300, -DBL_MAX, fromBits(0x7ff4000000000001ULL)};
  std::vector<double> x;
  for (unsigned mask = 0; mask < 256; ++mask)
    for (unsigned lane = 0; lane < 8; ++lane)
      x.push_back((mask >> lane & 1) ? slow[(mask + lane) % 8] : fast[(mask / 8 + lane) % 8]);
  expectExact(x);
}

// Lengths that are not whole vectors, unaligned starts, nothing written past
// the end, and division in place.
TEST_P(ExactDivisionPath, ArrayEndsAndInPlace) {
  std::vector<double> source;
  for (int i = 0; i < 40; ++i)
    source.push_back(i % 5 == 3 ? kInf
                                : std::ldexp(1.0 + i / 64.0, i % 7 == 0 ? -1010 : i - 20));
  const std::vector<double> want = divideReally(source, divisor().value);
  const std::uint64_t sentinel = 0x7ff4000000dead00ULL;
  for (std::size_t start = 0; start < 4; ++start) {
    for (std::size_t n = 0; n <= 20; ++n) {
      std::vector<double> q(source.size(), fromBits(sentinel));
      runPath(path(), divisor().id, source.data() + start, q.data() + start, n);
      for (std::size_t i = 0; i < q.size(); ++i) {
        bool written = i >= start && i < start + n;
        EXPECT_EQ(bitsOf(q[i]), written ? bitsOf(want[i]) : sentinel)
            << "start " << start << ", n " << n << ", index " << i;
      }
    }
  }
  std::vector<double> inPlace = source;
  runPath(path(), divisor().id, inPlace.data(), inPlace.data(), inPlace.size());
  expectSameBits(source, inPlace, want);
}

INSTANTIATE_TEST_SUITE_P(ExactDivision, ExactDivisionPath,
                         ::testing::Combine(::testing::Values(Path::Avx512, Path::Avx2,
                                                              Path::ScalarFma, Path::Generic),
                                            ::testing::Range(0, 4)),
                         [](const auto& info) {
                           return std::string(pathName(std::get<0>(info.param))) +
                                  kDivisors[std::get<1>(info.param)].name;
                         });

// ------------------------------------------- the hard cases are the hard ones

TEST(ExactDivisionHardCases, DivisorSignificandsAreOdd) {
  for (const Divisor& d : kDivisors) EXPECT_EQ(significandOf(d.value) % 2, 1u) << d.name;
}

TEST(ExactDivisionHardCases, EnumerationContainsTheKnownCounterexample) {
  const std::uint64_t X = significandOf(kCounterexample);
  bool found = false;
  for (std::uint64_t s : nearMidpointSignificands(plume::h, 3)) found |= s == X;
  EXPECT_TRUE(found);
}

// The split form with h's constants and the uncorrected product x * RN(1/h)
// are both wrong on some enumerated x, so the enumeration does catch
// near-correct algorithms.
TEST(ExactDivisionHardCases, WeakerFormsFailOnThem) {
  const double y = plume::h;
  const double zh = std::nextafter(1 / y, 0.0);
  ASSERT_GT(std::fma(-y, zh, 1.0), 0.0);     // zh < 1/h ...
  ASSERT_LT(std::fma(-y, 1 / y, 1.0), 0.0);  // ... < zh + ulp(zh)
  const double zl = std::fma(-y, zh, 1.0) / y;
  auto split = [&](double x) { return std::fma(x, zh, x * zl); };
  EXPECT_NE(bitsOf(split(kCounterexample)), bitsOf(kCounterexample / y));

  std::vector<double> x = hardCases(y);
  const std::vector<double> want = divideReally(x, y);
  std::size_t splitWrong = 0, productWrong = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    splitWrong += bitsOf(split(x[i])) != bitsOf(want[i]);
    productWrong += bitsOf(x[i] * 1200.0) != bitsOf(want[i]);
  }
  EXPECT_GT(splitWrong, 0u);
  EXPECT_GT(productWrong, x.size() / 10);
}

// ------------------------------------------------------ instruction sets

TEST(ExactDivisionIsa, ParsesThePlumeIsaValues) {
  Isa isa = Isa::Generic;
  EXPECT_TRUE(plume::parseIsa("avx512", isa));
  EXPECT_EQ(isa, Isa::Avx512);
  EXPECT_TRUE(plume::parseIsa("avx2", isa));
  EXPECT_EQ(isa, Isa::Avx2);
  EXPECT_TRUE(plume::parseIsa("generic", isa));
  EXPECT_EQ(isa, Isa::Generic);
  for (const char* bad : {"", "AVX512", "avx", "sse2", "avx512 "}) {
    isa = Isa::Avx2;
    EXPECT_FALSE(plume::parseIsa(bad, isa)) << bad;
    EXPECT_EQ(isa, Isa::Avx2) << bad;
  }
  EXPECT_FALSE(plume::parseIsa(nullptr, isa));
}

TEST(ExactDivisionIsa, CapFallsBackToTheBestAvailable) {
  using plume::chooseIsa;
  EXPECT_EQ(chooseIsa(Isa::Avx512, true, true), Isa::Avx512);
  EXPECT_EQ(chooseIsa(Isa::Avx512, false, true), Isa::Avx2);
  EXPECT_EQ(chooseIsa(Isa::Avx512, false, false), Isa::Generic);
  EXPECT_EQ(chooseIsa(Isa::Avx2, true, true), Isa::Avx2);
  EXPECT_EQ(chooseIsa(Isa::Avx2, false, false), Isa::Generic);
  EXPECT_EQ(chooseIsa(Isa::Generic, true, true), Isa::Generic);
  EXPECT_STREQ(plume::isaName(Isa::Avx512), "avx512");
  EXPECT_STREQ(plume::isaName(Isa::Avx2), "avx2");
  EXPECT_STREQ(plume::isaName(Isa::Generic), "generic");
}

TEST(ExactDivisionIsa, SelectionMatchesThisCpu) {
  if (plume::cpuHasAvx512()) {
    EXPECT_TRUE(plume::cpuHasAvx2Fma());
  }
  Isa cap = Isa::Avx512;
  plume::parseIsa(std::getenv("PLUME_ISA"), cap);
  EXPECT_EQ(plume::selectedIsa(),
            plume::chooseIsa(cap, plume::cpuHasAvx512(), plume::cpuHasAvx2Fma()));
  EXPECT_EQ(plume::selectedIsa(), plume::selectedIsa());
}

}  // namespace
