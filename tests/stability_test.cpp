// Linear stability: each perturbation class's rows are the full-width
// equations linearised along perturbations of that class's parity, and the
// eigen-solver finds the conduction modes of the five-point Laplacian.

#include <gtest/gtest.h>
#include <slepcsys.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "solver/node_update.h"
#include "steady/critical_point.h"
#include "steady/jacobian.h"
#include "steady/stability.h"
#include "steady/time_form.h"
#include "state/initial_state.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::steady;
using namespace plume::testing;

namespace {

// Sign of the mirror image of `field` (0 T, 1 Omega, 2 Psi) for the class:
// formed here from the class definitions.
double classSignOf(ModeClass p, int field) {
  bool same = p == ModeClass::Same;
  return field == 0 ? (same ? 1.0 : -1.0) : (same ? -1.0 : 1.0);
}

// Full-width fields: rows 601 .. 1199 the mirror images of rows 599 .. 1
// with the class's signs; on the axis the components odd in the class zero.
void mirrorWholeWidth(Field* fields[3], ModeClass p) {
  for (int f = 0; f < 3; ++f) {
    Field& u = *fields[f];
    double s = classSignOf(p, f);
    for (int j = 0; j <= NY; ++j) {
      if (s < 0) u[600][j] = 0;
      for (int i = 1; i < 600; ++i) u[NX - i][j] = s * u[i][j];
    }
  }
}

// The wall vorticity of the whole width, from Psi beside each wall.
void wholeWidthWallVorticity() {
  for (int i = 0; i <= NX; ++i) Omega[i][0] = kWallFactor * Psi[i][1], Omega[i][NY] = kWallFactor * Psi[i][NY - 1];
  for (int j = 0; j <= NY; ++j) Omega[0][j] = kWallFactor * Psi[1][j], Omega[NX][j] = kWallFactor * Psi[NX - 1][j];
}

double fullWidthResidual(int i, int j, int f) {
  if (f == 0) return T[i][j] - temperatureUpdate(st, testCase(), i, j, plainGet);
  if (f == 1) return Omega[i][j] - vorticityUpdate(st, testCase(), i, j, plainGet);
  return Psi[i][j] - streamFunctionUpdate(st, i, j, plainGet);
}

}  // namespace

TEST(StabilityClasses, RowsAreTheFullWidthEquationsAlongPerturbationsOfTheirParity) {
  static Field base[3], delta[3];
  for (ModeClass p : {ModeClass::Same, ModeClass::Opposite}) {
    setInitialState(st, testCase() = Case{});  // every field and number zero
    testCase().Gr = 3e4;
    testCase().Pr = 0.71;
    fillRandom(T, 21, -1, 1);
    fillRandom(Omega, 22, -50, 50);
    fillRandom(Psi, 23, -2e-3, 2e-3);
    for (int i = 0; i <= NX; ++i) Psi[i][0] = Psi[i][NY] = 0;
    for (int j = 0; j <= NY; ++j) Psi[0][j] = Psi[NX][j] = 0;
    Field* fields[3] = {&T, &Omega, &Psi};
    mirrorWholeWidth(fields, ModeClass::Same);  // the base state is symmetric
    T[srcI][srcJ] = 1, Omega[srcI][srcJ] = 0, Psi[srcI][srcJ] = 0;
    wholeWidthWallVorticity();
    for (int f = 0; f < 3; ++f) std::copy(&(*fields[f])[0][0], &(*fields[f])[0][0] + kRows * kCols, &base[f][0][0]);

    // A perturbation of the class: zero on the walls and at the source node.
    Field* d[3] = {&delta[0], &delta[1], &delta[2]};
    fillRandom(delta[0], 31, -1, 1);
    fillRandom(delta[1], 32, -50, 50);
    fillRandom(delta[2], 33, -2e-3, 2e-3);
    for (int f = 0; f < 3; ++f) {
      for (int i = 0; i <= NX; ++i) delta[f][i][0] = delta[f][i][NY] = 0;
      for (int j = 0; j <= NY; ++j) delta[f][0][j] = delta[f][NX][j] = 0;
      delta[f][srcI][srcJ] = 0;
    }
    mirrorWholeWidth(d, p);

    // Rows beside and on the axis, at the walls and around the source.
    const int nodes[][2] = {{599, 1}, {599, 20}, {599, 500}, {600, 1}, {600, 19}, {600, 21}, {600, 919}, {598, 7}};
    for (auto [i, j] : nodes)
      for (int f = 0; f < 3; ++f) {
        for (int g = 0; g < 3; ++g) std::copy(&base[g][0][0], &base[g][0][0] + kRows * kCols, &(*fields[g])[0][0]);
        std::vector<JacobianEntry> entries;
        jacobianRow({st, testCase()}, i, j, f, entries, p);
        double linear = 0;
        for (const JacobianEntry& e : entries) {
          ASSERT_LE(e.i, srcI);
          linear += e.value * delta[e.field][e.i][e.j];
        }
        // Central differences of the full-width residual along the perturbation.
        const double eps = 1e-6;
        double r[2];
        for (int side = 0; side < 2; ++side) {
          double s = side == 0 ? eps : -eps;
          for (int g = 0; g < 3; ++g)
            for (int a = 0; a <= NX; ++a)
              for (int b = 0; b <= NY; ++b) (*fields[g])[a][b] = base[g][a][b] + s * delta[g][a][b];
          wholeWidthWallVorticity();
          r[side] = fullWidthResidual(i, j, f);
        }
        double fd = (r[0] - r[1]) / (2 * eps);
        bool heldAxisT = p == ModeClass::Opposite && f == 0 && i == srcI;
        if (heldAxisT) fd = delta[0][i][j];  // T = 0 on the axis: the identity row
        EXPECT_NEAR(linear, fd, 1e-6 * std::fabs(fd) + 1e-7)
            << (p == ModeClass::Same ? "same" : "opposite") << " class, row " << f << " at (" << i << ", " << j << ")";
        // Only T and Omega away from the source and the held axis T evolve in time.
        double m = f == 0 ? massRow(i, j, p).t : (f == 1 ? massRow(i, j, p).omega : massRow(i, j, p).psi);
        EXPECT_EQ(m, (f == 2 || heldAxisT || isSourceNode(i, j)) ? 0.0 : 1.0);
      }
  }
}

