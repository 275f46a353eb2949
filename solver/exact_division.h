// Division by the grid constants h, 2h, h*h and 4/(h*h) without a divide
// instruction. divByH(x), divByTwoH(x), divByHH(x) and divByFourOverHH(x)
// return the bits of x / h, x / twoH, x / hh and x / fourOverHH for every
// double x: zeros of either sign, subnormals, infinities and NaNs included.
// Rounding must be to nearest with FTZ/DAZ off, as everywhere in plume.
//
// Two forms, y the divisor:
//  * Correction (h, 2h). z = RN(1/y); q0 = RN(x*z); r = q0*y - x by one FMA;
//    q = RN(q0 - r*z) by one FMA. q0 is within one ulp of x/y, so r is a
//    representable number and the FMA gives it exactly, provided its bits
//    stay above 2^-1074: that needs |x| >= 2^-969. Then q0 - r*z differs from
//    x/y by r*(1/y - z), less than 2^-51 ulp of the quotient.
//  * Split reciprocal (h*h, 4/(h*h)). zh = 1/y rounded down, zl = RN(1/y - zh);
//    q = RN(x*zh + RN(x*zl)) by one multiplication and one FMA. zh + zl is
//    within 2^-106 of 1/y relative and, while x*zl is normal (the lower
//    bound of |x|), RN(x*zl) is off by less than 2^-105 of x/y: together
//    less than 2^-51 ulp. No upper bound: x*zh is not rounded inside the
//    FMA, so an overflowing quotient becomes inf exactly when x / y does.
//    This form is wrong for h and 2h (x = 0x1.a9192f534dc4cp+0 gives
//    0x1.f22983759f228p+10, x / h is ...229p+10), hence the correction there.
// Why that is enough: with Y the odd integer significand of y, x/y lies
// |D|/(2Y) ulp from the nearest rounding midpoint, D a non-zero odd integer,
// so only |D| < 16 could round the wrong way. The significands X of x giving
// a particular D solve X*2^k = D (mod Y), k fixed by the quotient's binade:
// at most two per D. All were enumerated and each gives the correctly
// rounded quotient (tests/exact_division_test.cpp repeats this for |D| up
// to 2047). Inside the ranges below every step scales by exact powers of
// two, so one binade of x stands for all of them.
//
// Fast path, everything else goes to a real division:
//   h            2^-969 <= |x| < 2^1013   (x*z must not overflow)
//   2h           2^-969 <= |x| < 2^1014
//   h*h          2^-989 <= |x|
//   4/(h*h)      2^-946 <= |x|
// and x = +-0, whose sign the fast path keeps. The split form also takes
// infinities and NaNs: x*zl is then x itself (quieted), and the FMA returns
// it, as the division does. The vector forms test all lanes with one
// compare and divide only if some lane is outside.
//
// Overloads: __m512d (AVX-512F), __m256d (AVX2 + FMA) and double. The double
// form uses FMA where the translation unit is compiled with it and is a plain
// x / y otherwise (FMA emulated in software would be far slower). Everything
// sits in an anonymous namespace: each file keeps the code built for its own
// instruction set.
#pragma once

#include <immintrin.h>

#include "state/grid.h"

