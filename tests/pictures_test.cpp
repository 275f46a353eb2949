// The commands that read a working directory's result files: plume-pictures
// (PNG pictures) and plume-vtk (ParaView export), on small synthetic result
// sets of 11 x 9 nodes written here in the program's file layout.

#include <gtest/gtest.h>

#include <zlib.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume::testing;

namespace {

const fs::path kTools = fs::path(__FILE__).parent_path().parent_path() / "tools";
constexpr int kNx = 10, kNy = 8;  // intervals: rows 0 .. 10, columns 0 .. 8

double tValue(int i, int j) { return i + 100.0 * j; }
double wValue(int i, int j) { return (i - 5) * 0.5 + j * 0.25; }
double vValue(int i, int j) { return -(i * 3.0 + j * 0.125); }

fs::path resultFile(const fs::path& dir, const std::string& folder, const std::string& gr) {
  return dir / "Result" / "251_301_5_150" / folder / (folder + "_Pr_2700_Gr_" + gr + ".txt");
}

// One file in the program's layout: column j outer, row i inner.
template <class Value>
void writeTable(const fs::path& path, int i0, int i1, int j0, int j1, Value value) {
  std::ofstream out(path, std::ios::binary);
  char v[40];
  for (int j = j0; j <= j1; ++j)
    for (int i = i0; i <= i1; ++i) {
      std::snprintf(v, sizeof v, "%.17g", value(i, j));
      out << i + 1 << '\t' << j + 1 << '\t' << v << '\n';
    }
}

void writeResultSet(const fs::path& dir, const std::string& gr) {
  makeWorkingDir(dir, "100000 0.71 0 0 0 0\n");
  writeTable(resultFile(dir, "T", gr), 0, kNx, 0, kNy, tValue);
  writeTable(resultFile(dir, "W", gr), 0, kNx, 0, kNy, wValue);
  writeTable(resultFile(dir, "V", gr), 0, kNx, 0, kNy, vValue);
  writeTable(resultFile(dir, "Vy", gr), 0, kNx - 1, 1, kNy, [](int i, int j) { return i + 20.0 * j; });
  writeTable(resultFile(dir, "Vx", gr), 1, kNx, 0, kNy - 1, [](int i, int j) { return -i - 20.0 * j; });
}

RunResult runTool(const fs::path& dir, const std::string& tool, const std::string& args) {
  std::string command = (kTools / tool).string();
  return runIn(dir, command.insert(0, 1, '\'').append("' ").append(args).append(" 2>&1"));
}

bool hasMatplotlib() {
  ScratchDir d;
  return runIn(d.path, "/usr/bin/python3 -c 'import matplotlib, numpy' 2>/dev/null").status == 0;
}

// Big-endian double at `at` of the VTK file's binary part.
double bigEndianDouble(const std::string& bytes, std::size_t at) {
  std::uint64_t u = 0;
  for (int b = 0; b < 8; ++b) u = u << 8 | static_cast<unsigned char>(bytes[at + b]);
  return std::bit_cast<double>(u);
}

}  // namespace

TEST(Pictures, DrawTheChosenRunWithTheGivenStateOnlyNonFiniteNodesBlank) {
  if (!hasMatplotlib()) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib or numpy";
  ScratchDir dir;
  writeResultSet(dir.path, "100000");
  writeResultSet(dir.path, "1e+06");
  // A diverged field: NaN and infinities beside values far outside the colour range.
  writeTable(resultFile(dir.path, "W", "1e+06"), 0, kNx, 0, kNy,
             [](int i, int j) { return i == 3 ? NAN : (j == 2 ? -HUGE_VAL : (i == 4 ? 1e30 : 0.5)); });
  RunResult r = runTool(dir.path, "plume-pictures", ". --gr 1e6 --out elsewhere --state 'steady solution'");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Omega: 19 of 99 nodes are not finite (left blank)"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("T: "), std::string::npos) << r.output;
  for (const char* name : {"temperature", "streamlines", "vorticity"}) {
    std::string png = readFile(dir.path / "elsewhere" / (std::string(name) + "_Gr_1e+06.png"));
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << name;
    // The title chunk: Pr and walls only from a parameter file of the same Gr.
    EXPECT_NE(png.find(", Gr = 1e+06\nsteady solution"), std::string::npos) << name;
  }
}