namespace {

// Eigenvalue of the five-point Laplacian with zero walls for the mode
// sin(k pi i / 1200) sin(l pi j / 920).
double laplacianMode(int k, int l) {
  double sx = std::sin(k * std::numbers::pi / (2 * 1200)), sy = std::sin(l * std::numbers::pi / (2 * 920));
  return -(4 / kStepSq) * (sx * sx + sy * sy);
}

double at(const std::vector<double>& v, int i, int j, int f) {
  if (i < 1 || j < 1 || j > NY - 1 || i > NX - 1) return 0;
  if (i > srcI) i = NX - i;
  return v[(std::size_t(i - 1) * (NY - 1) + (j - 1)) * 3 + f];
}

}  // namespace

TEST(StabilityModes, AtGrAndPrZeroTheLeadingModesAreThoseOfTheFivePointLaplacian) {
  setInitialState(st, testCase() = Case{});  // every field and number zero
  testCase().Gr = 0;
  testCase().Pr = 0;
  PetscOptionsSetValue(nullptr, "-stability_nev", "4");
  // Odd about the axis: the modes with an even k; the held source node lies
  // on the axis, where they vanish: exactly the walls-only Laplacian.
  LeadingMode opposite;
  ASSERT_EQ(leadingMode({st, testCase()}, ModeClass::Opposite, &opposite), 0);
  ASSERT_TRUE(opposite.found);
  const double odd = laplacianMode(2, 1);
  bool listed = false;
  for (std::size_t k = 0; k < opposite.allRe.size(); ++k)
    listed = listed || (std::fabs(opposite.allRe[k] - odd) <= 1e-8 * std::fabs(odd) && opposite.allIm[k] == 0);
  EXPECT_TRUE(listed) << "leading " << opposite.re;
  EXPECT_GE(opposite.re, odd * (1 + 1e-8));

  // Even about the axis, with the source node held: between the first two
  // even modes of the walls-only Laplacian (one constraint moves the first
  // by no more than to the second), and an eigenvector of the five-point
  // Laplacian with the source held, in T alone.
  LeadingMode same;
  ASSERT_EQ(leadingMode({st, testCase()}, ModeClass::Same, &same), 0);
  ASSERT_TRUE(same.found);
  EXPECT_EQ(same.im, 0.0);
  EXPECT_LT(same.re, laplacianMode(1, 1));
  EXPECT_GT(same.re, std::max(laplacianMode(1, 2), laplacianMode(3, 1)));
  const std::vector<double>& v = same.vre;
  double vmax = 0, other = 0, worst = 0;
  for (std::size_t k = 0; k < v.size(); ++k) (k % 3 == 0 ? vmax : other) = std::max(k % 3 == 0 ? vmax : other, std::fabs(v[k]));
  for (int i = 1; i <= srcI; ++i)
    for (int j = 1; j < NY; ++j) {
      if (i == srcI && j == srcJ) {
        EXPECT_LE(std::fabs(at(v, i, j, 0)), 1e-12 * vmax);  // held: zero to rounding
        continue;
      }
      auto t = [&](int a, int b) { return (a == srcI && b == srcJ) ? 0.0 : at(v, a, b, 0); };
      double lap = ((t(i - 1, j) + t(i + 1, j)) + (t(i, j - 1) + t(i, j + 1)) - 4 * t(i, j)) / kStepSq;
      worst = std::max(worst, std::fabs(lap - same.re * t(i, j)));
    }
  EXPECT_LE(other, 1e-6 * vmax);  // T alone: Omega and Psi only at the level of convergence
  EXPECT_LE(worst, 1e-7 * std::fabs(same.re) * vmax);
  PetscOptionsClearValue(nullptr, "-stability_nev");
}

