#include "output/derived.h"

#include <cmath>

#include "output/conduction.h"

namespace plume {

namespace {

// Keeps the first node where `better` holds against the best so far; a NaN
// never wins.
template <class Better>
void consider(Extreme& e, bool& found, double v, int i, int j, Better better) {
  if (found && !better(v, e.value)) return;
  if (!found && std::isnan(v)) return;
  e = {v, i * h, j * h};
  found = true;
}

}  // namespace

double velocityU(const Field& psi, int i, int j) { return (psi[i][j + 1] - psi[i][j - 1]) / twoH; }

double velocityV(const Field& psi, int i, int j) { return -((psi[i + 1][j] - psi[i - 1][j]) / twoH); }

Derived computeDerived(const Field& t, const Field& psi, const ParameterValues& c) {
  Derived d;
  d.flows = heatFlows(t, psi, c.Pr);
  std::optional<double> conduction = conductionSourceFlow(c);
  if (conduction) d.nu = d.flows.source / *conduction;

  auto greater = [](double a, double b) { return a > b; };
  auto less = [](double a, double b) { return a < b; };
  bool psiFound[2] = {false, false}, velocityFound[2] = {false, false};
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) {
      consider(d.psiMax, psiFound[0], psi[i][j], i, j, greater);
      consider(d.psiMin, psiFound[1], psi[i][j], i, j, less);
      if (i == 0 || i == NX || j == 0 || j == NY) continue;
      consider(d.uMax, velocityFound[0], std::fabs(velocityU(psi, i, j)), i, j, greater);
      consider(d.vMax, velocityFound[1], std::fabs(velocityV(psi, i, j)), i, j, greater);
    }
  // A field of NaN only: its extremes are NaN too.
  for (int k = 0; k < 2; ++k) {
    if (!psiFound[k]) (k == 0 ? d.psiMax : d.psiMin) = {NAN, NAN, NAN};
    if (!velocityFound[k]) (k == 0 ? d.uMax : d.vMax) = {NAN, NAN, NAN};
  }
  return d;
}

}  // namespace plume
