// The weights aW, aS, aE, aN of the production kernels, vectorised along a
// row (no node depends on another), with the operations of weights.h in the
// same order: whole rows for the scalar lockstep and the axis row
// (computeWeights), blocks for the vector wavefront (block_weights.h). They
// read only Psi and Pr, which no sweep writes before the stream-function
// updates, so both sweeps of an iteration use the same weights. Division by
// h and h*h is the exact division of exact_division.h (the correctly
// rounded quotient, as the literal division gives).
#pragma once

#include "solver/kernel_workspace.h"
#include "solver/simd.h"
#include "state/state.h"

namespace plume {
namespace {

using namespace plume::kernel;

constexpr int kLast = NY - 1;  // last column swept

// InRange: the row's inputs are known to keep every division on its fast
// path (see rangeLimit below), so its range checks are left out.
template <bool InRange>
inline Vec divH(Vec x) {
  return InRange ? divByHInRange(x) : divByH(x);
}
template <bool InRange>
inline Vec divHH(Vec x) {
  return InRange ? divByHHInRange(x) : divByHH(x);
}

// In range (see rangeLimit) the sum is 0 or a multiple of 2^-952 below
// 2^1003, so its quarter is exact and the quarter's quotient by h is the
// sum's by 4h (divByFourHInRange).
template <bool InRange>
inline Vec faceVelocity(Vec p1, Vec p2, Vec p3, Vec p4) {
  const Vec sum = vsub(vadd(vsub(p1, p2), p3), p4);
  if constexpr (InRange) return divByFourHInRange(sum);
  return divByH(vmul(sum, vset(0.25)));
}

inline Vec damping(Vec e, Vec pr) {
  Vec t = vmul(vmul(vmul(vabs(e), pr), vset(0.5)), vset(h));
  return vdiv(vset(1.0), vadd(vset(1.0), t));
}

// Inside the range of the unchecked divisions (Pr >= 0, |e| < 2^1013, |e|*Pr
// finite) the same bits with fewer operations, from p = RN(e*Pr):
//  * RN(|e|*Pr) = |p|, and t = ((|e|*Pr)*0.5)*h is RN(|p|*(h/2)): with
//    a = |p| >= 2^-1021, a*0.5 is exact and h/2 is a double, so
//    RN(RN(a*0.5)*h) = RN(a*(h/2)); below, both are under 2^-1030 and 1 + t
//    rounds to 1 either way.
//  * Pr*(0.5*(e + |e|)) is max(p, +0): e + |e| is 2e (exact, halved exactly)
//    or +0, and RN(Pr*x) is monotonic in x and +0 for x = +0 (max returns
//    its second operand for two zeros). Pr*(0.5*(e - |e|)) is min(p, +0) but
//    where p = -0 (e < 0 with Pr = 0 or Pr*e below the subnormals): conv is
//    then a zero either way, and damping - conv the damping (> 0).
// And from q = RN(p*h), with fewer operations still:
//  * 1 + t is RN(1 + |q|*0.5): where |p|*h >= 2^-1021, halving commutes with
//    rounding, so t = RN(|p|*h)/2 = |q|*0.5 exactly; below, t and |q|*0.5
//    are under 2^-1021 and 1 + either rounds to 1. So one FMA gives it too
//    (the exact product is the rounded one).
//  * h*max(p, +0) is max(q, +0): RN(h*x) is monotonic in x (h > 0), keeps
//    the sign of a zero, and max returns its second operand (+0) for two
//    zeros. h*min(p, +0) is min(q, +0) but for a zero: -0 against +0 where
//    h*p underflows, and damping - conv is the damping either way.
//  * Pr = +inf (only where e = 0): p is NaN in both forms, and so are the
//    damping and the weight, with the same bits (the NaN's sign is dropped
//    by the absolute value in both).
template <bool Plus>
inline Vec weightInRange(Vec e, Vec pr) {
  const Vec q = vmul(vmul(e, pr), vset(h));
#if defined(__FMA__)
  const Vec d = vdiv(vset(1.0), vmulAdd(vabs(q), vset(0.5), vset(1.0)));
#else
  const Vec d = vdiv(vset(1.0), vadd(vset(1.0), vmul(vabs(q), vset(0.5))));
#endif
  const Vec conv = Plus ? vmax(q, vzero()) : vmin(q, vzero());
  return divByHHInRange(Plus ? vadd(d, conv) : vsub(d, conv));
}

template <bool InRange>
inline Vec weightPlus(Vec e, Vec pr) {
  if constexpr (InRange) return weightInRange<true>(e, pr);
  Vec conv = vmul(vset(h), vmul(pr, vmul(vset(0.5), vadd(e, vabs(e)))));
  return divHH<InRange>(vadd(damping(e, pr), conv));
}

template <bool InRange>
inline Vec weightMinus(Vec e, Vec pr) {
  if constexpr (InRange) return weightInRange<false>(e, pr);
  Vec conv = vmul(vset(h), vmul(pr, vmul(vset(0.5), vsub(e, vabs(e)))));
  return divHH<InRange>(vsub(damping(e, pr), conv));
}

// Where the flow is weak every weight is RN(1/(h*h)): the damping 1/(1 + t)
// and damping -+ conv both round to 1. With m the largest |Psi| a node's four
// faces read, |e| <= 1200*m*(1 + 2^-50) (three additions, the quarter and the
// division by h, each rounded), so m*Pr <= 2^-56 gives t = ((|e|*Pr)*0.5)*h
// <= 2^-57 and |conv| = |h*(Pr*(0.5*(e +- |e|)))| <= 2^-55, both below half
// an ulp of 1; conv is never negative in the plus weights and never
// positive in the minus ones. m <= 2^1000 keeps e finite, also for Pr = 0.
constexpr double kStillWeight = 1.0 / hh;
static_assert(((kStillWeight + kStillWeight) + kStillWeight) + kStillWeight == fourOverHH);

// Largest |Psi| around a node that leaves its weights at kStillWeight.
inline double stillLimit(double Pr) {
  constexpr double cap = 0x1p1000;
  if (!(Pr > 0)) return cap;
  const double m = 0x1p-56 / Pr;  // rounding adds under 2^-52 relative
  return m < cap ? m : cap;
}

// Rows whose every |Psi| is 0 or in [2^-900, rangeLimit()] keep every
// division of the weights of the row between them on its fast path, so the
// range checks can be left out (m: the largest |Psi| read):
//  * Face velocity: each Psi is 0 or a multiple of 2^-952 (no ulp from 2^-900
//    up is smaller), and so is each rounded sum of them (below 2^-900 such a
//    sum is exact); a non-zero sum is at least 2^-952 >= 2^-967 and at most
//    4*m*(1 + 2^-50) < 2^1015, the range of the division by 4h.
//  * damping -+ conv: |e| <= 1200*m*(1 + 2^-50), so t <= m*Pr*(1 + 2^-48)/2
//    < 2^979 and the damping is at least 2^-979; conv adds to it in magnitude
//    (never negative in the plus weights, never positive in the minus ones)
//    and |conv| <= m*Pr*(1 + 2^-48) < 2^980: the sum lies in [2^-979, 2^981],
//    inside the range of the division by h*h, [2^-989, inf).
// With Pr negative or not a number no row qualifies.
constexpr double kRangeFloor = 0x1p-900;
inline double rangeLimit(double Pr) {
  constexpr double cap = 0x1p1000;
  if (Pr == 0) return cap;
  if (!(Pr > 0)) return -1.0;
  const double m = 0x1p979 / Pr;  // rounding adds under 2^-52 relative
  return m < cap ? m : cap;
}

// The calm bits of row i (CalmRow, kernel_workspace.h): |Psi| <= `limit`,
// one byte per vector of kLanes columns.
static_assert(kLanes == 8 && kCalmBytes == kPad / kLanes + 1);
void calmRow(const Field& Psi, int i, Vec limit, CalmRow& out) {
  for (int v = 0; v < kPad / kLanes; ++v)
    out.bits[v] = static_cast<unsigned char>(vatMost(vabs(vload(&Psi[i][kLanes * v])), limit));
  out.bits[NY / kLanes] |= static_cast<unsigned char>(0xFF << (NY % kLanes + 1));
  for (int v = kCalmBytes - 1; v < 8 * kCalmWords; ++v) out.bits[v] = 0xFF;
  out.psi = Psi[i];
  out.inRange = -1;
}

// Whether every |Psi| of the row (padding included) is 0 or in [kRangeFloor,
// rangeLimit()]; found once, when a row next to it has weights to compute.
inline bool rowInRange(const CalmRow& c, double Pr) {
  if (c.inRange < 0) {
    const Vec top = vset(rangeLimit(Pr)), floor = vset(kRangeFloor);
    Mask in = kAllLanes;
    for (int v = 0; v < kPad / kLanes; ++v) {
      const Vec a = vabs(vload(&c.psi[kLanes * v]));
      in &= vzeroOrWithin(a, floor, top);
    }
    c.inRange = in == kAllLanes;
  }
  return c.inRange;
}

// Whether every node of vector v (columns 1 + 8v .. 8 + 8v) of the middle row
// has calm nodes around it: columns 8v .. 8v + 9 of all three rows.
inline bool calmVector(const CalmRow& below, const CalmRow& row, const CalmRow& above, int v) {
  const unsigned here = below.bits[v] & row.bits[v] & above.bits[v];
  const unsigned next = below.bits[v + 1] & row.bits[v + 1] & above.bits[v + 1];
  return here == 0xFF && (next & 3) == 3;
}

// Weights of row i, columns 1..919, into ws.weightW[i] .. ws.weightN[i], a vector
// of kLanes columns at a time; `calm` holds rows i-1, i, i+1. The last vector
// runs past column 919 into the padding; those lanes are never used.
template <bool InRange>
void computeRowWeights(Workspace& ws, const Field& Psi, double Pr, int i,
                       const CalmRow (&calm)[3]) {
  const Vec pr = vset(Pr), stillWeight = vset(kStillWeight);
  const double* below = Psi[i - 1];
  const double* row = Psi[i];
  const double* above = Psi[i + 1];
  double *w = ws.weightW[i], *s = ws.weightS[i], *e = ws.weightE[i], *n = ws.weightN[i];
  for (int j = 1; j <= kLast; j += kLanes) {
    if (calmVector(calm[0], calm[1], calm[2], (j - 1) / kLanes)) {
      vstore(w + j, stillWeight);
      vstore(s + j, stillWeight);
      vstore(e + j, stillWeight);
      vstore(n + j, stillWeight);
      continue;
    }
    Vec bm = vload(below + j - 1), b0 = vload(below + j), bp = vload(below + j + 1);
    Vec rm = vload(row + j - 1), rp = vload(row + j + 1);
    Vec am = vload(above + j - 1), a0 = vload(above + j), ap = vload(above + j + 1);
    vstore(w + j, weightPlus<InRange>(faceVelocity<InRange>(bp, bm, rp, rm), pr));
    vstore(s + j, weightPlus<InRange>(faceVelocity<InRange>(bm, am, b0, a0), pr));
    vstore(e + j, weightMinus<InRange>(faceVelocity<InRange>(ap, am, rp, rm), pr));
    vstore(n + j, weightMinus<InRange>(faceVelocity<InRange>(bp, ap, b0, a0), pr));
  }
}

void computeWeights(Workspace& ws, const Field& Psi, double Pr, int i) {
  const Vec limit = vset(stillLimit(Pr));
  CalmRow calm[3];
  for (int k = 0; k < 3; ++k) calmRow(Psi, i - 1 + k, limit, calm[k]);
  bool moving = false;
  for (int v = 0; v <= (kLast - 1) / kLanes && !moving; ++v)
    moving = !calmVector(calm[0], calm[1], calm[2], v);
  if (moving && rowInRange(calm[0], Pr) && rowInRange(calm[1], Pr) && rowInRange(calm[2], Pr))
    computeRowWeights<true>(ws, Psi, Pr, i, calm);
  else
    computeRowWeights<false>(ws, Psi, Pr, i, calm);
}

}  // namespace
}  // namespace plume
