// Built with AVX2 (see band_sum_skip.h).
#include "solver/band_sum.h"
#include "solver/band_sum_skip.h"

namespace plume {

bool negligibleTermsAvx2(const double* w, double s) { return negligibleTerms(w, halfUlpOf(s)); }

}  // namespace plume
