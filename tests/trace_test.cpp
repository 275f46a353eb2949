// plume-trace: the fields and per-iteration measures of N iterations, the
// same as computed here with the literal sweeps, from either step and any
// thread count.
#include <gtest/gtest.h>

#include <string>

#include "solver/iteration_step.h"
#include "solver/sweeps_literal.h"
#include "state/initial_state.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

TEST(Trace, WritesTheFieldsAndMeasuresOfTheIterations) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0.5 0 0 0\n", false);
  std::string sums;
  ThreadCount team(1);
  setInitialState(st, testCase() = Case{1e5, 0.71, 0.5, 0, 0, 0});
  for (int k = 0; k < 3; ++k) {
    bareIteration(st, [&](State& s) { literal::iterationStep(s, testCase()); });
    sums += std::to_string(k) + "\t" + cFormat("%.17g", st.omegaSqSum) + "\n";
  }
  // Little-endian doubles, row-major: the bytes of the fields in memory here.
  const std::string want[4] = {sums, std::string((const char*)T, sizeof T),
                               std::string((const char*)Omega, sizeof Omega),
                               std::string((const char*)Psi, sizeof Psi)};
  for (auto [args, threads] : {std::pair{" 3 . literal", 1}, {" 3 . production", 1}, {" 3 .", 3}}) {
    RunResult r = runIn(
        dir.path, "OMP_NUM_THREADS=" + std::to_string(threads) + " " PLUME_TRACE_BINARY + args);
    EXPECT_EQ(r.status, 0) << args;
    EXPECT_EQ(r.output, "") << args;
    int f = 0;
    for (const char* file : {"omegaSqSum.txt", "T.f64", "Omega.f64", "Psi.f64"})
      EXPECT_TRUE(readFile(dir.path / file) == want[f++]) << args << " " << file;
  }
  EXPECT_EQ(filesBelow(dir.path).size(), 5u);  // no result files, no report
}
