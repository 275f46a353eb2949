#include "output/summary_files.h"

#include <cmath>

#include "platform/number_format.h"
#include "output/results.h"

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

std::string summaryJson(const ParameterValues& c, const RunFacts& run, const Derived& d) {
  Json j;
  j.number("gr", c.Gr);
  j.number("pr", c.Pr);
  j.number("t_bottom", c.tBottom);
  j.number("t_top", c.tTop);
  j.number("t_left", c.tLeft);
  j.number("t_right", c.tRight);
  j.key(run.countName);
  appendInteger(j.text, run.count);
  j.key("verified");
  j.text += run.verified ? "true" : "false";
  j.number("sum_omega_sq", run.sumOmegaSq);
  j.number("q_source", d.flows.source);
  j.number("q_bottom", d.flows.bottom);
  j.number("q_top", d.flows.top);
  j.number("q_left", d.flows.left);
  j.number("q_right", d.flows.right);
  j.number("balance", d.flows.balance);
  j.number("nu", d.nu ? *d.nu : NAN);
  j.number("psi_max", d.psiMax.value);
  j.number("psi_min", d.psiMin.value);
  j.number("x_psi_max", d.psiMax.x);
  j.number("y_psi_max", d.psiMax.y);
  j.number("x_psi_min", d.psiMin.x);
  j.number("y_psi_min", d.psiMin.y);
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

Derived writeSummary(const ParameterValues& c, const RunFacts& run) {
  Derived d = computeDerived(T, Psi, c);
  writeFileAtomically(summaryPath(c.Gr), summaryJson(c, run, d));
  writeFileAtomically(axisPath(c.Gr), axisCsv(T, Psi));
  return d;
}

}  // namespace plume
