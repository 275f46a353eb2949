// Tests of the commands that read a working directory's result files:
// tools/plume-pictures (PNG pictures) and tools/plume-vtk (ParaView export).
// They run on small synthetic result sets of 11 x 9 nodes written here in the
// program's file layout.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume::testing;

namespace {

const fs::path kTools = fs::path(__FILE__).parent_path().parent_path() / "tools";
constexpr int kNx = 10;  // intervals along i: rows 0 .. 10
constexpr int kNy = 8;   // intervals along j: columns 0 .. 8

bool python3Has(const std::string& module) {
  ScratchDir dir;
  return runIn(dir.path, "/usr/bin/python3 -c 'import " + module + "' 2>/dev/null").status == 0;
}

// Distinct, exactly representable values per file and node.
double tValue(int i, int j) { return i + 100.0 * j; }
double wValue(int i, int j) { return (i - 5) * 0.5 + j * 0.25; }
double vValue(int i, int j) { return -(i * 3.0 + j * 0.125); }
double vyValue(int i, int j) { return 1000.0 + i + 20.0 * j; }
double vxValue(int i, int j) { return -1000.0 - i - 20.0 * j; }

std::string fmt(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

fs::path resultFile(const fs::path& dir, const std::string& folder, const std::string& gr) {
  return dir / "Result" / "251_301_5_150" / folder / (folder + "_Pr_2700_Gr_" + gr + ".txt");
}

// Writes one file in the program's layout: column j outer, row i inner,
// lines "i+1<TAB>j+1<TAB>value".
void writeTable(const fs::path& path, int i0, int i1, int j0, int j1,
                const std::function<double(int, int)>& value) {
  std::ofstream out(path, std::ios::binary);
  for (int j = j0; j <= j1; ++j)
    for (int i = i0; i <= i1; ++i) out << i + 1 << '\t' << j + 1 << '\t' << fmt(value(i, j)) << '\n';
}

// The five files of a run with the given Gr text, with the ranges plume writes.
void writeResultSet(const fs::path& dir, const std::string& gr) {
  makeWorkingDir(dir, "100000 0.71 0 0 0 0\n");
  writeTable(resultFile(dir, "T", gr), 0, kNx, 0, kNy, tValue);
  writeTable(resultFile(dir, "W", gr), 0, kNx, 0, kNy, wValue);
  writeTable(resultFile(dir, "V", gr), 0, kNx, 0, kNy, vValue);
  writeTable(resultFile(dir, "Vy", gr), 0, kNx - 1, 1, kNy, vyValue);
  writeTable(resultFile(dir, "Vx", gr), 1, kNx, 0, kNy - 1, vxValue);
}

// Replaces line `number` (from 1) of a file.
void replaceLine(const fs::path& path, int number, const std::string& line) {
  std::istringstream in(readFile(path));
  std::string out, l;
  for (int n = 1; std::getline(in, l); ++n) out += (n == number ? line : l) + '\n';
  std::ofstream(path, std::ios::binary) << out;
}

RunResult runTool(const fs::path& dir, const std::string& tool, const std::string& args) {
  return runIn(dir, "'" + (kTools / tool).string() + "' " + args + " 2>&1");
}

const std::string kPngSignature = "\x89PNG\r\n\x1a\n";

// The text of the PNG's "Title" tEXt chunk, or "" without one.
std::string pngTitle(const std::string& png) {
  std::size_t at = png.find(std::string("tEXtTitle") + '\0');
  if (at == std::string::npos || at < 4) return "";
  auto b = [&](std::size_t k) { return std::uint32_t(static_cast<unsigned char>(png[k])); };
  std::uint32_t length = b(at - 4) << 24 | b(at - 3) << 16 | b(at - 2) << 8 | b(at - 1);
  return png.substr(at + 10, length - 6);
}

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!python3Has("matplotlib")) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib";
  }
  ScratchDir dir;
};

class VtkExport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!python3Has("numpy")) GTEST_SKIP() << "/usr/bin/python3 lacks numpy";
  }
  ScratchDir dir;
};

}  // namespace

