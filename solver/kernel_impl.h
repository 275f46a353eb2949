// The production iteration step, written once and compiled for each
// instruction set by kernel_generic.cpp, kernel_avx2.cpp and kernel_avx512.cpp.
//
// Why it gives the bits of the literal sweeps run on one thread:
//  * Weights. aW, aS, aE, aN read only Psi and Pr, which no pass writes
//    before the stream-function pass, so the temperature and vorticity passes
//    see the same weights at a node. They are computed once per iteration,
//    vectorised along the row (no node depends on another), with the same
//    operations in the same order; aP is ((aW + aS) + aE) + aN as the literal
//    aP adds them. Division by h, 2h, h*h and 4/(h*h) uses the exact
//    division of exact_division.h, which returns the correctly rounded
//    quotient. Where aP is 4/(h*h) bit for bit (no flow to speak of), S / aP
//    is that exact division too: the same divisor, the same quotient.
//  * Still flow. Where |Psi| around a node is below the bound proven at
//    kStillWeight, every weight rounds to 1/(h*h): the weight pass stores
//    that constant (AVX-512: flags the block) instead of computing it.
//  * Wavefront. In a band, node (i, j) depends only on (i, j-1) and on row
//    i+1 at column j, both updated before it. A group of G rows r, r-1, ...
//    is run in lockstep along a skewed diagonal: at step c row r-k updates
//    column c-k. Each node then reads exactly the values the row-by-row order
//    gives it: (i, j-1) and (i+1, j) new, (i-1, j) and (i, j+1) old.
//  * Fusion. The stream-function update of (i, j) reads Omega only at (i, j)
//    and Psi around it; the vorticity update no longer reads Psi (its weights
//    are stored). So each node's stream function is updated right after its
//    vorticity, which leaves every value read unchanged.
//  * Bands and threads. A single thread runs bands 1..4 in order; there a
//    band's first row reads the next band's last row as it was before the
//    pass, and its last row reads the previous band's first row as stored in
//    this pass. Both hold at any thread count: the first row reads a copy of
//    the neighbour's edge row taken before the pass, and the last row waits
//    until the previous band has stored (the columns it needs of) its first
//    row, which that band does first, so the wait is practically never
//    taken. No barrier joins the bands.
//  * Mirror half. The sweeps read no mirror row but row 601, whose nodes
//    the axis row reads (T also in the buoyancy of the vorticity pass); it is
//    copied from row 599 after each pass, the others only by fillMirrorHalf
//    before the fields are read whole.
//  * Sums. The vorticity band sums add 2*w*w in the band's visiting order,
//    row after row, from the stored values (the AVX-512 wavefront adds them
//    a few nodes per step, still in that order).
#pragma once

#include <immintrin.h>
#include <sched.h>

#include "solver/bands.h"
#include "solver/simd.h"
#include "solver/exact_division.h"
#include "solver/kernel_state.h"
#include "state/grid.h"