TEST(StabilityCriticalPoints, CrossingsAreNamedByClassAndLocatedToTheWantedWidth) {
  EXPECT_STREQ(crossingName(crossingKind(ModeClass::Same, 0.0)), "fold");
  EXPECT_STREQ(crossingName(crossingKind(ModeClass::Opposite, 0.0)), "pitchfork");
  EXPECT_STREQ(crossingName(crossingKind(ModeClass::Same, -3.5)), "hopf");
  EXPECT_STREQ(crossingName(crossingKind(ModeClass::Opposite, 2.0)), "hopf");

  // A real part that is flat far from its zero (secant steps alone creep)
  // and one that grows steeply, both with a frequency that changes along p.
  const double zero = 1.234567e8;
  auto flat = [&](double p, double* re, double* im) {
    *re = std::tanh((p - zero) / 2e6);
    *im = 3 + p * 1e-8;
  };
  auto steep = [&](double p, double* re, double* im) {
    *re = std::exp((p - zero) / 1e7) - 1;
    *im = 3 + p * 1e-8;
  };
  for (const LeadingAt& f : {LeadingAt(flat), LeadingAt(steep)}) {
    double re0, re1, im;
    f(1e8, &re0, &im);
    f(1.8e8, &re1, &im);
    Crossing c = locateCrossing(f, 1e8, re0, 1.8e8, re1);
    EXPECT_TRUE(c.located);
    EXPECT_LE(std::fabs(c.p - zero), 1e-4 * zero) << c.p;
    EXPECT_LE(c.evaluations, 30);
    EXPECT_NEAR(c.imaginary, 3 + zero * 1e-8, 1e-4 * 3);
  }
  // No sign change: nothing located, nothing evaluated.
  Crossing none = locateCrossing(flat, 1e8, -1.0, 1.1e8, -0.5);
  EXPECT_FALSE(none.located);
  EXPECT_EQ(none.evaluations, 0);
}

TEST(StabilityCriticalPoints, ACrossingIsASignChangeOfAFoundClassAndAFoldMarksOnlyARealOneOfTheSameSymmetry) {
  auto state = [](double sameRe, double sameIm, double oppositeRe, bool oppositeFound) {
    Stability s;
    s.same.found = true;
    s.same.re = sameRe;
    s.same.im = sameIm;
    s.opposite.found = oppositeFound;
    s.opposite.re = oppositeRe;
    return s;
  };
  using V = std::vector<ModeClass>;
  EXPECT_EQ(crossedClasses(state(-1, 0, -2, true), state(-0.5, 0, -1, true)), V{});
  EXPECT_EQ(crossedClasses(state(-1, 0, -2, true), state(0.5, 3, 1, true)),
            (V{ModeClass::Same, ModeClass::Opposite}));
  EXPECT_EQ(crossedClasses(state(0.5, 0, -2, true), state(-0.5, 0, 1, true)),
            (V{ModeClass::Same, ModeClass::Opposite}));
  EXPECT_EQ(crossedClasses(state(-1, 0, -2, true), state(-1, 0, 1, false)), V{});  // not found
  EXPECT_EQ(crossedClasses(state(-1, 0, -2, true), state(-1, 0, 1, true)), V{ModeClass::Opposite});
  EXPECT_TRUE(markedByTurn(ModeClass::Same, 0, 0, true));
  EXPECT_FALSE(markedByTurn(ModeClass::Same, 0, 0, false));
  EXPECT_FALSE(markedByTurn(ModeClass::Same, 2.5, 2.5, true));  // a Hopf pair: no fold
  EXPECT_FALSE(markedByTurn(ModeClass::Opposite, 0, 0, true));  // the symmetry breaks
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  SlepcInitializeNoArguments();
  int status = RUN_ALL_TESTS();
  SlepcFinalize();
  return status;
}