TEST_F(Pictures, RendersTemperatureStreamlinesAndVorticity) {
  writeResultSet(dir.path, "100000");
  RunResult r = runTool(dir.path, "plume-pictures", "");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::pair<const char*, const char*> expected[] = {
      {"temperature_Gr_100000.png", "Temperature T, Gr = 100000"},
      {"streamlines_Gr_100000.png", "Streamlines (contours of Psi), Gr = 100000"},
      {"vorticity_Gr_100000.png", "Vorticity Omega, Gr = 100000"}};
  for (auto [name, title] : expected) {
    fs::path png = dir.path / "pictures" / name;
    std::string bytes = readFile(png);
    ASSERT_GT(bytes.size(), 1000u) << png;
    EXPECT_EQ(bytes.substr(0, 8), kPngSignature) << png;
    EXPECT_EQ(pngTitle(bytes), title) << png;
    EXPECT_NE(r.output.find(std::string("pictures/") + name + "\n"), std::string::npos) << r.output;
  }
}

TEST_F(Pictures, ChoosesTheRunByGrAndWritesWhereAsked) {
  writeResultSet(dir.path, "100000");
  writeResultSet(dir.path, "1e+06");
  RunResult r = runTool(dir.path, "plume-pictures", ". --gr 1e6 --out elsewhere --region 0.2 0.8 0 0.5");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(dir.path / "elsewhere" / "vorticity_Gr_1e+06.png").substr(0, 8), kPngSignature);
  EXPECT_FALSE(fs::exists(dir.path / "elsewhere" / "vorticity_Gr_100000.png"));
  EXPECT_FALSE(fs::exists(dir.path / "pictures"));

  r = runTool(dir.path, "plume-pictures", ". --gr 5");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no result files for Gr = 5"), std::string::npos) << r.output;
}

TEST_F(Pictures, WithoutGrTakesTheNewestRun) {
  writeResultSet(dir.path, "100000");
  writeResultSet(dir.path, "2000");
  auto now = fs::file_time_type::clock::now();
  fs::last_write_time(resultFile(dir.path, "T", "2000"), now - std::chrono::hours(2));
  fs::last_write_time(resultFile(dir.path, "T", "100000"), now - std::chrono::hours(1));
  RunResult r = runIn(dir.path / "Result", "'" + (kTools / "plume-pictures").string() + "' .. 2>&1");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(fs::exists(dir.path / "pictures" / "temperature_Gr_100000.png"));
  EXPECT_FALSE(fs::exists(dir.path / "pictures" / "temperature_Gr_2000.png"));
}

TEST_F(Pictures, DivergedRunWithNonFiniteValuesIsDrawn) {
  // A diverged run saves fields holding nan, -nan and inf.
  writeResultSet(dir.path, "1e+200");
  writeTable(resultFile(dir.path, "T", "1e+200"), 0, kNx, 0, kNy,
             [](int i, int j) { return (i + j) % 3 ? std::nan("") : 0.5; });
  writeTable(resultFile(dir.path, "W", "1e+200"), 0, kNx, 0, kNy, [](int, int) { return -std::nan(""); });
  writeTable(resultFile(dir.path, "V", "1e+200"), 0, kNx, 0, kNy,
             [](int i, int) { return i == 3 ? -HUGE_VAL : 0.0; });
  RunResult r = runTool(dir.path, "plume-pictures", "");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* name : {"temperature", "streamlines", "vorticity"})
    EXPECT_EQ(readFile(dir.path / "pictures" / (std::string(name) + "_Gr_1e+200.png")).substr(0, 8),
              kPngSignature)
        << name;
}

