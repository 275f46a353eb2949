// The instruction-set layer of the kernels: Vec holds eight doubles, one per
// lane; with AVX-512 one zmm register, with AVX2 two ymm registers (lanes
// 0-3 and 4-7), otherwise eight plain doubles. Every arithmetic operation is
// one IEEE operation per lane, so a lane gives the bits of the scalar
// expression; the rest moves values between lanes and memory unchanged.
// Lane masks are the low eight bits of an unsigned, bit k for lane k.
//
// Included only by the kernel files; the anonymous namespace keeps each
// file's copy apart, so code built for one instruction set never stands in
// for another's.
#pragma once

#include <immintrin.h>

#include "solver/exact_division.h"

namespace plume {
namespace {

constexpr int kLanes = 8;
using Mask = unsigned;
constexpr Mask kAllLanes = 0xFF;

#if defined(__AVX512F__)

using Vec = __m512d;
inline Vec vload(const double* p) { return _mm512_loadu_pd(p); }
inline Vec vloadAligned(const double* p) { return _mm512_load_pd(p); }
// Lanes outside m are 0 and their memory is not touched.
inline Vec vloadMasked(Mask m, const double* p) { return _mm512_maskz_loadu_pd(__mmask8(m), p); }
inline void vstore(double* p, Vec v) { _mm512_storeu_pd(p, v); }
inline void vstoreAligned(double* p, Vec v) { _mm512_store_pd(p, v); }
inline void vstoreMasked(double* p, Mask m, Vec v) { _mm512_mask_storeu_pd(p, __mmask8(m), v); }
inline Vec vset(double x) { return _mm512_set1_pd(x); }
inline Vec vadd(Vec a, Vec b) { return _mm512_add_pd(a, b); }
inline Vec vsub(Vec a, Vec b) { return _mm512_sub_pd(a, b); }
inline Vec vmul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
inline Vec vdiv(Vec a, Vec b) { return _mm512_div_pd(a, b); }
// a*b + c rounded once.
inline Vec vmulAdd(Vec a, Vec b, Vec c) { return _mm512_fmadd_pd(a, b, c); }
inline Vec vabs(Vec a) { return _mm512_abs_pd(a); }
// max(a, b), min(a, b) as the instructions give them: b where both are zeros.
inline Vec vmax(Vec a, Vec b) { return _mm512_max_pd(a, b); }
inline Vec vmin(Vec a, Vec b) { return _mm512_min_pd(a, b); }
// Lane k: b where bit k of m is set, else a.
inline Vec vselect(Mask m, Vec a, Vec b) { return _mm512_mask_mov_pd(a, __mmask8(m), b); }
// Lanes where a == b, a < b, a <= b (false for NaN).
inline Mask vequal(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
inline Mask vless(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
inline Mask vatMost(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
// Lanes where a is 0 or within [lo, hi] (false for NaN).
inline Mask vzeroOrWithin(Vec a, Vec lo, Vec hi) {
  const __mmask8 inside = _mm512_cmp_pd_mask(lo, a, _CMP_LE_OQ);
  const __mmask8 zero = _mm512_cmp_pd_mask(a, _mm512_setzero_pd(), _CMP_EQ_OQ);
  return _mm512_cmp_pd_mask(a, hi, _CMP_LE_OQ) & (inside | zero);
}
// Lanes in m: a / b; the others: q (no division where m is clear).
inline Vec vdivWhere(Mask m, Vec q, Vec a, Vec b) {
  return _mm512_mask_div_pd(q, __mmask8(m), a, b);
}

// Transposes an 8 x 8 block held as eight rows.
inline void transpose8(Vec r[8]) {
  const __m512i lo = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i hi = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  const __m512i first = _mm512_set_epi64(11, 10, 9, 8, 3, 2, 1, 0);
  const __m512i second = _mm512_set_epi64(15, 14, 13, 12, 7, 6, 5, 4);
  Vec t[8], u[8];
  for (int p = 0; p < 8; p += 2) {
    t[p] = _mm512_unpacklo_pd(r[p], r[p + 1]);
    t[p + 1] = _mm512_unpackhi_pd(r[p], r[p + 1]);
  }
  for (int p = 0; p < 8; p += 4) {
    u[p] = _mm512_permutex2var_pd(t[p], lo, t[p + 2]);
    u[p + 1] = _mm512_permutex2var_pd(t[p + 1], lo, t[p + 3]);
    u[p + 2] = _mm512_permutex2var_pd(t[p], hi, t[p + 2]);
    u[p + 3] = _mm512_permutex2var_pd(t[p + 1], hi, t[p + 3]);
  }
  for (int p = 0; p < 4; ++p) {
    r[p] = _mm512_permutex2var_pd(u[p], first, u[p + 4]);
    r[p + 4] = _mm512_permutex2var_pd(u[p], second, u[p + 4]);
  }
}

// Lane k takes lane k+1 of v; lane 7 takes lane s of fill.
inline Vec shiftDown(Vec v, Vec fill, int s) {
  const __m512i idx = _mm512_add_epi64(_mm512_set_epi64(8, 7, 6, 5, 4, 3, 2, 1),
                                       _mm512_set_epi64(s, 0, 0, 0, 0, 0, 0, 0));
  return _mm512_permutex2var_pd(v, idx, fill);
}

// Lane k takes lane k-1 of v; lane 0 takes lane s of fill.
inline Vec shiftUp(Vec v, Vec fill, int s) {
  const __m512i idx = _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 8 + s);
  return _mm512_permutex2var_pd(v, idx, fill);
}

// As shiftDown and shiftUp, with the lane coming in given as a double.
inline Vec shiftDownIn(Vec v, double in) {
  return _mm512_permutex2var_pd(v, _mm512_set_epi64(8, 7, 6, 5, 4, 3, 2, 1), _mm512_set1_pd(in));
}
inline Vec shiftUpIn(Vec v, double in) {
  return _mm512_permutex2var_pd(v, _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 8), _mm512_set1_pd(in));
}

#elif defined(__AVX2__)

struct Vec {
  __m256d lo, hi;  // lanes 0-3, 4-7
};

// The four bits of m for one half as a vector mask (all ones where set).
inline __m256i halfMask(Mask m) {
  const __m256i bit = _mm256_set_epi64x(8, 4, 2, 1);
  return _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_set1_epi64x(m & 0xF), bit), bit);
}
inline Mask maskOf(__m256d lo, __m256d hi) {
  return Mask(_mm256_movemask_pd(lo)) | Mask(_mm256_movemask_pd(hi)) << 4;
}

inline Vec vload(const double* p) { return {_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)}; }
inline Vec vloadAligned(const double* p) { return {_mm256_load_pd(p), _mm256_load_pd(p + 4)}; }
inline Vec vloadMasked(Mask m, const double* p) {
  return {_mm256_maskload_pd(p, halfMask(m)), _mm256_maskload_pd(p + 4, halfMask(m >> 4))};
}
inline void vstore(double* p, Vec v) {
  _mm256_storeu_pd(p, v.lo);
  _mm256_storeu_pd(p + 4, v.hi);
}
inline void vstoreAligned(double* p, Vec v) {
  _mm256_store_pd(p, v.lo);
  _mm256_store_pd(p + 4, v.hi);
}
inline void vstoreMasked(double* p, Mask m, Vec v) {
  _mm256_maskstore_pd(p, halfMask(m), v.lo);
  _mm256_maskstore_pd(p + 4, halfMask(m >> 4), v.hi);
}
inline Vec vset(double x) { return {_mm256_set1_pd(x), _mm256_set1_pd(x)}; }
inline Vec vadd(Vec a, Vec b) { return {_mm256_add_pd(a.lo, b.lo), _mm256_add_pd(a.hi, b.hi)}; }
inline Vec vsub(Vec a, Vec b) { return {_mm256_sub_pd(a.lo, b.lo), _mm256_sub_pd(a.hi, b.hi)}; }
inline Vec vmul(Vec a, Vec b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
inline Vec vdiv(Vec a, Vec b) { return {_mm256_div_pd(a.lo, b.lo), _mm256_div_pd(a.hi, b.hi)}; }
inline Vec vmulAdd(Vec a, Vec b, Vec c) {
  return {_mm256_fmadd_pd(a.lo, b.lo, c.lo), _mm256_fmadd_pd(a.hi, b.hi, c.hi)};
}
inline Vec vabs(Vec a) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  return {_mm256_andnot_pd(sign, a.lo), _mm256_andnot_pd(sign, a.hi)};
}
inline Vec vmax(Vec a, Vec b) { return {_mm256_max_pd(a.lo, b.lo), _mm256_max_pd(a.hi, b.hi)}; }
inline Vec vmin(Vec a, Vec b) { return {_mm256_min_pd(a.lo, b.lo), _mm256_min_pd(a.hi, b.hi)}; }
inline Vec vselect(Mask m, Vec a, Vec b) {
  return {_mm256_blendv_pd(a.lo, b.lo, _mm256_castsi256_pd(halfMask(m))),
          _mm256_blendv_pd(a.hi, b.hi, _mm256_castsi256_pd(halfMask(m >> 4)))};
}
inline Mask vequal(Vec a, Vec b) {
  return maskOf(_mm256_cmp_pd(a.lo, b.lo, _CMP_EQ_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_EQ_OQ));
}
inline Mask vless(Vec a, Vec b) {
  return maskOf(_mm256_cmp_pd(a.lo, b.lo, _CMP_LT_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_LT_OQ));
}
inline Mask vatMost(Vec a, Vec b) {
  return maskOf(_mm256_cmp_pd(a.lo, b.lo, _CMP_LE_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_LE_OQ));
}
inline __m256d zeroOrWithin(__m256d a, __m256d lo, __m256d hi) {
  const __m256d inside = _mm256_cmp_pd(lo, a, _CMP_LE_OQ);
  const __m256d zero = _mm256_cmp_pd(a, _mm256_setzero_pd(), _CMP_EQ_OQ);
  return _mm256_and_pd(_mm256_cmp_pd(a, hi, _CMP_LE_OQ), _mm256_or_pd(inside, zero));
}
inline Mask vzeroOrWithin(Vec a, Vec lo, Vec hi) {
  return maskOf(zeroOrWithin(a.lo, lo.lo, hi.lo), zeroOrWithin(a.hi, lo.hi, hi.hi));
}
// A half with no lane in m is not divided.
inline Vec vdivWhere(Mask m, Vec q, Vec a, Vec b) {
  if (m & 0xF)
    q.lo = _mm256_blendv_pd(q.lo, _mm256_div_pd(a.lo, b.lo), _mm256_castsi256_pd(halfMask(m)));
  if (m & 0xF0)
    q.hi = _mm256_blendv_pd(q.hi, _mm256_div_pd(a.hi, b.hi), _mm256_castsi256_pd(halfMask(m >> 4)));
  return q;
}

