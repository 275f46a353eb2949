// The production iteration step, written once and compiled for each
// instruction set by kernel_generic.cpp, kernel_avx2.cpp and kernel_avx512.cpp.
// With AVX2 or AVX-512 the rows below the axis run as the vector wavefront
// (wavefront.h), otherwise as the scalar lockstep (lockstep_scalar.h).
//
// Why it gives the bits of the literal sweeps run on one thread:
//  * Weights: with the same operations as weights.h; aP is ((aW + aS) + aE)
//    + aN as the literal aP adds them. Division by h, 2h, h*h and 4/(h*h)
//    uses the exact division of exact_division.h, which returns the
//    correctly rounded quotient. Where aP is 4/(h*h) bit for bit (no flow to
//    speak of), S / aP is that exact division too: the same divisor, the
//    same quotient. The scalar lockstep computes a band's rows of weights in
//    its temperature sweep and keeps them for the vorticity sweep; the
//    vector wavefront computes each block's weights just ahead of it in both
//    sweeps, from Psi as it was before the iteration (block_weights.h).
//  * Still flow. Where |Psi| around a node is below the bound proven at
//    kStillWeight, every weight rounds to 1/(h*h): the weights are that
//    constant without being computed (the wavefront: the block is flagged).
//  * Wavefront. In a band, node (i, j) depends only on (i, j-1) and on row
//    i+1 at column j, both updated before it. A group of rows r, r-1, ... is
//    run in lockstep along a skewed diagonal: at step c row r-k updates
//    column c-k. Each node then reads exactly the values the row-by-row order
//    gives it: (i, j-1) and (i+1, j) new, (i-1, j) and (i, j+1) old.
//  * Fusion. The stream-function update of (i, j) reads Omega only at (i, j)
//    and Psi around it; the vorticity update no longer reads Psi (its weights
//    are stored). So each node's stream function is updated right after its
//    vorticity, which leaves every value read unchanged.
//  * Bands and threads: band_sync.h.
//  * Mirror half. The sweeps read no mirror row but row 601, whose nodes
//    the axis row reads (T also in the buoyancy of the vorticity pass); it is
//    copied from row 599 after each pass, the others only by fillMirrorHalf
//    before the fields are read whole.
//  * Sums. The vorticity band sums add 2*w*w in the band's visiting order,
//    row after row, from the stored values (the wavefront adds them a few
//    nodes per step, still in that order).
#pragma once

#include "solver/band_sync.h"
#include "solver/bands.h"
#include "solver/kernel_nodes.h"
#include "solver/kernel_workspace.h"
#include "solver/kernel_weights.h"
#include "solver/mirror.h"
#include "state/state.h"

#if defined(__AVX2__)
#include "solver/wavefront.h"
#else
#include "solver/lockstep_scalar.h"
#endif

namespace plume {
namespace {

// ------------------------------------------------------------ axis row

// Axis row: columns srcJ+1 .. 919, then srcJ-1 .. 1; rows 599 and 601 hold
// their values from before the pass; no mirror.
void temperatureAxisNode(State& st, const Workspace& ws, int j) {
  const int i = srcI;
  Field& T = st.T;
  T[i][j] = temperatureAt(st, ws, i, j, T[i][j - 1], T[i + 1][j]);
}

void temperatureAxisRow(State& st, const Workspace& ws) {
  for (int j = srcJ + 1; j <= kLast; ++j) temperatureAxisNode(st, ws, j);
  for (int j = srcJ - 1; j >= 1; --j) temperatureAxisNode(st, ws, j);
}

void vorticityAxisNode(State& st, const Workspace& ws, double Gr, int j, double& sum) {
  const int i = srcI;
  Field &Omega = st.Omega, &Psi = st.Psi;
  double w = vorticityAt(st, ws, Gr, i, j, Omega[i][j - 1], Omega[i + 1][j]);
  Omega[i][j] = w;
  sum = w * w + sum;
  Psi[i][j] = streamFunctionAt(st, i, j, Psi[i][j - 1], Psi[i + 1][j], w);
}

void vorticityAxisRow(State& st, const Workspace& ws, double Gr, double& sum) {
  for (int j = srcJ + 1; j <= kLast; ++j) vorticityAxisNode(st, ws, Gr, j, sum);
  for (int j = srcJ - 1; j >= 1; --j) vorticityAxisNode(st, ws, Gr, j, sum);
}

// -------------------------------------------------------------- bands

void temperatureBand(State& st, Workspace& ws, double pr, int band) {
  if (band == kBands - 1) {
    computeWeights(ws, st.Psi, pr, srcI);
    temperatureAxisRow(st, ws);
  }
#if defined(__AVX2__)
  temperatureRowsSimd(st, ws, pr, band);
#else
  temperatureRowsScalar(st, ws, pr, band);
#endif
}

// The band's sum lives in a local of the band's thread until the band is
// done: the four sums share a cache line.
void vorticityBand(State& st, Workspace& ws, const Case& c, int band, double& bandSum) {
  double sum = bandSum;
  if (band == kBands - 1) vorticityAxisRow(st, ws, c.Gr, sum);
#if defined(__AVX2__)
  vorticityRowsSimd(st, ws, c, band, sum);
#else
  vorticityRowsScalar(st, ws, c, band, sum);
#endif
  bandSum = sum;
}

// Row 601 mirrors row 599: the axis row of the next pass reads it. The rest
// of the mirror half is left to mirrorHalf, since no sweep reads it.
constexpr int kAxisNeighbour = kBandTop[kBands - 1];

void iterationStepImpl(State& st, const Case& c, Workspace& ws) {
  double bandSqSum[4] = {0.0, 0.0, 0.0, 0.0};

  copyEdgeRows(st.T, ws.edgeT);
  ++ws.passNumber;
#pragma omp parallel
  {
    for (int band = 0; band < kBands; ++band) {
#pragma omp single nowait
      temperatureBand(st, ws, c.Pr, band);
    }
  }
  mirror(st.T, kParityT, kAxisNeighbour, 1, kLast);

  copyEdgeRows(st.Omega, ws.edgeOmega);
  copyEdgeRows(st.Psi, ws.edgePsi);
#if defined(__AVX2__)
  copyPsiBefore(ws, st.Psi);
#endif
  ++ws.passNumber;
#pragma omp parallel
  {
    for (int band = 0; band < kBands; ++band) {
#pragma omp single nowait
      vorticityBand(st, ws, c, band, bandSqSum[band]);
    }
  }
  st.omegaSqSum = ((bandSqSum[0] + bandSqSum[1]) + bandSqSum[2]) + bandSqSum[3];
  mirror(st.Omega, kParityOmega, kAxisNeighbour, 1, kLast);
  mirror(st.Psi, kParityPsi, kAxisNeighbour, 1, kLast);
}

}  // namespace
}  // namespace plume