TEST_F(Pictures, MissingFileFailsWithItsName) {
  writeResultSet(dir.path, "100000");
  fs::remove(resultFile(dir.path, "V", "100000"));
  RunResult r = runTool(dir.path, "plume-pictures", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("plume-pictures: missing result file"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("V_Pr_2700_Gr_100000.txt"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("Traceback"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir.path / "pictures" / "temperature_Gr_100000.png"));
}

TEST_F(Pictures, NoRunInTheFolderFails) {
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  RunResult r = runTool(dir.path, "plume-pictures", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("plume-pictures: no result files in"), std::string::npos) << r.output;
}

TEST_F(Pictures, MalformedLineFailsWithFileAndLineNumber) {
  writeResultSet(dir.path, "100000");
  replaceLine(resultFile(dir.path, "W", "100000"), 14, "4\t2\t0,5");  // decimal comma
  RunResult r = runTool(dir.path, "plume-pictures", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("W_Pr_2700_Gr_100000.txt: malformed: line 14 is '4\\t2\\t0,5'"), std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("Traceback"), std::string::npos) << r.output;
}

TEST_F(Pictures, TruncatedOrReorderedFilesFail) {
  writeResultSet(dir.path, "100000");
  fs::path t = resultFile(dir.path, "T", "100000");
  std::string whole = readFile(t);
  // Cut off in the middle of the last line: two fields only.
  std::ofstream(t, std::ios::binary) << whole.substr(0, whole.size() - 4);
  RunResult r = runTool(dir.path, "plume-pictures", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("T_Pr_2700_Gr_100000.txt: malformed"), std::string::npos) << r.output;

  // Whole lines missing at the end.
  std::ofstream(t, std::ios::binary) << whole.substr(0, whole.rfind('\n', whole.size() - 2) + 1);
  r = runTool(dir.path, "plume-pictures", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("malformed: the lines do not cover the grid column by column (98 lines"),
            std::string::npos)
      << r.output;

  // Rows and columns swapped (row outer): the layout is wrong.
  std::ofstream(t, std::ios::binary) << whole;
  replaceLine(t, 2, "1\t2\t100");
  replaceLine(t, 12, "2\t1\t1");
  r = runTool(dir.path, "plume-pictures", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("(line 2 has row 1, column 2; expected row 2, column 1)"), std::string::npos)
      << r.output;
}

TEST_F(Pictures, GridSizesMustAgree) {
  writeResultSet(dir.path, "100000");
  writeTable(resultFile(dir.path, "V", "100000"), 0, kNx - 1, 0, kNy, vValue);
  RunResult r = runTool(dir.path, "plume-pictures", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("V_Pr_2700_Gr_100000.txt: malformed: 10 x 9 nodes, but the T file has 11 x 9"),
            std::string::npos)
      << r.output;
}

namespace {

// A legacy VTK file as plume-vtk writes it: header lines, then binary
// big-endian doubles.
struct VtkFile {
  std::vector<std::string> header;
  std::vector<double> points;
  std::vector<std::pair<std::string, std::vector<double>>> fields;
  std::string error;
};

VtkFile parseVtk(const std::string& bytes) {
  VtkFile v;
  std::size_t at = 0;
  auto line = [&]() {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    std::string l = bytes.substr(at, end - at);
    at = std::min(end + 1, bytes.size());
    return l;
  };
  auto doubles = [&](std::size_t n) {
    std::vector<double> out(n);
    if (at + 8 * n > bytes.size()) {
      v.error = "data cut off";
      return out;
    }
    for (std::size_t k = 0; k < n; ++k) {
      std::uint64_t u = 0;
      for (int b = 0; b < 8; ++b) u = u << 8 | static_cast<unsigned char>(bytes[at + 8 * k + b]);
      out[k] = std::bit_cast<double>(u);
    }
    at += 8 * n;
    return out;
  };
  for (int k = 0; k < 6; ++k) v.header.push_back(line());
  std::size_t count = 0;
  if (std::sscanf(v.header[5].c_str(), "POINTS %zu double", &count) != 1) {
    v.error = "no POINTS line: " + v.header[5];
    return v;
  }
  v.points = doubles(3 * count);
  if (line() != "" || line() != "POINT_DATA " + std::to_string(count)) {
    v.error = "no POINT_DATA line";
    return v;
  }
  while (at < bytes.size() && v.error.empty()) {
    std::string scalars = line();
    char name[64];
    if (std::sscanf(scalars.c_str(), "SCALARS %63s double 1", name) != 1 || line() != "LOOKUP_TABLE default") {
      v.error = "bad field header: " + scalars;
      break;
    }
    v.fields.emplace_back(name, doubles(count));
    if (line() != "") v.error = "no line end after field " + std::string(name);
  }
  return v;
}

}  // namespace

TEST_F(VtkExport, WritesAStructuredGridWithAllFieldsAsPointData) {
  writeResultSet(dir.path, "100000");
  RunResult r = runTool(dir.path, "plume-vtk", "");
  ASSERT_EQ(r.status, 0) << r.output;
  fs::path file = dir.path / "vtk" / "plume_Gr_100000.vtk";
  EXPECT_NE(r.output.find("vtk/plume_Gr_100000.vtk\n"), std::string::npos) << r.output;
  VtkFile v = parseVtk(readFile(file));
  ASSERT_EQ(v.error, "");
  EXPECT_EQ(v.header[0], "# vtk DataFile Version 3.0");
  EXPECT_EQ(v.header[1], "plume Gr = 100000");
  EXPECT_EQ(v.header[2], "BINARY");
  EXPECT_EQ(v.header[3], "DATASET STRUCTURED_GRID");
  EXPECT_EQ(v.header[4], "DIMENSIONS 11 9 1");
  EXPECT_EQ(v.header[5], "POINTS 99 double");

  // Points run with i fastest: point p = i + 11 j lies at (i h, j h, 0), h = 1/10.
  const double h = 1.0 / kNx;
  for (int j = 0; j <= kNy; ++j)
    for (int i = 0; i <= kNx; ++i) {
      std::size_t p = std::size_t(i + (kNx + 1) * j);
      EXPECT_DOUBLE_EQ(v.points[3 * p], i * h) << i << "," << j;
      EXPECT_DOUBLE_EQ(v.points[3 * p + 1], j * h) << i << "," << j;
      EXPECT_EQ(v.points[3 * p + 2], 0.0);
    }
  EXPECT_EQ(v.points[3 * 98], 1.0);
  EXPECT_DOUBLE_EQ(v.points[3 * 98 + 1], 0.8);

  ASSERT_EQ(v.fields.size(), 5u);
  const char* names[] = {"T", "Omega", "Psi", "Vy", "Vx"};
  double (*values[])(int, int) = {tValue, wValue, vValue, vyValue, vxValue};
  for (int f = 0; f < 5; ++f) {
    EXPECT_EQ(v.fields[f].first, names[f]);
    const std::vector<double>& data = v.fields[f].second;
    for (int j = 0; j <= kNy; ++j)
      for (int i = 0; i <= kNx; ++i) {
        double got = data[std::size_t(i + (kNx + 1) * j)];
        bool missing = (f == 3 && (i == kNx || j == 0)) || (f == 4 && (i == 0 || j == kNy));
        if (missing)
          EXPECT_TRUE(std::isnan(got)) << names[f] << " " << i << "," << j;
        else
          EXPECT_EQ(got, values[f](i, j)) << names[f] << " " << i << "," << j;
      }
  }
}

TEST_F(VtkExport, WithoutDifferenceFilesWritesTheThreeFields) {
  writeResultSet(dir.path, "1e+06");
  fs::remove(resultFile(dir.path, "Vy", "1e+06"));
  fs::remove(resultFile(dir.path, "Vx", "1e+06"));
  RunResult r = runTool(dir.path, "plume-vtk", "--out out --gr 1000000");
  ASSERT_EQ(r.status, 0) << r.output;
  VtkFile v = parseVtk(readFile(dir.path / "out" / "plume_Gr_1e+06.vtk"));
  ASSERT_EQ(v.error, "");
  ASSERT_EQ(v.fields.size(), 3u);
  EXPECT_EQ(v.fields[2].first, "Psi");
  EXPECT_EQ(v.fields[2].second[3 + 11 * 4], vValue(3, 4));
}

TEST_F(VtkExport, MissingOrMalformedFileFailsWithAMessage) {
  writeResultSet(dir.path, "100000");
  fs::path w = resultFile(dir.path, "W", "100000");
  std::string whole = readFile(w);
  fs::remove(w);
  RunResult r = runTool(dir.path, "plume-vtk", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("plume-vtk: missing result file"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("W_Pr_2700_Gr_100000.txt"), std::string::npos) << r.output;

  std::ofstream(w, std::ios::binary) << whole;
  replaceLine(resultFile(dir.path, "Vx", "100000"), 3, "4 1 -1004");  // blanks, not tabs
  r = runTool(dir.path, "plume-vtk", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Vx_Pr_2700_Gr_100000.txt: malformed: line 3 is '4 1 -1004'"), std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists(dir.path / "vtk" / "plume_Gr_100000.vtk"));
}
