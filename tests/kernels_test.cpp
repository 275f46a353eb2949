// The production kernels against the literal sweeps run on one thread: the same bits in every
// field and every iteration's measure, for each instruction set this CPU has, at any thread
// count, also while other threads load the CPUs.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "run/outer_loop.h"
#include "solver/cpu_features.h"
#include "solver/iteration_step.h"
#include "solver/kernels.h"
#include "solver/mirror.h"
#include "solver/sweeps_literal.h"
#include "state/initial_state.h"
#include "state/grid.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

// The production step of one instruction-set path, and whether this CPU can run it.
struct Path {
  void (*step)(State&, const Case&);
  bool available;
};
// A path's kernel with the tests' workspace.
template <void (*Kernel)(State&, const Case&, kernel::Workspace&)>
void withWorkspace(State& s, const Case& c) {
  Kernel(s, c, testWorkspace());
}

Path pathOf(Isa isa) {
  switch (isa) {
    case Isa::Avx512: return {withWorkspace<kernel::iterationStepAvx512>, cpuHasAvx512()};
    case Isa::Avx2: return {withWorkspace<kernel::iterationStepAvx2>, cpuHasAvx2Fma()};
    default: return {withWorkspace<kernel::iterationStepGeneric>, true};
  }
}

void start(const std::string& parameters) {
  Case v;
  auto fault = parseParameters(parameters, v);
  ASSERT_FALSE(fault.has_value()) << parameters;
  setInitialState(st, testCase() = v);
}

// The outer loop's body, n times; the measure of each iteration.
std::vector<double> iterate(void (*step)(State&, const Case&), int n) {
  std::vector<double> sums;
  for (int k = 0; k < n; ++k) {
    bareIteration(st, [&](State& s) { step(s, testCase()); });
    sums.push_back(st.omegaSqSum);
  }
  mirrorHalf(T, Omega, Psi);
  return sums;
}

struct Reference {
  StateCopy fields;
  std::vector<double> sums;
};

// n literal iterations on one thread from the fields as they stand.
Reference literalFromHere(int n) {
  ThreadCount one(1);
  Reference ref;
  ref.sums = iterate(literal::iterationStep, n);
  ref.fields = saveState();
  return ref;
}

// The literal sweeps from the start; each case is run once for all paths.
const Reference& literalRun(const std::string& parameters, int n) {
  static std::map<std::string, Reference> done;
  const std::string key = parameters + " n=" + std::to_string(n);
  auto found = done.find(key);
  if (found != done.end()) return found->second;
  start(parameters);
  return done.emplace(key, literalFromHere(n)).first->second;
}

void expectSame(const Reference& ref, const std::vector<double>& sums, const std::string& what) {
  std::string where;
  EXPECT_EQ(countDifferences(T, ref.fields.t, &where), 0) << what << " T " << where;
  EXPECT_EQ(countDifferences(Omega, ref.fields.omega, &where), 0) << what << " Omega " << where;
  EXPECT_EQ(countDifferences(Psi, ref.fields.psi, &where), 0) << what << " Psi " << where;
  ASSERT_EQ(sums.size(), ref.sums.size());
  for (std::size_t k = 0; k < sums.size(); ++k)
    EXPECT_TRUE(sameBits(sums[k], ref.sums[k]))
        << what << " omegaSqSum of iteration " << k << ": " << sums[k] << " vs " << ref.sums[k];
}

void expectKernelsMatch(void (*step)(State&, const Case&), const std::string& parameters, int n,
                        std::initializer_list<int> threads) {
  const Reference& ref = literalRun(parameters, n);
  for (int t : threads) {
    start(parameters);
    ThreadCount team(t);
    std::vector<double> sums = iterate(step, n);
    expectSame(ref, sums, parameters + " threads=" + std::to_string(t));
  }
}

// From the fields as they stand: n literal iterations on one thread, then n
// of `step` on two threads from the same start, compared bit for bit.
void expectKernelsMatchFromHere(void (*step)(State&, const Case&), int n, const std::string& what) {
  const StateCopy initial = saveState();
  const Reference ref = literalFromHere(n);
  restoreState(initial);
  ThreadCount team(2);
  std::vector<double> sums = iterate(step, n);
  expectSame(ref, sums, what);
}

// Busy threads that compete with the solver's team for the CPUs.
struct CpuLoad {
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  explicit CpuLoad(int n) {
    for (int i = 0; i < n; ++i)
      workers.emplace_back([this] {
        for (volatile double x = 1.0; !stop.load(std::memory_order_relaxed);) x = x * 1.0000001;
      });
  }
  ~CpuLoad() { stop = true; for (auto& w : workers) w.join(); }
};

}  // namespace

