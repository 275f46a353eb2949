// The run summary: minutes and seconds from the elapsed time, and its exact
// Windows-1251 bytes.

#include <gtest/gtest.h>

#include <string>

#include "run/summary.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

std::string expectedSummary(const std::string& gr, const std::string& pr, int minutes, int seconds) {
  return toCp1251("Размерность сетки = 920*1200\nGr = " + gr + "\tPr = " + pr +
                  "\nПонадобилось времени: " + std::to_string(minutes) + " минут,   " +
                  std::to_string(seconds) + " секунд\n\n");
}

}  // namespace

TEST(RunSummary, ThreeLinesAndAnEmptyLineInWindows1251) {
  Gr = 1e6;
  Pr = 0.71;
  const std::string s = runSummary(3725.9);
  EXPECT_EQ(s, expectedSummary("1e+06", "0.71", 62, 5));
  // "Раз..." in Windows-1251.
  ASSERT_GE(s.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(s[0]), 0xD0);
  EXPECT_EQ(static_cast<unsigned char>(s[1]), 0xE0);
  EXPECT_EQ(static_cast<unsigned char>(s[2]), 0xE7);
}

TEST(RunSummary, MinutesAndSecondsAreBothTakenFromTheWholeTime) {
  Gr = 1;
  Pr = 0;
  struct Case {
    double elapsed;
    int minutes, seconds;
  };
  for (Case c : {Case{3725.9, 62, 5}, Case{3600.5, 60, 0}, Case{0.4, 0, 0}, Case{0.0, 0, 0},
                 Case{59.99, 0, 59}, Case{60.0, 1, 0}, Case{61.7, 1, 1}, Case{7199.9, 119, 59}}) {
    SCOPED_TRACE(c.elapsed);
    EXPECT_EQ(runSummary(c.elapsed), expectedSummary("1", "0", c.minutes, c.seconds));
  }
}
