#include "state/grid.h"

namespace plume {

alignas(64) Field Psi;
alignas(64) Field Omega;
alignas(64) Field T;

double Gr = 0.0;
double Pr = 0.0;
int srcI = 600;
int srcJ = 20;
int axisI = srcI;
double hx2 = h * h;
double hy2 = h * h;
double omegaSqSum = 0.0;

}  // namespace plume
