#include "solver/sweeps_literal.h"

#include <atomic>

#include "solver/bands.h"
#include "solver/weights.h"
#include "state/grid.h"

namespace plume::literal {

namespace {

// Nodes of the band-edge rows are read and written by two threads in one
// sweep; relaxed atomic accesses make that well defined (either the old or the
// new value is seen, never a mixture).
inline double load(Field& f, int i, int j) {
  if (isBandEdgeRow(i)) return std::atomic_ref<double>(f[i][j]).load(std::memory_order_relaxed);
  return f[i][j];
}

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
    double as = aS(i, j, Pr), aw = aW(i, j, Pr), ae = aE(i, j, Pr), an = aN(i, j, Pr);
    double ap = aP(i, j, Pr);
    double s = ((as * load(T, i, j - 1) + aw * load(T, i - 1, j)) + ae * load(T, i + 1, j)) +
               an * load(T, i, j + 1);
    double g = s / ap;
    double v = g + relaxWeight * load(T, i, j);
    store(T, i, j, v);
    if (mirror >= 0) T[mirror][j] = v;
  });
}

void sweepVorticity(double (&bandSqSum)[4]) {
  runBands([&bandSqSum](int band, int i, int j, int mirror) {
    double as = aS(i, j, Pr), aw = aW(i, j, Pr), ae = aE(i, j, Pr), an = aN(i, j, Pr);
    double s = ((as * load(Omega, i, j - 1) + aw * load(Omega, i - 1, j)) +
                ae * load(Omega, i + 1, j)) +
               an * load(Omega, i, j + 1);
    s = s + ((T[i + 1][j] - T[i - 1][j]) / twoH) * Gr;
    double ap = aP(i, j, Pr);
    double g = s / ap;
    double w = g + relaxWeight * load(Omega, i, j);
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
    double a = (load(Psi, i, j - 1) + load(Psi, i, j + 1)) / hh;
    double b = (load(Psi, i - 1, j) + load(Psi, i + 1, j)) / hh;
    double g = ((a + b) + Omega[i][j]) / fourOverHH;
    double v = g + relaxWeight * load(Psi, i, j);
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
