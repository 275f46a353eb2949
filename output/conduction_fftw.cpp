// The conduction state by FFTW's two-dimensional sine transform (DST-I),
// which diagonalises the five-point Laplacian with zero walls: one solve for
// the walls' values, one for a unit point load at the source, and the one
// multiple of the second that brings the source to 1. Direct, so the result
// satisfies every node's equation to rounding.
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>
#include <tuple>
#include <vector>

#include "output/conduction.h"
#include "output/heat_flows.h"

namespace plume {

namespace {

constexpr int kM = NX - 1, kN = NY - 1;  // unknowns along i and along j

struct Buffer {
  explicit Buffer(std::size_t n) : data(fftw_alloc_real(n)) {}
  ~Buffer() { fftw_free(data); }
  double* data;
};

// Eigenvalues of the second difference (2, -1) with zero ends, n unknowns.
std::vector<double> eigenvalues(int n) {
  std::vector<double> e(n);
  for (int k = 0; k < n; ++k) {
    double s = std::sin(std::numbers::pi * (k + 1) / (2.0 * (n + 1)));
    e[k] = 4 * s * s;
  }
  return e;
}

// Solves 4 U(i,j) - (its four neighbours) = b(i,j) for the unknowns
// i = 1..NX-1, j = 1..NY-1 (stored from index 0, j fastest), zero beyond them;
// b is replaced by U.
void solveLaplace(double* b) {
  fftw_plan plan = fftw_plan_r2r_2d(kM, kN, b, b, FFTW_RODFT00, FFTW_RODFT00, FFTW_ESTIMATE);
  fftw_execute(plan);
  // The transform applied twice multiplies by 2(n+1) along each direction.
  const std::vector<double> ex = eigenvalues(kM), ey = eigenvalues(kN);
  const double scale = 4.0 * (kM + 1) * (kN + 1);
  for (int k = 0; k < kM; ++k)
    for (int l = 0; l < kN; ++l) b[std::size_t(k) * kN + l] /= (ex[k] + ey[l]) * scale;
  fftw_execute(plan);
  fftw_destroy_plan(plan);
}

std::size_t unknown(int i, int j) { return std::size_t(i - 1) * kN + (j - 1); }

}  // namespace

std::optional<double> solveConduction(const Case& walls, Field& t) {
  const std::size_t n = std::size_t(kM) * kN;
  Buffer fromWalls(n), fromSource(n);
  std::fill(fromWalls.data, fromWalls.data + n, 0.0);
  std::fill(fromSource.data, fromSource.data + n, 0.0);
  for (int j = 1; j < NY; ++j) {
    fromWalls.data[unknown(1, j)] += walls.tLeft;
    fromWalls.data[unknown(NX - 1, j)] += walls.tRight;
  }
  for (int i = 1; i < NX; ++i) {
    fromWalls.data[unknown(i, 1)] += walls.tBottom;
    fromWalls.data[unknown(i, NY - 1)] += walls.tTop;
  }
  fromSource.data[unknown(srcI, srcJ)] = 1.0;
  solveLaplace(fromWalls.data);
  solveLaplace(fromSource.data);

  const std::size_t s = unknown(srcI, srcJ);
  const double wallsAtSource = fromWalls.data[s];
  const double load = (1.0 - wallsAtSource) / fromSource.data[s];
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j)
      t[i][j] = fromWalls.data[unknown(i, j)] + load * fromSource.data[unknown(i, j)];
  t[srcI][srcJ] = 1.0;
  for (int i = 0; i <= NX; ++i) t[i][0] = walls.tBottom, t[i][NY] = walls.tTop;
  for (int j = 0; j <= NY; ++j) t[0][j] = walls.tLeft, t[NX][j] = walls.tRight;
  return wallsAtSource;
}

std::optional<double> conductionSourceFlow(const Case& walls) {
  for (double w : {walls.tBottom, walls.tTop, walls.tLeft, walls.tRight})
    if (!std::isfinite(w)) return std::nullopt;
  // Main thread only.
  using Key = std::tuple<double, double, double, double>;
  static std::map<Key, std::optional<double>> cache;
  const Key key{walls.tBottom, walls.tTop, walls.tLeft, walls.tRight};
  if (auto found = cache.find(key); found != cache.end()) return found->second;

  struct Fields {
    Field t, psi;
  };
  auto f = std::make_unique<Fields>();  // zero: no flow
  std::optional<double> flow;
  std::optional<double> wallsAtSource = solveConduction(walls, f->t);
  const double size = std::max({1.0, std::fabs(walls.tBottom), std::fabs(walls.tTop),
                                std::fabs(walls.tLeft), std::fabs(walls.tRight)});
  if (wallsAtSource && std::fabs(1.0 - *wallsAtSource) > 1e-12 * size)
    flow = heatFlows(f->t, f->psi, 0.0).source;
  cache.emplace(key, flow);
  return flow;
}

}  // namespace plume
