// The parameter file: six numbers in any white-space layout, the values that
// are refused with a one-line message naming the file and the value at
// fault, and the initial state with its wall temperatures.
#include "state/initial_state.h"
#include "state/parameters.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

TEST(ParameterFile, ReadsSixNumbersInAnyLayoutAndIgnoresTheRest) {
  for (const char* text :
       {"1e6 0.7 -0.5 2.5E+03 +3 100", "1e6\r\n0.7\r\n-0.5\r\n2.5e3\r\n3\r\n100\r\n",
        "  1e6\t0.7 \t\n\n-0.5 2500\r\n3.0   1e2 remarks, 1,5 and 1e999",
        "-1e5 -0 0 0 0 0"}) {  // Pr = 0 and Gr < 0 are valid
    Case v{};
    EXPECT_FALSE(parseParameters(text, v).has_value()) << text;
    EXPECT_TRUE((v.Gr == 1e6 && v.Pr == 0.7 && v.tBottom == -0.5 && v.tTop == 2500 &&
                 v.tLeft == 3 && v.tRight == 100) ||
                (v.Gr == -1e5 && v.Pr == 0 && v.tRight == 0))
        << text;
  }
}

TEST(ParameterFile, MalformedFilesNameTheFileAndTheValueAtFault) {
  // clang-format off
  for (auto [text, named] : {std::pair{"", "Gr"}, {"   \r\n\t", "Gr"}, {"1e6 0.7 0 0", "tLeft"},
      {"1e6 0,7 0 0 0 0", "Pr \"0,7\""}, {"1e6 0.7 warm 0 0 0", "tBottom \"warm\""},
      {"1e6 0.7 0 0 0 nan", "tRight \"nan\""}, {"1e6 inf 0 0 0 0", "Pr \"inf\""},
      {"1e6 0.7 0 0x10 0 0", "tTop \"0x10\""}, {"1e6 0.7 0 0 1e 0", "tLeft \"1e\""},
      {"1e6 0.7 0 0 .e1 0", "tLeft \".e1\""}, {"1e400 0.7 0 0 0 0", "Gr \"1e400\""},
      {"1e6 0.7 0 -2e308 0 0", "tTop \"-2e308\""}, {"1e6 -0.5 0 0 0 0", "Pr = -0.5"}}) {
    // clang-format on
    Case v{7, 7, 7, 7, 7, 7};
    const std::string message = cp1251ToUtf8(parseParameters(text, v).value_or(""));
    EXPECT_TRUE(message.starts_with("Ошибка в файле 'Result/parametrs': ") &&
                message.find(named) != std::string::npos &&
                message.find('\n') == message.size() - 1)
        << text << ": " << message;
    EXPECT_EQ(v.Gr + v.Pr + v.tRight, 21) << "values stored from a refused file";
  }
}

TEST(ParameterFile, InitialStateSetsTheWallTemperaturesWithLeftRightCorners) {
  fillRandom(Psi, 71, -1.0, 1.0);
  fillRandom(Omega, 72, -1.0, 1.0);
  fillRandom(T, 73, -1.0, 1.0);
  setInitialState(st, testCase() = Case{2, 0.7, 10, 20, 30, 40});
  long faults = testCase().Gr != 2 || testCase().Pr != 0.7;
  for (int i = 0; i <= 1200; ++i)
    for (int j = 0; j <= 920; ++j) {
      const double t = i == 0 ? 30 : i == 1200 ? 40 : j == 0 ? 10 : j == 920 ? 20 : 0;
      faults += !sameBits(T[i][j], t) || !sameBits(Psi[i][j], 0.0) || !sameBits(Omega[i][j], 0.0);
    }
  EXPECT_EQ(faults, 0);
}
