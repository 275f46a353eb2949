#include "solver/sweeps_literal.h"

#include <atomic>

#include "solver/bands.h"
#include "solver/node_update.h"
#include "state/grid.h"

namespace plume::literal {

namespace {

// Nodes of the band-edge rows are read and written by two threads in one
// sweep; relaxed atomic accesses make that well defined (either the old or the
// new value is seen, never a mixture).
constexpr auto load = [](const Field& f, int i, int j) {
  auto& node = const_cast<double&>(f[i][j]);
  if (isBandEdgeRow(i)) return std::atomic_ref<double>(node).load(std::memory_order_relaxed);
  return node;
};

inline void store(Field& f, int i, int j, double v) {
  if (isBandEdgeRow(i))
    std::atomic_ref<double>(f[i][j]).store(v, std::memory_order_relaxed);
  else
    f[i][j] = v;
}

// The band frame: four single-thread work blocks without a barrier between
// them, offered in the order 1..4. `update(band, i, j, mirror)` updates node
// (i, j); `mirror` is the row that receives its mirror value, or -1 on the
// axis row.
template <class Update>
void runBands(Update update) {
#pragma omp parallel
  {
    for (int band = 0; band < 3; ++band) {
#pragma omp single nowait
      for (int i = kBandTop[band]; i >= kBandBottom[band]; --i)
        for (int j = 1; j <= NY - 1; ++j) update(band, i, j, mirrorRow(i));
    }
#pragma omp single nowait
    {
      for (int j = srcJ + 1; j <= NY - 1; ++j) update(3, srcI, j, -1);
      for (int j = srcJ - 1; j >= 1; --j) update(3, srcI, j, -1);
      for (int i = axisI - 1; i >= 451; --i)
        for (int j = 1; j <= NY - 1; ++j) update(3, i, j, 2 * axisI - i);
    }
  }
}

}  // namespace

void sweepTemperature() {
  runBands([](int, int i, int j, int mirror) {
    double v = temperatureUpdate(i, j, load);
    store(T, i, j, v);
    if (mirror >= 0) T[mirror][j] = v;
  });
}

void sweepVorticity(double (&bandSqSum)[4]) {
  runBands([&bandSqSum](int band, int i, int j, int mirror) {
    double w = vorticityUpdate(i, j, load);
    store(Omega, i, j, w);
    if (mirror >= 0) {
      Omega[mirror][j] = -w;
      bandSqSum[band] = (w * w) * 2 + bandSqSum[band];
    } else {
      bandSqSum[band] = w * w + bandSqSum[band];
    }
  });
}

void sweepStreamFunction() {
  runBands([](int, int i, int j, int mirror) {
    double v = streamFunctionUpdate(i, j, load);
    store(Psi, i, j, v);
    if (mirror >= 0) Psi[mirror][j] = -v;
  });
}

void iterationStep() {
  double bandSqSum[4] = {0.0, 0.0, 0.0, 0.0};
  sweepTemperature();
  sweepVorticity(bandSqSum);
  omegaSqSum = ((bandSqSum[0] + bandSqSum[1]) + bandSqSum[2]) + bandSqSum[3];
  sweepStreamFunction();
}

}  // namespace plume::literal