TEST(Pictures, WithoutAStateTheTitleSaysWhatTheSummarySays) {
  if (!hasMatplotlib()) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib or numpy";
  ScratchDir dir;
  writeResultSet(dir.path, "100000");
  // Without --state the title says what the run's summary says: Pr, walls, state.
  const fs::path summary = dir.path / "Result/251_301_5_150/summary_Gr_100000.json";
  const std::string head = "{\"gr\": 1e+05, \"pr\": 0.5, \"t_bottom\": 0, \"t_top\": 0.25, "
                           "\"t_left\": 0, \"t_right\": -1, ";
  const std::pair<std::string, std::string> states[] = {
      {"\"newton_steps\": 5, \"verified\": false, \"sum_omega_sq\": 3.5}", "steady solution, NOT verified"},
      {"\"iterations\": 7, \"verified\": false, \"sum_omega_sq\": null}", "diverged at iteration 7"}};
  for (const auto& [facts, state] : states) {
    std::ofstream(summary) << head << facts;
    RunResult r = runTool(dir.path, "plume-pictures", ". --gr 100000");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(readFile(dir.path / "pictures/streamlines_Gr_100000.png")
                  .find(", Gr = 100000, Pr = 0.5\nwalls: bottom 0, top 0.25, left 0, right -1; " + state),
              std::string::npos) << state;
  }
}

// With neither a state nor a summary, the parameter file's case and the
// iteration plume printed before its checkpoint (the one it records, less one).
TEST(Pictures, WithoutASummaryTheTitleNamesTheIterationTheCheckpointRecords) {
  if (!hasMatplotlib()) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib or numpy";
  ScratchDir dir;
  writeResultSet(dir.path, "100000");
  std::string ckpt = "PLUMECKP" + std::string(112, '\0');
  ckpt[72] = 42;
  std::ofstream(dir.path / "Result/251_301_5_150/checkpoint_Gr_100000.bin", std::ios::binary) << ckpt;
  RunResult r = runTool(dir.path, "plume-pictures", ". --gr 100000");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(readFile(dir.path / "pictures/temperature_Gr_100000.png")
                .find("Gr = 100000, Pr = 0.71\nwalls: bottom 0, top 0, left 0, right 0; after 41 iterations"),
            std::string::npos);
}

TEST(Pictures, SweepDrawsNusseltAndPsiMaxAgainstGrAndRefusesABadTable) {
  if (!hasMatplotlib()) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib or numpy";
  ScratchDir dir;
  const std::string header =
      "gr,pr,t_bottom,t_top,t_left,t_right,status,newton_steps,seconds,q_source,q_bottom,q_top,"
      "q_left,q_right,balance,nu,psi_max,psi_min,u_max,v_max,sum_omega_sq\n";
  std::ofstream(dir.path / "sweep.csv")
      << header << "1e5,0.71,0,0,0,0,verified,5,9.5,1.2,0.3,0.3,0.3,0.3,0,1.5,2e-3,-2e-3,0.1,0.2,7\n"
      << "1e6,0.71,0,0,0,0,unverified,6,9.5,1.4,0.3,0.3,0.4,0.4,0,2.5,5e-3,-5e-3,0.1,0.2,7\n"
      << "1e7,0.71,0,0,0,0,failed,6,9.5,,,,,,,,,,,,\n";
  RunResult r = runTool(dir.path, "plume-pictures", "--sweep .");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* name : {"nusselt_vs_Gr", "psi_max_vs_Gr"})
    EXPECT_NE(readFile(dir.path / "pictures" / (std::string(name) + ".png"))
                  .find(" against Gr, Pr = 0.71\nwalls: bottom 0, top 0, left 0, right 0"),
              std::string::npos) << name;
  std::ofstream(dir.path / "sweep.csv") << header << "1e5,0.71,0,0,0,0,done,5,9.5,1.2,0.3,0.3,0.3,0.3,0,1.5,2e-3,-2e-3,0.1,0.2,7\n";
  r = runTool(dir.path, "plume-pictures", "--sweep .");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("sweep.csv: malformed: status 'done' is none of verified, unverified, failed"),
            std::string::npos) << r.output;
}

