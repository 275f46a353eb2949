// What the program writes: the result file names from Gr, the layout of the
// field files and of the two difference files (spot checks of the first and
// last lines, the column-major order and the lines at the grid's edge that
// read outside it), and the run summary.
#include "output/results.h"

#include <gtest/gtest.h>

#include <string>

#include "output/run_summary.h"
#include "platform/text.h"
#include "state/initial_state.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

// Line `n` (from 0) of `text` with its line end.
std::string lineOf(const std::string& text, std::size_t n) {
  std::size_t at = 0;
  while (n-- > 0) at = text.find('\n', at) + 1;
  return text.substr(at, text.find('\n', at) + 1 - at);
}

std::string line(int row, int col, double v) {
  return std::to_string(row) + "\t" + std::to_string(col) + "\t" + cFormat("%g", v) + "\n";
}

}  // namespace

TEST(ResultFiles, NamesCarryGrInTheNumberFormat) {
  // clang-format off
  for (auto [gr, text] : {std::pair{0.0, "0"}, {1e6, "1e+06"}, {1000000.4, "1e+06"},
                          {100000.0, "100000"}, {1.5e-5, "1.5e-05"}, {-3.0, "-3"}}) {
    // clang-format on
    testCase().Gr = gr;
    for (int k = 0; k < 5; ++k)
      EXPECT_EQ(resultFileName(testCase().Gr, k), resultPath(kResultFolders[k], text));
  }
}

TEST(ResultFiles, LinesRunColumnByColumnWithTheEdgeRules) {
  setInitialState(st, testCase() = Case{2.0, 0.7, 10.0, 20.0, 30.0, 40.0});
  fillRandom(Omega, 91, -2e5, 2e5);
  fillRandom(Psi, 92, -1e-3, 1e-3);
  T[300][400] = 0.123456789;
  const std::string t = resultFileText(st, 0), w = resultFileText(st, 1), v = resultFileText(st, 2);
  const std::string vy = resultFileText(st, 3), vx = resultFileText(st, 4);
  EXPECT_EQ(lineOf(t, 0) + lineOf(t, 1) + lineOf(t, 1200) + lineOf(t, 1201),
            "1\t1\t30\n2\t1\t10\n1201\t1\t40\n1\t2\t30\n");
  EXPECT_EQ(lineOf(t, 400 * 1201 + 300), "301\t401\t0.123457\n");
  EXPECT_TRUE(t.ends_with("\n1201\t921\t40\n") && lineOf(t, 921 * 1201).empty());
  EXPECT_EQ(lineOf(w, 7 * 1201 + 9), line(10, 8, Omega[9][7]));
  EXPECT_EQ(lineOf(v, 920 * 1201 + 1200), line(1201, 921, Psi[1200][920]));
  // Vy: rows i = 0 .. 1199 of columns j = 1 .. 920; Omega[-1][j] is taken as 0.
  EXPECT_EQ(lineOf(vy, 0), line(1, 2, (Omega[1][1] - 0.0) / kTwoStep));
  EXPECT_EQ(lineOf(vy, 1), line(2, 2, (Omega[2][1] - Omega[0][1]) / kTwoStep));
  EXPECT_EQ(lineOf(vy, 1200 * 920 - 1),
            line(1200, 921, (Omega[1200][920] - Omega[1198][920]) / kTwoStep));
  // Vx: rows i = 1 .. 1200 of columns j = 0 .. 919; Omega[i][-1] is taken as Omega[i-1][920].
  EXPECT_EQ(lineOf(vx, 0), line(2, 1, (Omega[1][1] - Omega[0][920]) / kTwoStep));
  EXPECT_EQ(lineOf(vx, 1199), line(1201, 1, (Omega[1200][1] - Omega[1199][920]) / kTwoStep));
  EXPECT_EQ(lineOf(vx, 1200), line(2, 2, (Omega[1][2] - Omega[1][0]) / kTwoStep));
  EXPECT_EQ(lineOf(vx, 1200 * 920 - 1),
            line(1201, 920, (Omega[1200][920] - Omega[1200][918]) / kTwoStep));
  EXPECT_TRUE(lineOf(vy, 1200 * 920).empty() && lineOf(vx, 1200 * 920).empty());
}

TEST(RunSummary, MinutesAndSecondsBothFromTheWholeTimeInWindows1251) {
  testCase().Gr = 1e6;
  testCase().Pr = 0.71;
  for (auto [elapsed, time] : {std::pair{3725.9, "62 минут,   5"}, {59.99, "0 минут,   59"}}) {
    const std::string s = runSummary(testCase(), elapsed);
    EXPECT_TRUE(s.starts_with("\xD0\xE0\xE7")) << "not Windows-1251";  // "Раз"
    EXPECT_EQ(cp1251ToUtf8(s),
              "Размерность сетки = 920*1200\nGr = 1e+06\tPr = 0.71\n"
              "Понадобилось времени: " +
                  std::string(time) + " секунд\n\n");
  }
}
