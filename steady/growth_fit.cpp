#include "steady/growth_fit.h"

#include <cmath>

namespace plume::steady {

namespace {

// Weighted least-squares slope of y against x.
struct Slope {
  double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  void add(double x, double y, double w) {
    sw += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y;
  }
  double value() const { return (sw * sxy - sx * sy) / (sw * sxx - sx * sx); }
};

} // namespace

GrowthFit fitGrowth(const std::vector<double> &t,
                    const std::vector<double> &norm,
                    const std::vector<double> &probe) {
  std::size_t n = t.size();
  if (n < 3)
    return {NAN, NAN};
  double half = 0.5 * (t.front() + t.back());
  std::vector<double> crossings;
  for (std::size_t k = 1; k < n; ++k)
    if (t[k - 1] >= half && (probe[k - 1] < 0) != (probe[k] < 0))
      crossings.push_back(t[k - 1] + (t[k] - t[k - 1]) * probe[k - 1] /
                                         (probe[k - 1] - probe[k]));
  double t0 = half, t1 = t.back(), frequency = 0;
  if (crossings.size() >= 2) {
    t0 = crossings.front();
    t1 = crossings.back();
    frequency = M_PI * double(crossings.size() - 1) / (t1 - t0);
    // An oscillation: the norm swings within each period (by tens of per cent
    // for a complex pair), too much for a slope over a period or two. The
    // extremes of |probe|, one per half period, grow exactly as e^(rate t):
    // each is refined by the parabola through its three samples.
    Slope peaks;
    int count = 0;
    for (std::size_t k = 1; k + 1 < n; ++k) {
      double a0 = std::fabs(probe[k - 1]), a1 = std::fabs(probe[k]),
             a2 = std::fabs(probe[k + 1]);
      if (t[k - 1] < half || !(a1 >= a0 && a1 > a2))
        continue;
      double curve = a0 - 2 * a1 + a2,
             shift = curve != 0 ? 0.5 * (a0 - a2) / curve : 0.0;
      double top = a1 - 0.25 * (a0 - a2) * shift;
      double at =
          t[k] + shift * (shift > 0 ? t[k + 1] - t[k] : t[k] - t[k - 1]);
      if (top > 0)
        peaks.add(at, std::log(top), 1.0), ++count;
    }
    if (count >= 2)
      return {peaks.value(), frequency};
  }
  // Least squares of log(norm) against t, each sample weighted by the time it
  // stands for.
  Slope slope;
  for (std::size_t k = 0; k < n; ++k) {
    if (t[k] < t0 || t[k] > t1 || !(norm[k] > 0))
      continue;
    double w =
        0.5 * ((k + 1 < n ? t[k + 1] : t[k]) - (k > 0 ? t[k - 1] : t[k]));
    slope.add(t[k], std::log(norm[k]), w);
  }
  return {slope.value(), frequency};
}

} // namespace plume::steady
