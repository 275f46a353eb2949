// Critical points along a family of steady states: where the leading
// eigenvalue of a perturbation class crosses zero, and of what kind.
#pragma once

#include <functional>
#include <vector>

#include "steady/mode_class.h"
#include "steady/stability.h"

namespace plume::steady {

enum class CriticalKind {
  Fold,       // a real eigenvalue of the same symmetry: the branch turns back
  Pitchfork,  // a real eigenvalue of the opposite symmetry: the symmetry breaks
  Hopf,       // a complex pair of either class: oscillation at |Im lambda|
};

CriticalKind crossingKind(ModeClass c, double imaginaryPart);

// Lower-case name for tables and labels: "fold", "pitchfork", "hopf".
const char* crossingName(CriticalKind kind);

struct Crossing {
  double p;           // parameter where the real part is zero
  double imaginary;   // |Im lambda| there (the Hopf frequency), from the last evaluation
  int evaluations;    // calls of `leading` made
  bool located;       // bracket shrunk to `relTol` within the budget
};

// The real part of a leading eigenvalue as a function of the parameter p,
// with its imaginary part. May be expensive (a steady solve and an
// eigen-solve per call).
using LeadingAt = std::function<void(double p, double* re, double* im)>;

// Locates the zero of the real part between p0 and p1, where it has the
// values re0 and re1 of opposite signs, to a bracket of relative width
// `relTol`: secant steps (Illinois variant: an end kept twice has its value
// halved), each inside the bracket, else a bisection. The result is the
// secant point of the last bracket.
Crossing locateCrossing(const LeadingAt& leading, double p0, double re0, double p1, double re1,
                        double relTol = 1e-4, int budget = 40);

// The classes whose leading eigenvalue's real part has opposite signs at two
// states (both found in both), same symmetry first.
std::vector<ModeClass> crossedClasses(const Stability& a, const Stability& b);

// True when a crossing of `parity`'s class inside a step along a branch is
// already marked by the step's fold or branch point (`turned`): a real
// eigenvalue of the same symmetry crosses zero just where det J changes sign.
bool markedByTurn(ModeClass parity, double im0, double im1, bool turned);

}  // namespace plume::steady
