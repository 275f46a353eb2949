#include "state/grid.h"

namespace plume {

alignas(64) Field Psi;
alignas(64) Field Omega;
alignas(64) Field T;

double Gr = 0.0;
double Pr = 0.0;
double omegaSqSum = 0.0;

}  // namespace plume
