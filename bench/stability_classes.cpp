// plume-stability-classes: checks, at the state of a checkpoint, that the
// eigenvalues of the whole-width linearisation near the origin are those of
// the two perturbation classes of the computed half together. One run, three
// eigen-solves; the whole width doubles the unknowns (about twice the memory
// of a class).
//
//   plume-stability-classes CHECKPOINT [-stability_nev N]
//
// Prints every eigenvalue found and the largest relative distance from an
// eigenvalue of one side to the nearest of the other, within the radius both
// sides cover.

#include <slepcsys.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "output/checkpoint.h"
#include "steady/stability.h"

using namespace plume;
using namespace plume::steady;

namespace {

using Values = std::vector<std::complex<double>>;

Values values(const LeadingMode& m) {
  Values v;
  for (std::size_t k = 0; k < m.allRe.size(); ++k) v.emplace_back(m.allRe[k], m.allIm[k]);
  return v;
}

// Largest relative distance from each of `from` inside `radius` to the
// nearest of `to`.
double worstDistance(const Values& from, const Values& to, double radius) {
  double worst = 0;
  for (auto a : from) {
    if (std::abs(a) >= radius) continue;
    double best = INFINITY;
    for (auto b : to) best = std::min(best, std::abs(a - b) / std::abs(a));
    worst = std::max(worst, best);
  }
  return worst;
}

void print(const char* name, const LeadingMode& m) {
  std::printf("%s: %zu eigenvalues, all with |lambda| < %.6g, %.1f s\n", name, m.allRe.size(),
              m.radius, m.seconds);
  for (std::size_t k = 0; k < m.allRe.size(); ++k)
    std::printf("  %.12g %+.12g i\n", m.allRe[k], m.allIm[k]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: plume-stability-classes CHECKPOINT [-stability_nev N]\n");
    return 1;
  }
  static State state;
  Case c;
  CheckpointHistory history;
  CheckpointRead read = readCheckpoint(argv[1], nullptr, state, c, history);
  if (read.status != CheckpointStatus::Loaded) {
    std::fprintf(stderr, "%s", read.message.c_str());
    return 1;
  }
  if (SlepcInitialize(&argc, &argv, nullptr, nullptr) != 0) return 1;
  LeadingMode same, opposite, whole;
  int status = 1;
  if (leadingMode({state, c}, ModeClass::Same, &same) == 0 &&
      leadingMode({state, c}, ModeClass::Opposite, &opposite) == 0 &&
      leadingMode({state, c}, ModeClass::Whole, &whole) == 0) {
    print("same symmetry", same);
    print("opposite symmetry", opposite);
    print("whole width", whole);
    Values both = values(same), all = values(whole);
    Values o = values(opposite);
    both.insert(both.end(), o.begin(), o.end());
    double radius = std::min({same.radius, opposite.radius, whole.radius});
    double there = worstDistance(all, both, radius), back = worstDistance(both, all, radius);
    std::printf("within |lambda| < %.6g: whole width -> classes %.3g, classes -> whole width %.3g "
                "(relative)\n", radius, there, back);
    status = std::max(there, back) <= 1e-8 ? 0 : 2;
  }
  SlepcFinalize();
  return status;
}
