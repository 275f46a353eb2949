#include "output/results.h"

#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "state/state.h"

namespace plume {

namespace {

constexpr const char* kResultRoot = "Result/251_301_5_150";
constexpr const char* kFolders[5] = {"T", "W", "V", "Vy", "Vx"};
constexpr const char* kPrefixes[5] = {
    "Result/251_301_5_150/T/T_Pr_2700_Gr_",  "Result/251_301_5_150/W/W_Pr_2700_Gr_",
    "Result/251_301_5_150/V/V_Pr_2700_Gr_",  "Result/251_301_5_150/Vy/Vy_Pr_2700_Gr_",
    "Result/251_301_5_150/Vx/Vx_Pr_2700_Gr_"};

void appendLine(std::string& out, int row, int col, double v) {
  appendInteger(out, row);
  out += '\t';
  appendInteger(out, col);
  out += '\t';
  appendNumber(out, v);
  out += '\n';
}

// Field files: column j outer, row i inner, all nodes.
std::string fieldText(const Field& f) {
  std::string out;
  out.reserve(std::size_t(kRows) * kCols * 24);
  for (int j = 0; j <= NY; ++j)
    for (int i = 0; i <= NX; ++i) appendLine(out, i + 1, j + 1, f[i][j]);
  return out;
}

// Vy: (Omega[i+1][j] - Omega[i-1][j]) / 2h for i = 0 .. NX-1, j = 1 .. NY.
// The line i = 0 takes 0.0 for the missing Omega[-1][j], the value files of
// earlier runs carry there.
std::string vyText(const Field& Omega) {
  std::string out;
  out.reserve(std::size_t(NX) * NY * 24);
  for (int j = 1; j <= NY; ++j)
    for (int i = 0; i < NX; ++i) {
      double below = i > 0 ? Omega[i - 1][j] : 0.0;
      appendLine(out, i + 1, j + 1, (Omega[i + 1][j] - below) / twoH);
    }
  return out;
}

// Vx: (Omega[i][j+1] - Omega[i][j-1]) / 2h for i = 1 .. NX, j = 0 .. NY-1.
// The line j = 0 takes Omega[i-1][NY] for the missing Omega[i][-1], the value
// files of earlier runs carry there.
std::string vxText(const Field& Omega) {
  std::string out;
  out.reserve(std::size_t(NX) * NY * 24);
  for (int j = 0; j < NY; ++j)
    for (int i = 1; i <= NX; ++i) {
      double left = j > 0 ? Omega[i][j - 1] : Omega[i - 1][NY];
      appendLine(out, i + 1, j + 1, (Omega[i][j + 1] - left) / twoH);
    }
  return out;
}

void warnNotWritten(const std::string& path) {
  consoleWrite(ru("Предупреждение: не удалось записать файл '").str() + path + "'\n");
}

}  // namespace

bool prepareResultFolders() {
  for (const char* folder : kFolders) {
    const std::string path = std::string(kResultRoot) + "/" + folder;
    if (std::optional<std::string> reason = prepareFolder(path)) {
      consoleWrite(ru("Папку '").str() + path +
                   ru("' не удалось создать или записать в нее: ").str() + *reason +
                   ru("\nРезультаты сохранить нельзя; расчет не начат.\n").str());
      return false;
    }
  }
  return true;
}

std::string resultFileName(double gr, int index) {
  return kPrefixes[index] + formatNumber(gr) + ".txt";
}

std::string resultFileText(const State& s, int index) {
  switch (index) {
    case 0: return fieldText(s.T);
    case 1: return fieldText(s.Omega);
    case 2: return fieldText(s.Psi);
    case 3: return vyText(s.Omega);
    default: return vxText(s.Omega);
  }
}

bool writeResults(const State& s, double gr) {
  bool all = true;
  for (int k = 0; k < 5; ++k) {
    const std::string path = resultFileName(gr, k);
    if (!writeFileAtomically(path, resultFileText(s, k), FileKind::Text)) {
      warnNotWritten(path);
      all = false;
    }
  }
  return all;
}

}  // namespace plume