// Every test runs once per instruction-set path (PLUME_ISA's choices), each
// forced, whatever the CPU would choose; a path this CPU cannot run is skipped.
class Kernels : public ::testing::TestWithParam<Isa> {
 protected:
  void SetUp() override {
    if (!pathOf(GetParam()).available)
      GTEST_SKIP() << "the " << isaName(GetParam())
                   << " path is not run: this CPU lacks its instructions";
  }
  static void (*step())(State&, const Case&) { return pathOf(GetParam()).step; }
};

INSTANTIATE_TEST_SUITE_P(Path, Kernels,
                         ::testing::Values(Isa::Generic, Isa::Avx2, Isa::Avx512),
                         [](const auto& info) { return std::string(isaName(info.param)); });

TEST_P(Kernels, ExampleCaseAtEveryThreadCount) {
  expectKernelsMatch(step(), "100000 0.71 0 0 0 0", 12, {1, 2, 3, 4, 8});
}

TEST_P(Kernels, UnequalWalls) { expectKernelsMatch(step(), "1e6 0.71 0.3 -0.2 0.5 0.1", 8, {1, 3}); }
TEST_P(Kernels, PrandtlZero) { expectKernelsMatch(step(), "1e5 0 0.1 0 0 0", 8, {2}); }
TEST_P(Kernels, NegativeGrashof) { expectKernelsMatch(step(), "-1e5 0.71 0 0 0.2 0.2", 8, {2}); }
TEST_P(Kernels, LargeGrashof) { expectKernelsMatch(step(), "1e12 7 0 0 0 0", 8, {2, 4}); }

// Long enough for the flow to leave the still-flow bound near the source.
TEST_P(Kernels, AFewHundredIterations) {
  if (GetParam() == Isa::Generic) GTEST_SKIP() << "the generic path is too slow for 250 iterations";
  expectKernelsMatch(step(), "100000 0.71 0 0 0 0", 250, {2});
}

TEST_P(Kernels, SameBitsWhileOtherThreadsLoadTheCpus) {
  literalRun("1e6 0.71 0 0 0 0", 10);
  CpuLoad load(3);
  expectKernelsMatch(step(), "1e6 0.71 0 0 0 0", 10, {2, 4, 8});
}

// Subnormal and tiny values take the real division inside the exact
// divisions and the wavefront's edge paths: start from a field full of them.
TEST_P(Kernels, TinyAndSubnormalValues) {
  start("3e4 0.71 0 0 0 0");
  fillRandom(Psi, 7, -1e-300, 1e-300);
  fillRandom(Omega, 8, -1e-305, 1e-305);
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j) T[i][j] = (i + j) % 3 == 0 ? 4e-320 : -0.0;
  for (int i = 0; i <= NX; ++i) Psi[i][0] = Psi[i][NY] = 0.0;
  for (int j = 0; j <= NY; ++j) Psi[0][j] = Psi[NX][j] = 0.0;
  expectKernelsMatchFromHere(step(), 3, "tiny values");
}

namespace {

// Stream function whose size straddles `limit`, the largest |Psi| at which
// the weights stay 1/(h*h): per 8 x 8 tile one scale between limit/64 and
// 64*limit, so still and moving blocks mix; random signs; a few nodes exactly
// at the limit and one ulp above it. `shift` scales all of it by 2^shift.
void fillAroundLimit(double limit, int shift) {
  std::mt19937_64 next(3);
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j) {
      const int tile = (i / 8) * 131 + (j / 8);
      const double scale =
          std::ldexp(limit, static_cast<int>((tile * 2654435761u >> 7) % 13) - 6 + shift);
      double v = scale * static_cast<double>(next() >> 11) * 0x1p-53;
      if (next() % 97 == 0) v = limit;
      if (next() % 97 == 0) v = std::nextafter(limit, 1e300);
      Psi[i][j] = std::ldexp(next() & 1 ? -v : v, shift);
    }
}

}  // namespace

