#include "solver/sweeps_literal.h"

#include <atomic>

#include "solver/bands.h"
#include "solver/node_update.h"
#include "state/state.h"

namespace plume::literal {

namespace {

// Nodes of the band-edge rows are read and written by two threads in one
// sweep; relaxed atomic accesses make that well defined (either the old or the
// new value is seen, never a mixture). Whether a row is a band-edge row is
// decided once per row: its loop uses the atomic accesses, every other row's
// loop the plain ones. Both do the same operations in the same order.
struct AtomicAccess {
  double operator()(const Field& f, int i, int j) const {
    return std::atomic_ref<double>(const_cast<double&>(f[i][j])).load(std::memory_order_relaxed);
  }
  static void store(Field& f, int i, int j, double v) {
    std::atomic_ref<double>(f[i][j]).store(v, std::memory_order_relaxed);
  }
};

struct PlainAccess {
  double operator()(const Field& f, int i, int j) const { return f[i][j]; }
  static void store(Field& f, int i, int j, double v) { f[i][j] = v; }
};

// Columns of row i from `from` to `to` (step +1 or -1): update(access, i, j).
template <class Update>
void row(Update& update, int i, int from, int to) {
  const int step = from <= to ? 1 : -1;
  if (isBandEdgeRow(i)) {
    for (int j = from; j != to + step; j += step) update(AtomicAccess{}, i, j);
  } else {
    for (int j = from; j != to + step; j += step) update(PlainAccess{}, i, j);
  }
}

// The band frame: four single-thread work blocks without a barrier between
// them, offered in the order 1..4. `update(access, i, j, mirror, sum)`
// updates node (i, j); `mirror` is the row that receives its mirror value, or
// -1 on the axis row; `sum` is the band's sum, kept in a local of its block
// from bandSum[band] on and stored back there when the block is done.
template <class Update>
void runBands(Update update, double* bandSum = nullptr) {
#pragma omp parallel
  {
    for (int band = 0; band < kBands; ++band) {
#pragma omp single nowait
      {
        double sum = bandSum != nullptr ? bandSum[band] : 0.0;
        auto ordinary = [&](auto access, int i, int j) { update(access, i, j, mirrorRow(i), sum); };
        auto axis = [&](auto access, int i, int j) { update(access, i, j, -1, sum); };
        if (band == kBands - 1) {
          if (srcJ + 1 <= NY - 1) row(axis, srcI, srcJ + 1, NY - 1);
          if (srcJ - 1 >= 1) row(axis, srcI, srcJ - 1, 1);
        }
        for (int i = kBandTop[band]; i >= kBandBottom[band]; --i) row(ordinary, i, 1, NY - 1);
        if (bandSum != nullptr) bandSum[band] = sum;
      }
    }
  }
}

}  // namespace

void sweepTemperature(State& s, const Case& c) {
  runBands([&s, &c](auto get, int i, int j, int mirror, double&) {
    double v = temperatureUpdate(s, c, i, j, get);
    get.store(s.T, i, j, v);
    if (mirror >= 0) s.T[mirror][j] = v;
  });
}

void sweepVorticity(State& s, const Case& c, double (&bandSqSum)[4]) {
  runBands(
      [&s, &c](auto get, int i, int j, int mirror, double& sum) {
        double w = vorticityUpdate(s, c, i, j, get);
        get.store(s.Omega, i, j, w);
        if (mirror >= 0) {
          s.Omega[mirror][j] = -w;
          sum = (w * w) * 2 + sum;
        } else {
          sum = w * w + sum;
        }
      },
      bandSqSum);
}

void sweepStreamFunction(State& s) {
  runBands([&s](auto get, int i, int j, int mirror, double&) {
    double v = streamFunctionUpdate(s, i, j, get);
    get.store(s.Psi, i, j, v);
    if (mirror >= 0) s.Psi[mirror][j] = -v;
  });
}

void iterationStep(State& s, const Case& c) {
  double bandSqSum[4] = {0.0, 0.0, 0.0, 0.0};
  sweepTemperature(s, c);
  sweepVorticity(s, c, bandSqSum);
  s.omegaSqSum = ((bandSqSum[0] + bandSqSum[1]) + bandSqSum[2]) + bandSqSum[3];
  sweepStreamFunction(s);
}

}  // namespace plume::literal
