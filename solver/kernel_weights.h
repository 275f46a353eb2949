// The weight pass of the production kernels: the weights aW, aS, aE, aN of a
// row's nodes, vectorised along the row (no node depends on another), with
// the operations of weights.h in the same order. aW, aS, aE, aN read only Psi
// and Pr, which no pass writes before the stream-function pass, so the
// temperature and vorticity passes of an iteration share them. Division by
// h and h*h is the exact division of exact_division.h (the correctly
// rounded quotient, as the literal division gives).
#pragma once

#include "solver/kernel_state.h"
#include "solver/simd.h"
#include "state/grid.h"

namespace plume {
namespace {

using namespace plume::kernel;

constexpr int kLast = NY - 1;  // last column swept

inline Vec faceVelocity(Vec p1, Vec p2, Vec p3, Vec p4) {
  return divByH(vmul(vsub(vadd(vsub(p1, p2), p3), p4), vset(0.25)));
}

inline Vec damping(Vec e, Vec pr) {
  Vec t = vmul(vmul(vmul(vabs(e), pr), vset(0.5)), vset(h));
  return vdiv(vset(1.0), vadd(vset(1.0), t));
}

inline Vec weightPlus(Vec e, Vec pr) {
  Vec conv = vmul(vset(h), vmul(pr, vmul(vset(0.5), vadd(e, vabs(e)))));
  return divByHH(vadd(damping(e, pr), conv));
}

inline Vec weightMinus(Vec e, Vec pr) {
  Vec conv = vmul(vset(h), vmul(pr, vmul(vset(0.5), vsub(e, vabs(e)))));
  return divByHH(vsub(damping(e, pr), conv));
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
inline double stillLimit() {
  constexpr double cap = 0x1p1000;
  if (!(Pr > 0)) return cap;
  const double m = 0x1p-56 / Pr;  // rounding adds under 2^-52 relative
  return m < cap ? m : cap;
}

// Which nodes of a row are calm, |Psi| <= stillLimit(): bit c of byte v for
// column 8v + c. Columns past NY count as calm (no node reads them).
constexpr int kCalmBytes = kPad / kLanes + 1;
struct CalmRow {
  unsigned char bits[kCalmBytes];
};

void calmRow(int i, Vec limit, CalmRow& out) {
  for (int v = 0; v < kPad / kLanes; ++v)
    out.bits[v] = static_cast<unsigned char>(vatMost(vabs(vload(&Psi[i][kLanes * v])), limit));
  out.bits[NY / kLanes] |= static_cast<unsigned char>(0xFF << (NY % kLanes + 1));
  out.bits[kCalmBytes - 1] = 0xFF;
}

// Whether every node of vector v (columns 1 + 8v .. 8 + 8v) of the middle row
// has calm nodes around it: columns 8v .. 8v + 9 of all three rows.
inline bool calmVector(const CalmRow& below, const CalmRow& row, const CalmRow& above, int v) {
  const unsigned here = below.bits[v] & row.bits[v] & above.bits[v];
  const unsigned next = below.bits[v + 1] & row.bits[v + 1] & above.bits[v + 1];
  return here == 0xFF && (next & 3) == 3;
}

// Weights of row i, columns 1..919, into the rows w, s, e, n (indexed by
// column), a vector of kLanes columns at a time; `calm` holds rows i-1, i,
// i+1. The last vector runs past column 919 into the padding; those lanes
// are never used. If `still` is given, still[v] tells whether vector v
// (columns 1 + v*kLanes ...) has the still-flow weights throughout, and such
// vectors are not stored (the caller fills in the ones it reads).
void computeWeightsInto(int i, const CalmRow (&calm)[3], double* w, double* s, double* e,
                        double* n, bool* still = nullptr) {
  const Vec pr = vset(Pr), stillWeight = vset(kStillWeight);
  const double* below = Psi[i - 1];
  const double* row = Psi[i];
  const double* above = Psi[i + 1];
  for (int j = 1; j <= kLast; j += kLanes) {
    const bool calmHere = calmVector(calm[0], calm[1], calm[2], (j - 1) / kLanes);
    if (still) {
      still[(j - 1) / kLanes] = calmHere;
      if (calmHere) continue;
    } else if (calmHere) {
      vstore(w + j, stillWeight);
      vstore(s + j, stillWeight);
      vstore(e + j, stillWeight);
      vstore(n + j, stillWeight);
      continue;
    }
    Vec bm = vload(below + j - 1), b0 = vload(below + j), bp = vload(below + j + 1);
    Vec rm = vload(row + j - 1), rp = vload(row + j + 1);
    Vec am = vload(above + j - 1), a0 = vload(above + j), ap = vload(above + j + 1);
    vstore(w + j, weightPlus(faceVelocity(bp, bm, rp, rm), pr));
    vstore(s + j, weightPlus(faceVelocity(bm, am, b0, a0), pr));
    vstore(e + j, weightMinus(faceVelocity(ap, am, rp, rm), pr));
    vstore(n + j, weightMinus(faceVelocity(bp, ap, b0, a0), pr));
  }
}

void computeWeights(int i) {
  const Vec limit = vset(stillLimit());
  CalmRow calm[3];
  for (int k = 0; k < 3; ++k) calmRow(i - 1 + k, limit, calm[k]);
  computeWeightsInto(i, calm, weightW[i], weightS[i], weightE[i], weightN[i]);
}

}  // namespace
}  // namespace plume