inline void transpose4(__m256d& a, __m256d& b, __m256d& c, __m256d& d) {
  const __m256d t0 = _mm256_unpacklo_pd(a, b), t1 = _mm256_unpackhi_pd(a, b);
  const __m256d t2 = _mm256_unpacklo_pd(c, d), t3 = _mm256_unpackhi_pd(c, d);
  a = _mm256_permute2f128_pd(t0, t2, 0x20);
  b = _mm256_permute2f128_pd(t1, t3, 0x20);
  c = _mm256_permute2f128_pd(t0, t2, 0x31);
  d = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Four 4 x 4 transposes; then row k (k < 4) is (lo of row k, lo of row k+4)
// and row k+4 is (hi of row k, hi of row k+4).
inline void transpose8(Vec r[8]) {
  transpose4(r[0].lo, r[1].lo, r[2].lo, r[3].lo);
  transpose4(r[4].lo, r[5].lo, r[6].lo, r[7].lo);
  transpose4(r[0].hi, r[1].hi, r[2].hi, r[3].hi);
  transpose4(r[4].hi, r[5].hi, r[6].hi, r[7].hi);
  for (int k = 0; k < 4; ++k) {
    const __m256d t = r[k].hi;
    r[k].hi = r[k + 4].lo;
    r[k + 4].lo = t;
  }
}

// Lane s of v in all four lanes.
inline __m256d laneOf(Vec v, int s) {
  const long long t = s & 3;
  const __m256i idx = _mm256_set1_epi64x((2 * t + 1) << 32 | 2 * t);
  return _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(s < 4 ? v.lo : v.hi), idx));
}

