#include "output/derived.h"

#include <cmath>

#include "output/conduction.h"

namespace plume {

namespace {

// Whether v replaces the extreme found so far: the first node wins a tie, a
// NaN never wins, and anything beats the NaN an extreme starts from.
bool above(double v, double best) { return v > best || (std::isnan(best) && !std::isnan(v)); }
bool below(double v, double best) { return v < best || (std::isnan(best) && !std::isnan(v)); }

void keep(bool better, Extreme& e, double v, int i, int j) {
  if (better) e = {v, i * h, j * h};
}

}  // namespace

double velocityU(const Field& psi, int i, int j) { return (psi[i][j + 1] - psi[i][j - 1]) / twoH; }

double velocityV(const Field& psi, int i, int j) { return -((psi[i + 1][j] - psi[i - 1][j]) / twoH); }

Derived computeDerived(const Field& t, const Field& psi, const Case& c) {
  Derived d;
  d.flows = heatFlows(t, psi, c.Pr);
  std::optional<double> conduction = conductionSourceFlow(c);
  if (conduction) d.nu = d.flows.source / *conduction;

  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) {
      keep(above(psi[i][j], d.psiMax.value), d.psiMax, psi[i][j], i, j);
      keep(below(psi[i][j], d.psiMin.value), d.psiMin, psi[i][j], i, j);
      if (i == 0 || i == NX || j == 0 || j == NY) continue;
      const double u = std::fabs(velocityU(psi, i, j)), v = std::fabs(velocityV(psi, i, j));
      keep(above(u, d.uMax.value), d.uMax, u, i, j);
      keep(above(v, d.vMax.value), d.vMax, v, i, j);
    }
  return d;
}

}  // namespace plume
