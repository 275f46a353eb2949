#include "output/summary_files.h"

#include <cmath>
#include <utility>

#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace plume {

namespace {

constexpr const char* kFolder = "Result/251_301_5_150/";

void appendJsonNumber(std::string& out, double v) {
  if (std::isfinite(v))
    appendExactNumber(out, v);
  else
    out += "null";
}

struct Json {
  std::string text = "{";
  void key(const char* name) {
    text += text.size() > 1 ? ",\n  \"" : "\n  \"";
    text += name;
    text += "\": ";
  }
  void number(const char* name, double v) {
    key(name);
    appendJsonNumber(text, v);
  }
  void extreme(const char* name, const Extreme& e) {
    number(name, e.value);
    number((std::string("x_") + name).c_str(), e.x);
    number((std::string("y_") + name).c_str(), e.y);
  }
};

}  // namespace

std::string summaryPath(double gr) { return kFolder + ("summary_Gr_" + formatNumber(gr)) + ".json"; }

std::string axisPath(double gr) { return kFolder + ("axis_Gr_" + formatNumber(gr)) + ".csv"; }

std::string summaryJson(const Case& c, const RunFacts& run, const Derived& d) {
  using Entry = std::pair<const char*, double>;
  Json j;
  for (Entry e : {Entry{"gr", c.Gr}, {"pr", c.Pr}, {"t_bottom", c.tBottom}, {"t_top", c.tTop},
                  {"t_left", c.tLeft}, {"t_right", c.tRight}})
    j.number(e.first, e.second);
  j.key(run.countName);
  appendInteger(j.text, run.count);
  j.key("verified");
  j.text += run.verified ? "true" : "false";
  if (const StabilityFacts* s = run.stability) {
    j.key("stable");
    j.text += s->stable ? "true" : "false";
    for (Entry e : {Entry{"lambda_sym_re", s->symRe}, {"lambda_sym_im", s->symIm},
                    {"lambda_anti_re", s->antiRe}, {"lambda_anti_im", s->antiIm}})
      j.number(e.first, e.second);
  }
  const HeatFlows& q = d.flows;
  for (Entry e : {Entry{"sum_omega_sq", run.sumOmegaSq}, {"q_source", q.source}, {"q_bottom", q.bottom},
                  {"q_top", q.top}, {"q_left", q.left}, {"q_right", q.right}, {"balance", q.balance},
                  {"nu", d.nu ? *d.nu : NAN}, {"psi_max", d.psiMax.value}, {"psi_min", d.psiMin.value},
                  {"x_psi_max", d.psiMax.x}, {"y_psi_max", d.psiMax.y}, {"x_psi_min", d.psiMin.x},
                  {"y_psi_min", d.psiMin.y}})
    j.number(e.first, e.second);
  j.extreme("u_max", d.uMax);
  j.extreme("v_max", d.vMax);
  return j.text + "\n}\n";
}

std::string axisCsv(const Field& t, const Field& psi) {
  std::string out = "y,T,v\n";
  for (int j = 0; j <= NY; ++j) {
    // + 0.0: a difference of zeros (at the walls) reads 0, not -0.
    const double v = velocityV(psi, axisI, j) + 0.0;
    appendExactNumber(out, j * h);
    out += ',';
    appendExactNumber(out, t[axisI][j]);
    out += ',';
    appendExactNumber(out, v);
    out += '\n';
  }
  return out;
}

Derived writeSummary(const Field& t, const Field& psi, const Case& c, const RunFacts& run) {
  Derived d = computeDerived(t, psi, c);
  for (const auto& [path, text] : {std::pair{summaryPath(c.Gr), summaryJson(c, run, d)},
                                   std::pair{axisPath(c.Gr), axisCsv(t, psi)}})
    if (!writeFileAtomically(path, text, FileKind::Text))
      consoleWrite(ru("Предупреждение: не удалось записать файл '").str() + path + "'\n");
  return d;
}

}  // namespace plume