// The shifts with the lane coming in as f, broadcast to all four lanes.
inline Vec shiftDownBroadcast(Vec v, __m256d f) {
  const __m256d middle = _mm256_permute2f128_pd(v.lo, v.hi, 0x21);  // v2 v3 v4 v5
  const __m256d top = _mm256_permute2f128_pd(v.hi, f, 0x21);         // v6 v7 f f
  return {_mm256_shuffle_pd(v.lo, middle, 5), _mm256_shuffle_pd(v.hi, top, 5)};
}
inline Vec shiftUpBroadcast(Vec v, __m256d f) {
  const __m256d bottom = _mm256_permute2f128_pd(v.lo, f, 0x02);     // f f v0 v1
  const __m256d middle = _mm256_permute2f128_pd(v.hi, v.lo, 0x03);  // v2 v3 v4 v5
  return {_mm256_shuffle_pd(bottom, v.lo, 4), _mm256_shuffle_pd(middle, v.hi, 5)};
}

inline Vec shiftDown(Vec v, Vec fill, int s) { return shiftDownBroadcast(v, laneOf(fill, s)); }
inline Vec shiftUp(Vec v, Vec fill, int s) { return shiftUpBroadcast(v, laneOf(fill, s)); }
inline Vec shiftDownIn(Vec v, double in) { return shiftDownBroadcast(v, _mm256_set1_pd(in)); }
inline Vec shiftUpIn(Vec v, double in) { return shiftUpBroadcast(v, _mm256_set1_pd(in)); }

