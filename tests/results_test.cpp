// The five result files: names from Gr, the line layout and ranges of the
// field files and of the two difference files (including their lines at the
// grid's edge), and writing them through temporary files.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "output/results.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

// A state with the wall temperatures 10 (bottom), 20 (top), 30 (left),
// 40 (right), random vorticity everywhere and a random stream function that
// is zero on the walls.
void layoutState() {
  resetState();
  setInitialState({2.0, 0.7, 10.0, 20.0, 30.0, 40.0});
  fillRandom(Omega, 91, -2.0, 2.0);
  fillRandom(Psi, 92, -1e-3, 1e-3);
  for (int i = 0; i <= NX; ++i) Psi[i][0] = Psi[i][NY] = 0.0;
  for (int j = 0; j <= NY; ++j) Psi[0][j] = Psi[NX][j] = 0.0;
  T[300][400] = 0.123456789;
}

std::string line(int row, int col, double v) {
  return std::to_string(row) + "\t" + std::to_string(col) + "\t" + cFormat("%g", v) + "\n";
}

// Compares `text` line by line with the lines for j = jFrom..jTo (outer) and
// i = iFrom..iTo (inner), each "i+1 TAB j+1 TAB value(i, j)". Reports the
// first difference.
void expectLines(const std::string& text, int jFrom, int jTo, int iFrom, int iTo,
                 const std::function<double(int, int)>& value) {
  std::size_t pos = 0;
  long lines = 0;
  for (int j = jFrom; j <= jTo; ++j)
    for (int i = iFrom; i <= iTo; ++i, ++lines) {
      std::string want = line(i + 1, j + 1, value(i, j));
      if (text.compare(pos, want.size(), want) != 0) {
        std::size_t end = text.find('\n', pos);
        FAIL() << "line " << lines + 1 << " (i = " << i << ", j = " << j << "): \""
               << text.substr(pos, end == std::string::npos ? 40 : end - pos) << "\", expected \""
               << want.substr(0, want.size() - 1) << "\"";
      }
      pos += want.size();
    }
  EXPECT_EQ(pos, text.size()) << "text after the last line";
}

std::vector<std::string_view> linesOf(const std::string& text) { return splitLines(text); }

}  // namespace

TEST(ResultFiles, NamesCarryGrInTheNumberFormat) {
  struct Case {
    double gr;
    const char* text;
  };
  for (Case c : {Case{0.0, "0"}, Case{1.0, "1"}, Case{1e6, "1e+06"}, Case{1000000.4, "1e+06"},
                 Case{100000, "100000"}, Case{1.5e-5, "1.5e-05"}, Case{-3.0, "-3"}}) {
    Gr = c.gr;
    for (int k = 0; k < 5; ++k) EXPECT_EQ(resultFileName(k), resultPath(kResultFolders[k], c.text));
  }
  Gr = 0.0;
  EXPECT_EQ(resultFileName(0), "Result/251_301_5_150/T/T_Pr_2700_Gr_0.txt");
  Gr = 1e6;
  EXPECT_EQ(resultFileName(4), "Result/251_301_5_150/Vx/Vx_Pr_2700_Gr_1e+06.txt");
}

TEST(ResultFiles, FieldFilesHoldEveryNodeColumnByColumn) {
  layoutState();
  const std::string t = resultFileText(0);
  auto lines = linesOf(t);
  ASSERT_EQ(lines.size(), 921u * 1201u);
  EXPECT_EQ(lines[0], "1\t1\t30");
  EXPECT_EQ(lines[1], "2\t1\t10");
  EXPECT_EQ(lines[1200], "1201\t1\t40");
  EXPECT_EQ(lines[1201], "1\t2\t30");
  EXPECT_EQ(lines[400 * 1201 + 300], "301\t401\t0.123457");
  EXPECT_EQ(lines.back(), "1201\t921\t40");
  expectLines(t, 0, 920, 0, 1200, [](int i, int j) { return T[i][j]; });

  expectLines(resultFileText(1), 0, 920, 0, 1200, [](int i, int j) { return Omega[i][j]; });

  const std::string v = resultFileText(2);
  lines = linesOf(v);
  ASSERT_EQ(lines.size(), 921u * 1201u);
  long nonZeroWall = 0;
  for (std::size_t k = 0; k < 1201; ++k) {
    nonZeroWall += !lines[k].ends_with("\t0");
    nonZeroWall += !lines[lines.size() - 1 - k].ends_with("\t0");
  }
  EXPECT_EQ(nonZeroWall, 0);
  expectLines(v, 0, 920, 0, 1200, [](int i, int j) { return Psi[i][j]; });
}