// The weight pass skips the weights where |Psi| around a node is small enough
// to leave them 1/(h*h); around that bound the kernels must still agree.
TEST_P(Kernels, StreamFunctionAroundTheStillFlowLimit) {
  // limit: 2^-56 / Pr, at most 2^1000; shift: where Psi lies against it.
  struct Case { const char* parameters; double limit; int shift; };
  // With Pr = 0 every weight is 1/(h*h) below the overflow cap; values near
  // the cap itself would overflow the fields within the two iterations
  // (the wall vorticity multiplies Psi by 2/(h*h) each time).
  const Case cases[] = {{"1e5 0.71 0 0 0 0", 0x1p-56 / 0.71, 0},
                        {"1e5 7 0 0 0 0", 0x1p-56 / 7, 0},
                        {"1e5 1e-300 0 0 0 0", 0x1p-56 / 1e-300, 0},
                        {"1e5 0 0 0 0 0", 0x1p1000, -100}};
  for (const Case& c : cases) {
    start(c.parameters);
    fillAroundLimit(c.limit, c.shift);
    fillRandom(T, 4, -1.0, 1.0);
    fillRandom(Omega, 5, -1e-3, 1e-3);
    expectKernelsMatchFromHere(step(), 2, std::string(c.parameters) + " around the limit");
  }
}

// Still flow with lone moving nodes, one in each block's reach at most, at
// every row and column offset within a group and a block: each block whose
// weights read one must compute them (a block taken as still by mistake
// gives weights of 1/(h*h) there).
TEST_P(Kernels, LoneMovingNodesInStillFlow) {
  start("1e5 0.71 0 0 0 0");
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j) Psi[i][j] = 0;
  for (int a = 0; a < 44; ++a) Psi[20 + 13 * a][20 + 19 * a] = a % 2 ? 1.0 : -1.0;
  fillRandom(T, 4, -1.0, 1.0);
  fillRandom(Omega, 5, -1e-3, 1e-3);
  expectKernelsMatchFromHere(step(), 1, "lone moving nodes");
}

// Rows of tiny values (out of the unchecked range) every eleven rows, so at
// every offset from a group (in it, just above it, just below it); between
// them zeros and every eighth column 2^-40. Faces that read only zeros and
// tiny values have tiny velocities, which Pr = 1e306 brings to where every
// bit of them counts: their quotients need the checked divisions.
TEST_P(Kernels, TinyRowsAtEveryOffsetFromAGroup) {
  start("1e5 1e306 0 0 0 0");
  std::mt19937_64 next(13);
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j) {
      const bool inside = i > 1 && i < NX - 1 && j > 1 && j < NY - 1;  // no wall vorticity
      if (!inside)
        Psi[i][j] = 0;
      else if (i % 11 == 0)
        Psi[i][j] = std::ldexp((next() & 1 ? -1 : 1) * (1 + double(next() >> 11) * 0x1p-53), -1020);
      else
        Psi[i][j] = j % 8 == 0 ? 0x1p-40 : 0.0;
    }
  fillRandom(T, 4, -1.0, 1.0);
  fillRandom(Omega, 5, -1e-3, 1e-3);
  expectKernelsMatchFromHere(step(), 1, "tiny rows next to groups");
}

// Rows of |Psi| all 0 or in [2^-900, 2^979/Pr] skip the division range checks: rows exactly
// at either end, one ulp and far past it (Pr so large the weights show e's last bits).
TEST_P(Kernels, StreamFunctionAtTheEdgesOfTheUncheckedDivisions) {
  // Pr = 1e-310: |e|*Pr is subnormal, the damping's t underflows.
  for (const char* parameters : {"1e5 1e306 0 0 0 0", "1e5 1e-310 0 0 0 0"}) {
    start(parameters);
    // With Pr tiny, Psi around 1 (values near the cap would overflow to NaN).
    const double top = testCase().Pr > 1 ? 0x1p979 / testCase().Pr : 1.0;
    const double edges[] = {top,      std::nextafter(top, 1e308),        top * 0x1p16,
                            0x1p-900, std::nextafter(0x1p-900, 0.0), 0x1p-1020};
    std::mt19937_64 next(11);
    for (int i = 2; i < NX - 1; ++i)  // none next to a wall: the wall vorticity stays 0
      for (int j = 2; j < NY - 1; ++j) {
        const int kind = i / 4 % 6;  // rows in fours: the middle two see only their kind
        const int k = j % 37 == 0 ? 0 : (kind < 3 ? -1 : 1) * int(next() % 8);
        Psi[i][j] = std::ldexp(next() & 1 ? -edges[kind] : edges[kind], k);
      }
    fillRandom(T, 4, -1.0, 1.0);
    fillRandom(Omega, 5, -1e-3, 1e-3);
    expectKernelsMatchFromHere(step(), 2, "Psi at the edges of the unchecked divisions");
  }
}