namespace plume {
namespace {
namespace exact_division {

// ---------------------------------------------------------------- constants

// Correction form: z = RN(1/y).
constexpr double kRecipH = 0x1.2cp+10;
constexpr double kRecipTwoH = 0x1.2cp+9;
static_assert(kRecipH == 1 / h);
static_assert(kRecipTwoH == 1 / twoH);

// Split reciprocals: zh = 1/y rounded down, zl = RN(1/y - zh).
constexpr double kRecipHHHigh = 0x1.5f8fffffffffep+20;
constexpr double kRecipHHLow = 0x1.8574270000002p-33;
constexpr double kRecipFourOverHHHigh = 0x1.74d3b7ba75828p-23;
constexpr double kRecipFourOverHHLow = 0x1.7e0a9a404b045p-76;

// Exact arithmetic for the checks below (Dekker's product, Knuth's sum).
struct Pair {
  double hi, lo;
};
constexpr Pair split(double a) {
  double c = 0x1.0000002p+27 * a;  // 2^27 + 1
  double hi = c - (c - a);
  return {hi, a - hi};
}
constexpr Pair exactProduct(double a, double b) {
  Pair x = split(a), y = split(b);
  double p = a * b;
  return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}
constexpr Pair exactSum(double a, double b) {
  double s = a + b;
  double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}
// 1 - y*zh computed without rounding (error term of the last step zero).
constexpr double reciprocalRemainder(double y, double zh) {
  Pair p = exactProduct(y, zh);
  Pair e = exactSum(1 - p.hi, -p.lo);  // 1 - p.hi is exact: p.hi is near 1
  return e.lo == 0 ? e.hi : -1.0;
}
// zh < 1/y < zh + ulp(zh), and zl = RN((1 - y*zh)/y) = RN(1/y - zh).
constexpr bool splitReciprocalIsRight(double y, double zh, double ulpZh, double zl) {
  double rem = reciprocalRemainder(y, zh);
  return rem > 0 && rem < y * ulpZh && zl == rem / y;
}
static_assert(splitReciprocalIsRight(hh, kRecipHHHigh, 0x1p-32, kRecipHHLow));
static_assert(
    splitReciprocalIsRight(fourOverHH, kRecipFourOverHHHigh, 0x1p-75, kRecipFourOverHHLow));

// Fast-path bounds of |x|.
// Correction form: r's bits reach down to ulp(q0)*ulp(y), at least 2^-1074
// when q0 >= 2^-959 (h: ulp(y) = 2^-63) or q0 >= 2^-960 (2h: 2^-62).
constexpr double kMinH = 0x1p-969;
constexpr double kMinTwoH = 0x1p-969;
static_assert(kMinH * kRecipH >= 0x1p-959 && kMinTwoH * kRecipTwoH >= 0x1p-960);
// x*z and q0*y stay finite.
constexpr double kMaxH = 0x1p+1013;
constexpr double kMaxTwoH = 0x1p+1014;
static_assert(kMaxH * kRecipH < 0x1.fffffffffffffp+1023);
static_assert(kMaxTwoH * kRecipTwoH < 0x1.fffffffffffffp+1023);
// Split form: x*zl stays normal, so its rounding error is relative.
constexpr double kMinHH = 0x1p-989;
constexpr double kMinFourOverHH = 0x1p-946;
static_assert(kMinHH * kRecipHHLow >= 0x1p-1022);
static_assert(kMinFourOverHH * kRecipFourOverHHLow >= 0x1p-1022);
// ... and the quotient is normal.
static_assert(kMinFourOverHH / fourOverHH >= 0x1p-1022);

constexpr unsigned long long bitsOf(double x) { return __builtin_bit_cast(unsigned long long, x); }
// The argument above counts on odd divisor significands.
static_assert((bitsOf(h) & bitsOf(twoH) & bitsOf(hh) & bitsOf(fourOverHH) & 1) == 1);
constexpr unsigned long long kAbsMask = 0x7fffffffffffffffULL;

// |x| is on the fast path when its bits minus lo's bits are below span
// (unsigned), or when it is zero.
struct Range {
  unsigned long long lo, span;
};
constexpr Range rangeOf(double lo, unsigned long long hiBits) {
  return {bitsOf(lo), hiBits - bitsOf(lo)};
}
constexpr Range kRangeH = rangeOf(kMinH, bitsOf(kMaxH));
constexpr Range kRangeTwoH = rangeOf(kMinTwoH, bitsOf(kMaxTwoH));
// Split form: the lanes off the fast path are those with 0 < |x| < floor, or
// bits(|x|) - 1 < bits(floor) - 1 unsigned (zero wraps round to the top).
constexpr unsigned long long kFloorHH = bitsOf(kMinHH);
constexpr unsigned long long kFloorFourOverHH = bitsOf(kMinFourOverHH);

// ------------------------------------------------------------------ AVX-512

#if defined(__AVX512F__)
inline __mmask8 outside(__m512d x, Range range) {
  const __m512i a = _mm512_and_si512(_mm512_castpd_si512(x), _mm512_set1_epi64(kAbsMask));
  const __mmask8 nonzero = _mm512_test_epi64_mask(a, a);
  const __m512i off = _mm512_sub_epi64(a, _mm512_set1_epi64(range.lo));
  return _mm512_mask_cmp_epu64_mask(nonzero, off, _mm512_set1_epi64(range.span), _MM_CMPINT_NLT);
}

inline __mmask8 belowFloor(__m512d x, unsigned long long floor) {
  const __m512i a = _mm512_and_si512(_mm512_castpd_si512(x), _mm512_set1_epi64(kAbsMask));
  const __m512i below = _mm512_sub_epi64(a, _mm512_set1_epi64(1));
  return _mm512_cmp_epu64_mask(below, _mm512_set1_epi64(floor - 1), _MM_CMPINT_LT);
}

inline __m512d divideLanes(__mmask8 bad, __m512d q, __m512d x, double y) {
  if (__builtin_expect(bad != 0, 0)) q = _mm512_mask_div_pd(q, bad, x, _mm512_set1_pd(y));
  return q;
}

inline __m512d correctionFast(__m512d x, double y, double z) {
  const __m512d vy = _mm512_set1_pd(y), vz = _mm512_set1_pd(z);
  const __m512d q0 = _mm512_mul_pd(x, vz);
  __m512d r = _mm512_fmsub_pd(q0, vy, x);
  asm("" : "+v"(r));  // keep q0 - r*z as written: x = -0 must give -0
  return _mm512_fnmadd_pd(r, vz, q0);
}

inline __m512d correction(__m512d x, double y, double z, Range range) {
  return divideLanes(outside(x, range), correctionFast(x, y, z), x, y);
}

inline __m512d splitReciprocalFast(__m512d x, double zh, double zl) {
  const __m512d low = _mm512_mul_pd(x, _mm512_set1_pd(zl));
  return _mm512_fmadd_pd(x, _mm512_set1_pd(zh), low);
}

inline __m512d splitReciprocal(__m512d x, double y, double zh, double zl,
                               unsigned long long floor) {
  return divideLanes(belowFloor(x, floor), splitReciprocalFast(x, zh, zl), x, y);
}
#endif

// --------------------------------------------------------------------- AVX2

#if defined(__AVX2__) && defined(__FMA__)
// Lanes on the fast path. The unsigned range compare is a signed compare of
// values offset by 2^63.
inline __m256d inside(__m256d x, Range range) {
  const __m256i a = _mm256_and_si256(_mm256_castpd_si256(x), _mm256_set1_epi64x(kAbsMask));
  const __m256i off = _mm256_add_epi64(a, _mm256_set1_epi64x(0x8000000000000000ULL - range.lo));
  const long long limit = static_cast<long long>(range.span + 0x8000000000000000ULL);
  const __m256i near = _mm256_cmpgt_epi64(_mm256_set1_epi64x(limit), off);
  const __m256i zero = _mm256_cmpeq_epi64(a, _mm256_setzero_si256());
  return _mm256_castsi256_pd(_mm256_or_si256(near, zero));
}

inline __m256d slowLanes(__m256d q, __m256d x, double y, Range range) {
  const __m256d fast = inside(x, range);
  if (__builtin_expect(_mm256_movemask_pd(fast) != 0xf, 0))
    q = _mm256_blendv_pd(_mm256_div_pd(x, _mm256_set1_pd(y)), q, fast);
  return q;
}

// Lanes with 0 < |x| < floor: a - 1 < floor - 1 unsigned, a signed compare
// of a - 1 + 2^63 = a + (2^63 - 1).
inline __m256d belowFloor(__m256d x, unsigned long long floor) {
  const __m256i a = _mm256_and_si256(_mm256_castpd_si256(x), _mm256_set1_epi64x(kAbsMask));
  const __m256i off = _mm256_add_epi64(a, _mm256_set1_epi64x(0x7fffffffffffffffLL));
  const long long limit = static_cast<long long>(floor - 1 + 0x8000000000000000ULL);
  return _mm256_castsi256_pd(_mm256_cmpgt_epi64(_mm256_set1_epi64x(limit), off));
}

inline __m256d correctionFast(__m256d x, double y, double z) {
  const __m256d vy = _mm256_set1_pd(y), vz = _mm256_set1_pd(z);
  const __m256d q0 = _mm256_mul_pd(x, vz);
  __m256d r = _mm256_fmsub_pd(q0, vy, x);
  asm("" : "+x"(r));  // keep q0 - r*z as written: x = -0 must give -0
  return _mm256_fnmadd_pd(r, vz, q0);
}

inline __m256d correction(__m256d x, double y, double z, Range range) {
  return slowLanes(correctionFast(x, y, z), x, y, range);
}

inline __m256d splitReciprocalFast(__m256d x, double zh, double zl) {
  const __m256d low = _mm256_mul_pd(x, _mm256_set1_pd(zl));
  return _mm256_fmadd_pd(x, _mm256_set1_pd(zh), low);
}

inline __m256d splitReciprocal(__m256d x, double y, double zh, double zl,
                               unsigned long long floor) {
  const __m256d q = splitReciprocalFast(x, zh, zl);
  const __m256d bad = belowFloor(x, floor);
  if (__builtin_expect(!_mm256_testz_pd(bad, bad), 0))
    return _mm256_blendv_pd(q, _mm256_div_pd(x, _mm256_set1_pd(y)), bad);
  return q;
}
#endif

// ------------------------------------------------------------------- scalar

#if defined(__FMA__)
inline bool inside(double x, Range range) {
  const unsigned long long a = bitsOf(x) & kAbsMask;
  return (a - range.lo < range.span) | (a == 0);
}

inline double correction(double x, double y, double z, Range range) {
  if (__builtin_expect(!inside(x, range), 0)) return x / y;
  const double q0 = x * z;
  double r = __builtin_fma(q0, y, -x);  // one vfmsub: __FMA__ is defined
  // GCC 12 otherwise folds the negation of r into this FMA and turns -0 into +0.
  asm("" : "+x"(r));
  return __builtin_fma(-r, z, q0);
}

inline double splitReciprocal(double x, double y, double zh, double zl,
                              unsigned long long floor) {
  if (__builtin_expect((bitsOf(x) & kAbsMask) - 1 < floor - 1, 0)) return x / y;
  return __builtin_fma(x, zh, x * zl);
}
#endif

}  // namespace exact_division

// ------------------------------------------------------------ the divisions

// One set for every type the forms above exist for (__m512d, __m256d, and
// double when FMA is available).
template <class V>
inline V divByH(V x) {
  using namespace exact_division;
  return correction(x, h, kRecipH, kRangeH);
}
template <class V>
inline V divByTwoH(V x) {
  using namespace exact_division;
  return correction(x, twoH, kRecipTwoH, kRangeTwoH);
}
template <class V>
inline V divByHH(V x) {
  using namespace exact_division;
  return splitReciprocal(x, hh, kRecipHHHigh, kRecipHHLow, kFloorHH);
}
template <class V>
inline V divByFourOverHH(V x) {
  using namespace exact_division;
  return splitReciprocal(x, fourOverHH, kRecipFourOverHHHigh, kRecipFourOverHHLow,
                         kFloorFourOverHH);
}

// The fast path alone (vector types only), for a caller that has proven
// every lane inside its range or +-0: there it is what the checked form
// returns.
template <class V>
inline V divByHInRange(V x) {
  using namespace exact_division;
  return correctionFast(x, h, kRecipH);
}
// x / (4h) for x = +-0 or 2^-967 <= |x| < 2^1015, where x * 0.25 is exact:
// the bits of (x * 0.25) / h. 4h and 1/(4h) = RN(1/h) / 4 scale each step of
// the correction form for x/4 and h by a power of two, exactly.
template <class V>
inline V divByFourHInRange(V x) {
  using namespace exact_division;
  return correctionFast(x, 4 * h, kRecipH / 4);
}
template <class V>
inline V divByHHInRange(V x) {
  using namespace exact_division;
  return splitReciprocalFast(x, kRecipHHHigh, kRecipHHLow);
}

#if !defined(__FMA__)
// Without FMA the scalar quotient is the division itself (preferred over the
// templates for double).
inline double divByH(double x) { return x / h; }
inline double divByTwoH(double x) { return x / twoH; }
inline double divByHH(double x) { return x / hh; }
inline double divByFourOverHH(double x) { return x / fourOverHH; }
#endif

}  // namespace
}  // namespace plume