TEST(ResultFiles, VyHoldsDifferencesAlongI) {
  layoutState();
  const std::string vy = resultFileText(3);
  auto lines = linesOf(vy);
  ASSERT_EQ(lines.size(), 920u * 1200u);
  // Row i = 0 would need Omega[-1][j]: it takes 0.0 there.
  EXPECT_EQ(std::string(lines[0]) + "\n", line(1, 2, (Omega[1][1] - 0.0) / kTwoStep));
  EXPECT_EQ(std::string(lines[1]) + "\n", line(2, 2, (Omega[2][1] - Omega[0][1]) / kTwoStep));
  EXPECT_EQ(std::string(lines.back()) + "\n",
            line(1200, 921, (Omega[1200][920] - Omega[1198][920]) / kTwoStep));
  expectLines(vy, 1, 920, 0, 1199, [](int i, int j) {
    return (Omega[i + 1][j] - (i > 0 ? Omega[i - 1][j] : 0.0)) / kTwoStep;
  });
}

TEST(ResultFiles, VxHoldsDifferencesAlongJ) {
  layoutState();
  const std::string vx = resultFileText(4);
  auto lines = linesOf(vx);
  ASSERT_EQ(lines.size(), 920u * 1200u);
  // Column j = 0 would need Omega[i][-1]: it takes Omega[i-1][920] there.
  EXPECT_EQ(std::string(lines[0]) + "\n", line(2, 1, (Omega[1][1] - Omega[0][920]) / kTwoStep));
  EXPECT_EQ(std::string(lines[1199]) + "\n",
            line(1201, 1, (Omega[1200][1] - Omega[1199][920]) / kTwoStep));
  EXPECT_EQ(std::string(lines[1200]) + "\n", line(2, 2, (Omega[1][2] - Omega[1][0]) / kTwoStep));
  EXPECT_EQ(std::string(lines.back()) + "\n",
            line(1201, 920, (Omega[1200][920] - Omega[1200][918]) / kTwoStep));
  expectLines(vx, 0, 919, 1, 1200, [](int i, int j) {
    return (Omega[i][j + 1] - (j > 0 ? Omega[i][j - 1] : Omega[i - 1][920])) / kTwoStep;
  });
}

TEST(ResultFiles, WritingReplacesTheFilesWholeAndLeavesNoTemporaryFile) {
  layoutState();
  ScratchDir dir;
  makeWorkingDir(dir.path, "");
  WorkingDirectory cwd(dir.path);
  // An older, longer file of the same name is replaced, not overwritten in part.
  const std::string t = resultFileText(0);
  std::ofstream(resultFileName(0), std::ios::binary) << t << t;

  ::testing::internal::CaptureStdout();
  writeResults();
  std::string first[5];
  for (int k = 0; k < 5; ++k) first[k] = readFile(resultFileName(k));
  writeResults();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE(kResultFolders[k]);
    EXPECT_TRUE(first[k] == resultFileText(k)) << "file differs from its text";
    EXPECT_TRUE(readFile(resultFileName(k)) == first[k]) << "second write differs";
  }
  std::vector<std::string> expected;
  for (int k = 0; k < 5; ++k) expected.push_back(resultFileName(k));
  expected.push_back("Result/parametrs");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(filesBelow(dir.path), expected);
}

TEST(ResultFiles, MissingFolderGivesAWarningAndTheOtherFilesAreWritten) {
  layoutState();
  ScratchDir dir;
  makeWorkingDir(dir.path, "");
  std::filesystem::remove(dir.path / "Result" / "251_301_5_150" / "Vx");
  WorkingDirectory cwd(dir.path);

  ::testing::internal::CaptureStdout();
  writeResults();
  const std::string console = ::testing::internal::GetCapturedStdout();

  auto lines = linesOf(console);
  ASSERT_EQ(lines.size(), 1u) << console;
  EXPECT_NE(lines[0].find(resultFileName(4)), std::string::npos) << console;
  std::vector<std::string> expected = {"Result/parametrs"};
  for (int k = 0; k < 4; ++k) expected.push_back(resultFileName(k));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(filesBelow(dir.path), expected);
  EXPECT_TRUE(readFile(resultFileName(3)) == resultFileText(3));
}

TEST(ResultFiles, WriteFileAtomicallyReportsAFileThatCannotBeWritten) {
  ScratchDir dir;
  WorkingDirectory cwd(dir.path);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(writeFileAtomically("here.txt", "abc\n"));
  EXPECT_FALSE(writeFileAtomically("nowhere/there.txt", "abc\n"));
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(readFile("here.txt"), "abc\n");
  auto lines = linesOf(console);
  ASSERT_EQ(lines.size(), 1u) << console;
  EXPECT_NE(lines[0].find("nowhere/there.txt"), std::string::npos) << console;
  EXPECT_EQ(filesBelow(dir.path), std::vector<std::string>{"here.txt"});
}
