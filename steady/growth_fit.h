// The growth rate and frequency of a perturbation recorded against time.
#pragma once

#include <vector>

namespace plume::steady {

// The growth rate and angular frequency of a perturbation whose norm is
// `norm` at times `t`, from its later half: the rate is the least-squares
// slope of log(norm) over whole oscillation periods of `probe` (the
// perturbation's value at one unknown), the frequency pi over the mean
// spacing of probe's sign changes there (0 when it keeps its sign).
struct GrowthFit {
  double rate, frequency;
};
GrowthFit fitGrowth(const std::vector<double>& t, const std::vector<double>& norm,
                    const std::vector<double>& probe);

}  // namespace plume::steady