// The exact divisions, half by half.
inline Vec divByH(Vec x) { return {divByH(x.lo), divByH(x.hi)}; }
inline Vec divByTwoH(Vec x) { return {divByTwoH(x.lo), divByTwoH(x.hi)}; }
inline Vec divByHH(Vec x) { return {divByHH(x.lo), divByHH(x.hi)}; }
inline Vec divByFourOverHH(Vec x) { return {divByFourOverHH(x.lo), divByFourOverHH(x.hi)}; }
inline Vec divByHInRange(Vec x) { return {divByHInRange(x.lo), divByHInRange(x.hi)}; }
inline Vec divByHHInRange(Vec x) { return {divByHHInRange(x.lo), divByHHInRange(x.hi)}; }
inline Vec divByFourHInRange(Vec x) { return {divByFourHInRange(x.lo), divByFourHInRange(x.hi)}; }

#else

struct Vec {
  double v[8];
};

template <class F>
inline Vec eachLane(F f) {
  Vec r;
  for (int k = 0; k < 8; ++k) r.v[k] = f(k);
  return r;
}
template <class F>
inline Mask maskWhere(F f) {
  Mask m = 0;
  for (int k = 0; k < 8; ++k) m |= Mask(f(k)) << k;
  return m;
}

inline Vec vload(const double* p) { return eachLane([&](int k) { return p[k]; }); }
inline Vec vloadAligned(const double* p) { return vload(p); }
inline Vec vloadMasked(Mask m, const double* p) {
  return eachLane([&](int k) { return m >> k & 1 ? p[k] : 0.0; });
}
inline void vstore(double* p, Vec v) {
  for (int k = 0; k < 8; ++k) p[k] = v.v[k];
}
inline void vstoreAligned(double* p, Vec v) { vstore(p, v); }
inline void vstoreMasked(double* p, Mask m, Vec v) {
  for (int k = 0; k < 8; ++k)
    if (m >> k & 1) p[k] = v.v[k];
}
inline Vec vset(double x) { return eachLane([&](int) { return x; }); }
inline Vec vadd(Vec a, Vec b) { return eachLane([&](int k) { return a.v[k] + b.v[k]; }); }
inline Vec vsub(Vec a, Vec b) { return eachLane([&](int k) { return a.v[k] - b.v[k]; }); }
inline Vec vmul(Vec a, Vec b) { return eachLane([&](int k) { return a.v[k] * b.v[k]; }); }
inline Vec vdiv(Vec a, Vec b) { return eachLane([&](int k) { return a.v[k] / b.v[k]; }); }
inline Vec vabs(Vec a) { return eachLane([&](int k) { return __builtin_fabs(a.v[k]); }); }
inline Vec vmax(Vec a, Vec b) {
  return eachLane([&](int k) { return a.v[k] > b.v[k] ? a.v[k] : b.v[k]; });
}
inline Vec vmin(Vec a, Vec b) {
  return eachLane([&](int k) { return a.v[k] < b.v[k] ? a.v[k] : b.v[k]; });
}
inline Vec vselect(Mask m, Vec a, Vec b) {
  return eachLane([&](int k) { return m >> k & 1 ? b.v[k] : a.v[k]; });
}
inline Mask vequal(Vec a, Vec b) { return maskWhere([&](int k) { return a.v[k] == b.v[k]; }); }
inline Mask vless(Vec a, Vec b) { return maskWhere([&](int k) { return a.v[k] < b.v[k]; }); }
inline Mask vatMost(Vec a, Vec b) { return maskWhere([&](int k) { return a.v[k] <= b.v[k]; }); }
inline Mask vzeroOrWithin(Vec a, Vec lo, Vec hi) {
  return maskWhere([&](int k) { return a.v[k] <= hi.v[k] && (lo.v[k] <= a.v[k] || a.v[k] == 0); });
}
inline Vec vdivWhere(Mask m, Vec q, Vec a, Vec b) {
  return eachLane([&](int k) { return m >> k & 1 ? a.v[k] / b.v[k] : q.v[k]; });
}

