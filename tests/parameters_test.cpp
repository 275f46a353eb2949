// The parameter file: the six numbers in any whitespace layout, the initial
// state with its wall temperatures, and the malformed files that stop the
// program with a message naming the file and the value at fault.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/text.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

ParameterValues parsed(const std::string& text) {
  ParameterValues v{-1, -1, -1, -1, -1, -1};
  auto message = parseParameters(text, v);
  EXPECT_FALSE(message.has_value()) << "\"" << text << "\": " << cp1251ToUtf8(message.value_or(""));
  return v;
}

void expectSameValues(const ParameterValues& a, const ParameterValues& b) {
  EXPECT_TRUE(sameBits(a.Gr, b.Gr));
  EXPECT_TRUE(sameBits(a.Pr, b.Pr));
  EXPECT_TRUE(sameBits(a.tBottom, b.tBottom));
  EXPECT_TRUE(sameBits(a.tTop, b.tTop));
  EXPECT_TRUE(sameBits(a.tLeft, b.tLeft));
  EXPECT_TRUE(sameBits(a.tRight, b.tRight));
}

// The message for `text` in UTF-8; fails the test when the text is accepted.
std::string rejection(const std::string& text) {
  ParameterValues v{};
  auto message = parseParameters(text, v);
  EXPECT_TRUE(message.has_value()) << "\"" << text << "\" was accepted";
  return cp1251ToUtf8(message.value_or(""));
}

}  // namespace

TEST(ParameterFile, ReadsSixNumbersInOrder) {
  ParameterValues v = parsed("1e6 0.7 -0.5 2.5E+03 +3 100");
  EXPECT_EQ(v.Gr, 1e6);
  EXPECT_EQ(v.Pr, 0.7);
  EXPECT_EQ(v.tBottom, -0.5);
  EXPECT_EQ(v.tTop, 2500.0);
  EXPECT_EQ(v.tLeft, 3.0);
  EXPECT_EQ(v.tRight, 100.0);
}

TEST(ParameterFile, AnyWhitespaceLayoutGivesTheSameValues) {
  const ParameterValues oneLine = parsed("100000 0.71 0.1 0.2 0.3 0.4\n");
  EXPECT_EQ(oneLine.Gr, 100000.0);
  EXPECT_EQ(oneLine.tRight, 0.4);
  for (const char* text : {"100000\n0.71\n0.1\n0.2\n0.3\n0.4\n",
                           "100000\r\n0.71\r\n0.1\r\n0.2\r\n0.3\r\n0.4\r\n",
                           "  100000\t0.71 \t\n\n0.1 0.2\r\n0.3   0.4",
                           "100000 0.71 0.1 0.2 0.3 0.4"}) {
    SCOPED_TRACE(text);
    expectSameValues(parsed(text), oneLine);
  }
}

TEST(ParameterFile, TextAfterTheSixthNumberIsIgnored) {
  const ParameterValues six = parsed("2 0.7 10 20 30 40");
  for (const char* text : {"2 0.7 10 20 30 40 50", "2 0.7 10 20 30 40\nremarks, 1,5 and nonsense",
                           "2 0.7 10 20 30 40 1e999"}) {
    SCOPED_TRACE(text);
    expectSameValues(parsed(text), six);
  }
}

TEST(ParameterFile, ZeroPrandtlNumberAndNegativeGrashofNumberAreValid) {
  ParameterValues v = parsed("-1e5 0 0 0 0 0");
  EXPECT_EQ(v.Gr, -1e5);
  EXPECT_EQ(v.Pr, 0.0);
  EXPECT_EQ(parsed("1e6 -0 0 0 0 0").Pr, 0.0);
}

TEST(ParameterFile, InitialStateSetsWallTemperaturesWithLeftRightCorners) {
  resetState();
  fillRandom(Psi, 71, -1.0, 1.0);
  fillRandom(Omega, 72, -1.0, 1.0);
  fillRandom(T, 73, -1.0, 1.0);
  setInitialState(parsed("2 0.7 10 20 30 40"));
  EXPECT_EQ(Gr, 2.0);
  EXPECT_EQ(Pr, 0.7);
  EXPECT_EQ(T[0][0], 30.0);
  EXPECT_EQ(T[0][920], 30.0);
  EXPECT_EQ(T[1200][0], 40.0);
  EXPECT_EQ(T[1200][920], 40.0);
  EXPECT_EQ(T[600][0], 10.0);
  EXPECT_EQ(T[600][920], 20.0);
  long faults = 0;
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) {
      double t = i == 0 ? 30.0 : i == NX ? 40.0 : j == 0 ? 10.0 : j == NY ? 20.0 : 0.0;
      faults += !sameBits(T[i][j], t) || !sameBits(Psi[i][j], 0.0) || !sameBits(Omega[i][j], 0.0);
    }
  EXPECT_EQ(faults, 0);
}

TEST(ParameterFile, MalformedFilesNameTheFileAndTheValueAtFault) {
  struct Case {
    const char* text;
    std::vector<const char*> named;  // pieces the message must contain
  };
  const Case cases[] = {
      {"", {"Gr"}},
      {"   \r\n\t", {"Gr"}},
      {"1e6 0.7 0 0 0", {"tRight"}},
      {"1e6 0.7 0 0", {"tLeft"}},
      {"1e6 0,7 0 0 0 0", {"Pr", "0,7"}},
      {"1e6 0.7 warm 0 0 0", {"tBottom", "warm"}},
      {"1e6 0.7 0 0 0 nan", {"tRight", "nan"}},
      {"1e6 inf 0 0 0 0", {"Pr", "inf"}},
      {"1e6 0.7 0 0x10 0 0", {"tTop", "0x10"}},
      {"1e6 0.7 0 0 1e 0", {"tLeft", "1e"}},
      {"1e400 0.7 0 0 0 0", {"Gr", "1e400"}},
      {"1e6 0.7 0 -2e308 0 0", {"tTop", "-2e308"}},
      {"1e6 -0.5 0 0 0 0", {"Pr", "-0.5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    std::string message = rejection(c.text);
    EXPECT_NE(message.find("Result/parametrs"), std::string::npos) << message;
    for (const char* piece : c.named) EXPECT_NE(message.find(piece), std::string::npos) << message;
    EXPECT_TRUE(message.ends_with("\n")) << message;
    EXPECT_EQ(message.find('\n'), message.size() - 1) << "one line: " << message;
  }
}

TEST(ParameterFile, MalformedFileLeavesTheStateUntouched) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1e6 0,7 0 0 0 0\n");
  WorkingDirectory cwd(dir.path);
  StdinFromDevNull noKeys;
  resetState();
  Gr = 7.0;
  Pr = 8.0;
  T[0][0] = 9.0;
  ::testing::internal::CaptureStdout();
  int status = readParameters();
  std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Gr, 7.0);
  EXPECT_EQ(Pr, 8.0);
  EXPECT_EQ(T[0][0], 9.0);
  EXPECT_NE(console.find("Pr"), std::string::npos) << console;
}