namespace plume {
namespace {

using namespace plume::kernel;

constexpr int kLast = NY - 1;  // last column swept
constexpr int kGroup = 8;      // rows run in lockstep

// ---------------------------------------------------------------- weights

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

// Weights of row i, columns 1..919, into the rows w, s, e, n (indexed by
// column). The last vector runs past column 919 into the padding; those
// lanes are never used. If `still` is given, still[v] tells whether vector v
// (columns 1 + v*kWidth ...) has the still-flow weights throughout, and such
// vectors are not stored (the caller fills in the ones it reads).
void computeWeightsInto(int i, double* w, double* s, double* e, double* n, bool* still = nullptr) {
  const Vec pr = vset(Pr), limit = vset(stillLimit()), stillWeight = vset(kStillWeight);
  const double* below = Psi[i - 1];
  const double* row = Psi[i];
  const double* above = Psi[i + 1];
  for (int j = 1; j <= kLast; j += kWidth) {
    Vec bm = vload(below + j - 1), b0 = vload(below + j), bp = vload(below + j + 1);
    Vec rm = vload(row + j - 1), rp = vload(row + j + 1);
    Vec am = vload(above + j - 1), a0 = vload(above + j), ap = vload(above + j + 1);
    const bool calm = allAtMost(limit, bm, b0, bp, rm, rp, am, a0, ap);
    if (still) {
      still[(j - 1) / kWidth] = calm;
      if (calm) continue;
    } else if (calm) {
      vstore(w + j, stillWeight);
      vstore(s + j, stillWeight);
      vstore(e + j, stillWeight);
      vstore(n + j, stillWeight);
      continue;
    }
    vstore(w + j, weightPlus(faceVelocity(bp, bm, rp, rm), pr));
    vstore(s + j, weightPlus(faceVelocity(bm, am, b0, a0), pr));
    vstore(e + j, weightMinus(faceVelocity(ap, am, rp, rm), pr));
    vstore(n + j, weightMinus(faceVelocity(bp, ap, b0, a0), pr));
  }
}

void computeWeights(int i) { computeWeightsInto(i, weightW[i], weightS[i], weightE[i], weightN[i]); }

inline double centreWeight(int i, int j) {
  return ((weightW[i][j] + weightS[i][j]) + weightE[i][j]) + weightN[i][j];
}

// s / ap. Where the flow is too slow to change the weights, each is 1/(h*h)
// and ap is the constant 4/(h*h) bit for bit; the quotient is then the exact
// division by that constant, which needs no divide instruction.
inline double divideByCentre(double s, double ap) {
  return ap == fourOverHH ? divByFourOverHH(s) : s / ap;
}

// ------------------------------------------------------- node updates

// New temperature at (i, j) from its south (this pass) and east values.
inline double temperatureAt(int i, int j, double south, double east) {
  double s = ((weightS[i][j] * south + weightW[i][j] * T[i - 1][j]) + weightE[i][j] * east) +
             weightN[i][j] * T[i][j + 1];
  return divideByCentre(s, centreWeight(i, j)) + relaxWeight * T[i][j];
}

// New vorticity at (i, j) from its south (this pass) and east values.
inline double vorticityAt(int i, int j, double south, double east) {
  double s = ((weightS[i][j] * south + weightW[i][j] * Omega[i - 1][j]) + weightE[i][j] * east) +
             weightN[i][j] * Omega[i][j + 1];
  s = s + divByTwoH(T[i + 1][j] - T[i - 1][j]) * Gr;
  return divideByCentre(s, centreWeight(i, j)) + relaxWeight * Omega[i][j];
}

// New stream function at (i, j) from its south and east values and the
// node's new vorticity w.
inline double streamFunctionAt(int i, int j, double south, double east, double w) {
  double a = divByHH(south + Psi[i][j + 1]);
  double b = divByHH(Psi[i - 1][j] + east);
  return divByFourOverHH((a + b) + w) + relaxWeight * Psi[i][j];
}

// --------------------------------------------------------- band edges

// Progress along a band's first row in this pass: pass number * 1024 + the
// last column stored. The next band's last row waits for the columns it reads.
inline void publishFirstRow(int band, int column) {
  __atomic_store_n(&bandProgress[band].firstRowDone, passNumber * 1024 + column, __ATOMIC_RELEASE);
}

inline void awaitFirstRow(int band, int column) {
  const std::uint64_t want = passNumber * 1024 + column;
  for (int spins = 0; __atomic_load_n(&bandProgress[band].firstRowDone, __ATOMIC_ACQUIRE) < want; ++spins) {
    if (spins < 1000)
      _mm_pause();
    else
      sched_yield();  // the other band's thread may have been descheduled
  }
}

// ------------------------------------------------------ wavefront groups

// Steps of a group of G rows in lockstep: at step c, lane k (row r-k) visits
// column c-k. Lanes go in descending order, so lane k still finds lane k-1's
// value of the previous step, its east neighbour.
template <int G, class Visit>
inline void lockstep(Visit visit) {
  for (int c = 1; c <= kLast + G - 1; ++c) {
#pragma GCC unroll 16
    for (int k = G - 1; k >= 0; --k) {
      const int j = c - k;
      if (j >= 1 && j <= kLast) visit(k, j);
    }
  }
}

// Temperature of rows r, r-1, ..., r-G+1 in lockstep; `east0` is row r+1.
template <int G>
void temperatureGroup(int r, const double* east0) {
  double last[G];  // each row's latest new value: the south of its next node
  for (int k = 0; k < G; ++k) last[k] = T[r - k][0];
  lockstep<G>([&](int k, int j) {
    const int i = r - k;
    double v = temperatureAt(i, j, last[k], k == 0 ? east0[j] : last[k - 1]);
    T[i][j] = v;
    last[k] = v;
  });
}

// Vorticity and stream function of rows r .. r-G+1 in lockstep; the new
// vorticity goes to `out` (row k of the group at out[k * kPad + j]) for the
// band sum.
template <int G>
void vorticityGroup(int r, const double* eastOmega0, const double* eastPsi0, double* out) {
  double lastOmega[G], lastPsi[G];
  for (int k = 0; k < G; ++k) {
    lastOmega[k] = Omega[r - k][0];
    lastPsi[k] = Psi[r - k][0];
  }
  lockstep<G>([&](int k, int j) {
    const int i = r - k;
    double w = vorticityAt(i, j, lastOmega[k], k == 0 ? eastOmega0[j] : lastOmega[k - 1]);
    Omega[i][j] = w;
    out[k * kPad + j] = w;
    lastOmega[k] = w;
    double p = streamFunctionAt(i, j, lastPsi[k], k == 0 ? eastPsi0[j] : lastPsi[k - 1], w);
    Psi[i][j] = p;
    lastPsi[k] = p;
  });
}

template <template <int> class Run, class... Args>
void runGroup(int size, Args... args) {
  switch (size) {
    case 8: Run<8>::go(args...); break;
    case 7: Run<7>::go(args...); break;
    case 6: Run<6>::go(args...); break;
    case 5: Run<5>::go(args...); break;
    case 4: Run<4>::go(args...); break;
    case 3: Run<3>::go(args...); break;
    case 2: Run<2>::go(args...); break;
    default: Run<1>::go(args...); break;
  }
}

template <int G>
struct TemperatureGroup {
  static void go(int r, const double* east0) { temperatureGroup<G>(r, east0); }
};

template <int G>
struct VorticityGroup {
  static void go(int r, const double* eo, const double* ep, double* out) {
    vorticityGroup<G>(r, eo, ep, out);
  }
};

// ------------------------------------------------------------ axis row

// Axis row: columns srcJ+1 .. 919, then srcJ-1 .. 1; rows 599 and 601 hold
// their values from before the pass; no mirror.
void temperatureAxisNode(int j) {
  const int i = srcI;
  T[i][j] = temperatureAt(i, j, T[i][j - 1], T[i + 1][j]);
}

void temperatureAxisRow() {
  for (int j = srcJ + 1; j <= kLast; ++j) temperatureAxisNode(j);
  for (int j = srcJ - 1; j >= 1; --j) temperatureAxisNode(j);
}

void vorticityAxisNode(int j, double& sum) {
  const int i = srcI;
  double w = vorticityAt(i, j, Omega[i][j - 1], Omega[i + 1][j]);
  Omega[i][j] = w;
  sum = w * w + sum;
  Psi[i][j] = streamFunctionAt(i, j, Psi[i][j - 1], Psi[i + 1][j], w);
}

void vorticityAxisRow(double& sum) {
  for (int j = srcJ + 1; j <= kLast; ++j) vorticityAxisNode(j, sum);
  for (int j = srcJ - 1; j >= 1; --j) vorticityAxisNode(j, sum);
}

// -------------------------------------------------------------- bands

// Row that band `band` reads above its first row, for a field whose edge
// rows were copied into `edge`.
inline const double* eastOfTop(int band, const double (&edge)[3][kPad], const Field& f) {
  return band < 3 ? edge[band] : f[kBandTop[3] + 1];
}

#if defined(__AVX512F__)
}  // namespace
}  // namespace plume
#include "solver/wavefront_avx512.h"
namespace plume {
namespace {
#endif

// Rows of a band below the axis row, in groups of kGroup rows.
void temperatureRows(int band) {
#if defined(__AVX512F__)
  temperatureRowsSimd(band);
#else
  const int top = kBandTop[band], bottom = kBandBottom[band];
  for (int i = top; i >= bottom; --i) computeWeights(i);
  for (int r = top; r >= bottom; r -= kGroup) {
    const int size = r - bottom + 1 < kGroup ? r - bottom + 1 : kGroup;
    if (r - size + 1 == bottom && band > 0) awaitFirstRow(band - 1, kLast);
    runGroup<TemperatureGroup>(size, r, r == top ? eastOfTop(band, edgeT, T) : T[r + 1]);
    if (r == top) publishFirstRow(band, kLast);
  }
#endif
}

void temperatureBand(int band) {
  if (band == 3) {
    computeWeights(srcI);
    temperatureAxisRow();
  }
  temperatureRows(band);
}

void vorticityRows(int band, double& sum) {
#if defined(__AVX512F__)
  vorticityRowsSimd(band, sum);
#else
  static thread_local double rows[kGroup * kPad];
  const int top = kBandTop[band], bottom = kBandBottom[band];
  for (int r = top; r >= bottom; r -= kGroup) {
    const int size = r - bottom + 1 < kGroup ? r - bottom + 1 : kGroup;
    if (r - size + 1 == bottom && band > 0) awaitFirstRow(band - 1, kLast);
    const bool first = r == top;
    runGroup<VorticityGroup>(size, r, first ? eastOfTop(band, edgeOmega, Omega) : Omega[r + 1],
                             first ? eastOfTop(band, edgePsi, Psi) : Psi[r + 1], rows);
    if (first) publishFirstRow(band, kLast);
    for (int k = 0; k < size; ++k)
      for (int j = 1; j <= kLast; ++j) {
        double w = rows[k * kPad + j];
        sum = (w * w) * 2 + sum;
      }
  }
#endif
}

// The band's sum lives in a local of the band's thread until the band is
// done: the four sums share a cache line.
void vorticityBand(int band, double& bandSum) {
  double sum = bandSum;
  if (band == 3) vorticityAxisRow(sum);
  vorticityRows(band, sum);
  bandSum = sum;
}

void copyEdgeRows(const Field& f, double (&edge)[3][kPad]) {
  for (int b = 0; b < 3; ++b)
    for (int j = 0; j <= NY; ++j) edge[b][j] = f[kBandTop[b] + 1][j];
}

// Row 601 mirrors row 599 (T as is, Omega and Psi negated): the axis row of
// the next pass reads it. The rest of the mirror half is left to
// fillMirrorHalf, since no sweep reads it.
void mirrorAxisNeighbour(Field& f, bool negate) {
  const int i = kBandTop[3];
  for (int j = 1; j <= kLast; ++j) f[mirrorRow(i)][j] = negate ? -f[i][j] : f[i][j];
}

void iterationStepImpl() {
  double bandSqSum[4] = {0.0, 0.0, 0.0, 0.0};

  copyEdgeRows(T, edgeT);
  ++passNumber;
#pragma omp parallel
  {
#if defined(__AVX512F__)
    prepareWeights();
#endif
    for (int band = 0; band < kBands; ++band) {
#pragma omp single nowait
      temperatureBand(band);
    }
  }
  mirrorAxisNeighbour(T, false);

  copyEdgeRows(Omega, edgeOmega);
  copyEdgeRows(Psi, edgePsi);
  ++passNumber;
#pragma omp parallel
  {
    for (int band = 0; band < kBands; ++band) {
#pragma omp single nowait
      vorticityBand(band, bandSqSum[band]);
    }
  }
  omegaSqSum = ((bandSqSum[0] + bandSqSum[1]) + bandSqSum[2]) + bandSqSum[3];
  mirrorAxisNeighbour(Omega, true);
  mirrorAxisNeighbour(Psi, true);
}

}  // namespace
}  // namespace plume
