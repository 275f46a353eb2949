#include "output/heat_flows.h"

#include "solver/weights.h"

namespace plume {

namespace {

// Flow from P to its neighbour on the +x or +y side across a face of velocity
// e: the weight's numerator (divisor 1, so exact) and the face's convection.
double flowUp(double e, double pr, double tP, double tB) {
  return upwindMinus(e, pr, 1.0) * (tP - tB) + (h * (pr * e)) * tP;
}

// The same to the neighbour on the -x or -y side; e still points along +x, +y.
double flowDown(double e, double pr, double tP, double tB) {
  return upwindPlus(e, pr, 1.0) * (tP - tB) - (h * (pr * e)) * tP;
}

}  // namespace

HeatFlows heatFlows(const Field& t, const Field& psi, double pr) {
  HeatFlows f;
  for (int i = 1; i < NX; ++i) {
    f.bottom += flowDown(velocityS(psi, i, 1), pr, t[i][1], t[i][0]);
    f.top += flowUp(velocityN(psi, i, NY - 1), pr, t[i][NY - 1], t[i][NY]);
  }
  for (int j = 1; j < NY; ++j) {
    f.left += flowDown(velocityW(psi, 1, j), pr, t[1][j], t[0][j]);
    f.right += flowUp(velocityE(psi, NX - 1, j), pr, t[NX - 1][j], t[NX][j]);
  }
  // The source's flow is what its four neighbours' equations receive from it.
  const int i = srcI, j = srcJ;
  const double ts = t[i][j];
  double received = flowUp(velocityE(psi, i - 1, j), pr, t[i - 1][j], ts);
  received += flowDown(velocityW(psi, i + 1, j), pr, t[i + 1][j], ts);
  received += flowUp(velocityN(psi, i, j - 1), pr, t[i][j - 1], ts);
  received += flowDown(velocityS(psi, i, j + 1), pr, t[i][j + 1], ts);
  f.source = -received;
  f.balance = f.source - (((f.bottom + f.top) + f.left) + f.right);
  return f;
}

}  // namespace plume
