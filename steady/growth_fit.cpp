#include "steady/growth_fit.h"

#include <cmath>

namespace plume::steady {

GrowthFit fitGrowth(const std::vector<double>& t, const std::vector<double>& norm,
                    const std::vector<double>& probe) {
  std::size_t n = t.size();
  if (n < 3) return {NAN, NAN};
  double half = 0.5 * (t.front() + t.back());
  std::vector<double> crossings;
  for (std::size_t k = 1; k < n; ++k)
    if (t[k - 1] >= half && (probe[k - 1] < 0) != (probe[k] < 0))
      crossings.push_back(t[k - 1] + (t[k] - t[k - 1]) * probe[k - 1] / (probe[k - 1] - probe[k]));
  double t0 = half, t1 = t.back(), frequency = 0;
  if (crossings.size() >= 2) {
    t0 = crossings.front();
    t1 = crossings.back();
    frequency = M_PI * double(crossings.size() - 1) / (t1 - t0);
  }
  // Least squares of log(norm) against t, each sample weighted by the time it
  // stands for.
  double sw = 0, st = 0, sy = 0, stt = 0, sty = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (t[k] < t0 || t[k] > t1 || !(norm[k] > 0)) continue;
    double w = 0.5 * ((k + 1 < n ? t[k + 1] : t[k]) - (k > 0 ? t[k - 1] : t[k]));
    double y = std::log(norm[k]);
    sw += w, st += w * t[k], sy += w * y, stt += w * t[k] * t[k], sty += w * t[k] * y;
  }
  double rate = (sw * sty - st * sy) / (sw * stt - st * st);
  return {rate, frequency};
}

}  // namespace plume::steady
