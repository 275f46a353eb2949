#include <gtest/gtest.h>

#include "tests/test_support.h"

using namespace plume::testing;

TEST(EndToEnd, GrOneConvergesAtIterationZero) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1 0.71 0 0 0 0\n");
  RunResult r = runIn(dir.path, PLUME_BINARY);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("Количество итераций = 0\n"), std::string::npos) << r.output;
}
