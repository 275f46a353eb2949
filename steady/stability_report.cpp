#include "steady/stability_report.h"

#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstring>

#include "output/checkpoint.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "steady/console.h"
#include "steady/residual.h"

namespace plume::steady {

namespace {

void putU32(std::string& out, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xff));
}

void putDouble(std::string& out, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int k = 0; k < 8; ++k) out.push_back(static_cast<char>((bits >> (8 * k)) & 0xff));
}

void putVector(std::string& out, const std::vector<double>& v, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) putDouble(out, k < v.size() ? v[k] : 0.0);
}

void putMode(std::string& out, ModeClass parity, const LeadingMode& m) {
  const std::size_t n = std::size_t(kUnknownRows) * kUnknownCols * 3;
  putU32(out, parity == ModeClass::Same ? 0 : 1);
  putU32(out, m.found ? 1 : 0);
  putDouble(out, m.re);
  putDouble(out, m.im);
  putVector(out, m.vre, n);
  putVector(out, m.vim, n);
}

void appendMode(std::string& line, const LeadingMode& m) {
  if (!m.found) {
    line += ru("не найдено");
    return;
  }
  appendNumber(line, m.re);
  line += m.im < 0 ? " - " : " + ";
  appendNumber(line, m.im < 0 ? -m.im : m.im);
  line += ru(" i (все с |lambda| < ").str();
  appendNumber(line, m.radius);
  line += ru(" найдены; ").str();
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f ", m.seconds);
  line += seconds;
  line += ru("с)").str();
}

}  // namespace

std::string modesPath(double gr) {
  std::string path = checkpointPath(gr);
  return path.substr(0, path.size() - 4) + ".modes.bin";
}

bool writeModes(const Stability& s, double gr) { return writeModesBeside(checkpointPath(gr), s); }

bool writeModesBeside(const std::string& checkpoint, const Stability& s) {
  std::string bytes = "PLUMEMOD";
  putU32(bytes, 1);
  putU32(bytes, kUnknownRows);
  putU32(bytes, kUnknownCols);
  putU32(bytes, 2);
  putMode(bytes, ModeClass::Same, s.same);
  putMode(bytes, ModeClass::Opposite, s.opposite);
  const std::string path = checkpoint.substr(0, checkpoint.size() - 4) + ".modes.bin";
  const std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr) {
    ok = std::fflush(f) == 0 && ok;
    if (ok) syncFile(f);
    ok = std::fclose(f) == 0 && ok;
  }
  ok = ok && replaceFile(temp, path);
  if (!ok) {
    std::remove(temp.c_str());
    consoleWrite(ru("Файл собственных векторов не записан: ").str() + path + "\n");
  }
  return ok;
}

std::string stabilityText(const Stability& s) {
  std::string text = ru("Устойчивость: ведущее собственное значение симметричных возмущений ").str();
  appendMode(text, s.same);
  text += ru(",\n  антисимметричных (T нечетна, Omega и Psi четны) ");
  appendMode(text, s.opposite);
  text += s.stable ? ru(".\n  Состояние устойчиво.\n").str()
                   : ru(".\n  Состояние НЕ устойчиво (или ведущее значение не найдено).\n").str();
  return text;
}

StabilityFacts reportStability(const Evaluation& at) {
  Stability s;
  if (computeStability(at, &s) != 0) {
    consoleWrite(ru("Расчет устойчивости не удался.\n").str());
    return {false, NAN, NAN, NAN, NAN};
  }
  consoleWrite(stabilityText(s));
  writeModes(s, at.c.Gr);
  return stabilityFacts(s);
}

StabilityFacts stabilityFacts(const Stability& s) {
  auto re = [](const LeadingMode& m) { return m.found ? m.re : NAN; };
  auto im = [](const LeadingMode& m) { return m.found ? m.im : NAN; };
  return {s.stable, re(s.same), im(s.same), re(s.opposite), im(s.opposite)};
}

}  // namespace plume::steady
