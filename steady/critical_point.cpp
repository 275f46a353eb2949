#include "steady/critical_point.h"

#include <algorithm>
#include <cmath>

namespace plume::steady {

CriticalKind crossingKind(ModeClass c, double imaginaryPart) {
  if (imaginaryPart != 0) return CriticalKind::Hopf;
  return c == ModeClass::Opposite ? CriticalKind::Pitchfork : CriticalKind::Fold;
}

const char* crossingName(CriticalKind kind) {
  switch (kind) {
    case CriticalKind::Fold: return "fold";
    case CriticalKind::Pitchfork: return "pitchfork";
    default: return "hopf";
  }
}

Crossing locateCrossing(const LeadingAt& leading, double p0, double re0, double p1, double re1,
                        double relTol, int budget) {
  Crossing c{re0 == 0 ? p0 : p1, 0, 0, re0 == 0 || re1 == 0};
  if (c.located || !(re0 * re1 < 0)) return c;
  // a, b bracket the zero; fa, fb the (possibly halved) values there.
  double a = p0, b = p1, fa = re0, fb = re1;
  int side = 0;  // the end the last step replaced: twice the same, Illinois halves the other's value
  while (c.evaluations < budget) {
    double scale = std::max(std::fabs(a), std::fabs(b));
    if (std::fabs(b - a) <= relTol * scale) {
      c.located = true;
      break;
    }
    double p = b - fb * (b - a) / (fb - fa);
    if (!(p > std::min(a, b) && p < std::max(a, b))) p = 0.5 * (a + b);
    double re = 0, im = 0;
    leading(p, &re, &im);
    ++c.evaluations;
    c.imaginary = std::fabs(im);
    c.p = p;
    if (re == 0) {
      c.located = true;
      break;
    }
    if ((re < 0) == (fb < 0)) {
      b = p, fb = re;
      if (side == 1) fa *= 0.5;
      side = 1;
    } else {
      a = p, fa = re;
      if (side == -1) fb *= 0.5;
      side = -1;
    }
  }
  if (!c.located) {
    double scale = std::max(std::fabs(a), std::fabs(b));
    c.located = std::fabs(b - a) <= relTol * scale;
  }
  // The located zero: the secant point of the final bracket.
  if (fb != fa) c.p = b - fb * (b - a) / (fb - fa);
  return c;
}

std::vector<ModeClass> crossedClasses(const Stability& a, const Stability& b) {
  std::vector<ModeClass> out;
  auto crossed = [](const LeadingMode& x, const LeadingMode& y) {
    return x.found && y.found && (x.re < 0) != (y.re < 0);
  };
  if (crossed(a.same, b.same)) out.push_back(ModeClass::Same);
  if (crossed(a.opposite, b.opposite)) out.push_back(ModeClass::Opposite);
  return out;
}

bool markedByTurn(ModeClass parity, double im0, double im1, bool turned) {
  return turned && parity == ModeClass::Same && im0 == 0 && im1 == 0;
}

}  // namespace plume::steady