inline void transpose8(Vec r[8]) {
  for (int a = 0; a < 8; ++a)
    for (int b = a + 1; b < 8; ++b) {
      const double t = r[a].v[b];
      r[a].v[b] = r[b].v[a];
      r[b].v[a] = t;
    }
}

inline Vec shiftDown(Vec v, Vec fill, int s) {
  return eachLane([&](int k) { return k < 7 ? v.v[k + 1] : fill.v[s]; });
}
inline Vec shiftUp(Vec v, Vec fill, int s) {
  return eachLane([&](int k) { return k > 0 ? v.v[k - 1] : fill.v[s]; });
}
inline Vec shiftDownIn(Vec v, double in) {
  return eachLane([&](int k) { return k < 7 ? v.v[k + 1] : in; });
}
inline Vec shiftUpIn(Vec v, double in) {
  return eachLane([&](int k) { return k > 0 ? v.v[k - 1] : in; });
}

inline Vec divByH(Vec x) { return eachLane([&](int k) { return divByH(x.v[k]); }); }
inline Vec divByTwoH(Vec x) { return eachLane([&](int k) { return divByTwoH(x.v[k]); }); }
inline Vec divByHH(Vec x) { return eachLane([&](int k) { return divByHH(x.v[k]); }); }
inline Vec divByFourOverHH(Vec x) {
  return eachLane([&](int k) { return divByFourOverHH(x.v[k]); });
}
// Without vector instructions the checks stay (they cost little here).
inline Vec divByHInRange(Vec x) { return divByH(x); }
inline Vec divByHHInRange(Vec x) { return divByHH(x); }
inline Vec divByFourHInRange(Vec x) { return divByH(vmul(x, vset(0.25))); }

#endif

inline Vec vzero() { return vset(0.0); }

// Bits s (0..7) with lo <= col + s <= hi.
inline Mask columnMask(int col, int lo, int hi) {
  int sLo = lo - col > 0 ? lo - col : 0;
  int sHi = hi - col < 7 ? hi - col : 7;
  if (sLo > sHi) return 0;
  return Mask(((1u << (sHi + 1)) - 1) & ~((1u << sLo) - 1));
}

}  // namespace
}  // namespace plume