TEST(Pictures, VtkExportHoldsTheGridAndEveryField) {
  if (!hasMatplotlib()) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib or numpy";
  ScratchDir dir;
  writeResultSet(dir.path, "100000");
  RunResult r = runTool(dir.path, "plume-vtk", "");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string v = readFile(dir.path / "vtk/plume_Gr_100000.vtk");
  const std::string head = "# vtk DataFile Version 3.0\nplume Gr = 100000\nBINARY\nDATASET STRUCTURED_GRID\n"
                           "DIMENSIONS 11 9 1\nPOINTS 99 double\n";
  ASSERT_EQ(v.substr(0, head.size()), head);
  // Point p = i + 11 j at (i h, j h, 0); then T, Omega, Psi, Vy, Vx, i fastest.
  EXPECT_EQ(bigEndianDouble(v, head.size() + 8 * (3 * 98 + 1)), 0.8);
  std::size_t at = v.find("SCALARS Psi double 1\nLOOKUP_TABLE default\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(bigEndianDouble(v, at + 42 + 8 * (3 + 11 * 4)), vValue(3, 4));
  EXPECT_TRUE(std::isnan(bigEndianDouble(v, v.find("SCALARS Vx double 1\nLOOKUP_TABLE default\n") + 41)));
  // Velocity from Psi = -(3i + j/8), h = 1/10: u = dPsi/dy = -1.25, v = -dPsi/dx = 30; 0 on the walls.
  at = v.find("VECTORS velocity double\n");
  ASSERT_NE(at, std::string::npos);
  at += 24;
  EXPECT_DOUBLE_EQ(bigEndianDouble(v, at + 24 * (3 + 11 * 4)), -1.25);
  EXPECT_DOUBLE_EQ(bigEndianDouble(v, at + 24 * (3 + 11 * 4) + 8), 30);
  EXPECT_EQ(bigEndianDouble(v, at + 24 * (10 + 11 * 4) + 8), 0.0);
  EXPECT_EQ(v.size(), at + 24 * 99 + 1);
}

TEST(Pictures, BadResultFilesStopBothCommandsWithTheirNames) {
  if (!hasMatplotlib()) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib or numpy";
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  EXPECT_NE(runTool(dir.path, "plume-pictures", "").output.find("no result files in"), std::string::npos);
  writeResultSet(dir.path, "100000");
  fs::path w = resultFile(dir.path, "W", "100000"), v = resultFile(dir.path, "V", "100000");
  std::string whole = readFile(w);
  std::ofstream(w, std::ios::binary) << whole.substr(0, 40) << "4\t2\t0,5\n" << whole.substr(40);
  writeTable(v, 0, kNx - 1, 0, kNy, vValue);
  const std::pair<const char*, const char*> cases[] = {
      {"plume-pictures", "W_Pr_2700_Gr_100000.txt: malformed: line"},
      {"plume-vtk", "W_Pr_2700_Gr_100000.txt: malformed: line"}};
  for (auto [tool, message] : cases) {
    RunResult r = runTool(dir.path, tool, "");
    EXPECT_EQ(r.status, 1) << tool;
    EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Traceback"), std::string::npos) << r.output;
  }
  std::ofstream(w, std::ios::binary) << whole;
  RunResult r = runTool(dir.path, "plume-pictures", "");
  EXPECT_NE(r.output.find("V_Pr_2700_Gr_100000.txt: malformed: 10 x 9 nodes, but the T file has 11 x 9"),
            std::string::npos) << r.output;
  fs::remove(v);
  r = runTool(dir.path, "plume-vtk", "");
  EXPECT_NE(r.output.find("missing result file"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir.path / "pictures") || fs::exists(dir.path / "vtk"));
}

TEST(Pictures, DrawsACheckpointsExactFieldsAndABranchTable) {
  if (!hasMatplotlib()) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib or numpy";
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  // A checkpoint in the program's layout: the stored half, rows 0 .. 600.
  const int rows = 1201, cols = 921, stored = 601;
  std::string ckpt = "PLUMECKP";
  auto put = [&ckpt](auto v) { ckpt.append(reinterpret_cast<const char*>(&v), sizeof v); };
  put(std::uint32_t{1}), put(std::uint32_t(rows)), put(std::uint32_t(cols)), put(std::uint32_t(stored));
  for (double p : {1.25e8, 0.71, 0.0, 0.0, 0.0, 0.0}) put(p);
  ckpt.append(48, '\0');
  auto value = [](int f, int i, int j) {
    return f == 0 ? 0.1 * i + 1e-17 * j : (f == 1 ? i - 0.5 * j : std::ldexp(1.0 + j, -i));
  };
  for (int f = 0; f < 3; ++f)
    for (int i = 0; i < stored; ++i)
      for (int j = 0; j < cols; ++j) put(value(f, i, j));
  put(std::uint32_t(crc32(0, reinterpret_cast<const unsigned char*>(ckpt.data()), ckpt.size())));
  fs::path file = dir.path / "Result/251_301_5_150/checkpoint_branch_7_Gr_1.25e+08.bin";
  std::ofstream(file, std::ios::binary) << ckpt;
  std::string read = "/usr/bin/python3 -c 'import sys; sys.path.insert(0, \"" + kTools.string() +
                     "\"); import plume_results as p; r, gr, pr = p.load_checkpoint(\"" + file.string() +
                     "\"); print(repr(r.T[1197][4]), repr(r.Omega[1190][3]), repr(r.Psi[1199][8]), gr, r.gr_text)'";
  RunResult values = runIn(dir.path, read);
  // Row 1197 mirrors row 3: T even, Omega and Psi odd, every bit kept.
  auto text = [](double v) {
    char b[32];
    return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
  };
  EXPECT_EQ(values.output, text(value(0, 3, 4)) + " " + text(-value(1, 10, 3)) + " " +
                               text(-value(2, 1, 8)) + " 125000000.0 1.25e+08\n") << values.output;

  RunResult r = runTool(dir.path, "plume-pictures", "--checkpoint " + file.string() + " --out pics");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string png = readFile(dir.path / "pics/temperature_branch_7_Gr_1.25e+08.png");
  EXPECT_NE(png.find("Gr = 1.25e+08, Pr = 0.71\ncheckpoint_branch_7_Gr_1.25e+08.bin"), std::string::npos);

  std::ofstream(dir.path / "Result/251_301_5_150/branch.csv")
      << "k,s,gr,psi_max,nu,q_source,sum_omega_sq,stable,lambda_sym_re,lambda_sym_im,lambda_anti_re,"
         "lambda_anti_im,label\n0,0,1e5,1,2,,,1,,,,,\n1,0.1,2e5,2,3,,,1,,,,,\n2,0.2,3e5,3,,,,0,,,,,fold\n"
         "3,0.3,2e5,4,5,,,,,,,,\n";
  r = runTool(dir.path, "plume-pictures", "--branch .");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir.path / "pictures/branch.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
  r = runTool(dir.path, "plume-pictures", "--branch nowhere");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("nowhere/Result/251_301_5_150/branch.csv: cannot be read"), std::string::npos) << r.output;
}
