// Built with AVX-512 (see band_sum_skip.h).
#include "solver/band_sum.h"
#include "solver/band_sum_skip.h"

namespace plume {

bool negligibleTermsAvx512(const double* w, double s) { return negligibleTerms(w, halfUlpOf(s)); }

}  // namespace plume
