// Continuation in Gr: the Gr of each Newton stage on the way from a solved
// state to the wanted one. Steps grow after quick stages and halve after
// failed ones.
#pragma once

namespace plume::steady {

// Newton from a state solved at Gr = `from` goes straight to the wanted Gr
// when it is at most this far away, or no farther than `from` itself is from
// zero (a factor 2 in Gr); otherwise continuation starts with a step of
// kFirstStep, or of |from| when that is longer.
inline constexpr double kDirectGr = 2e5;
inline constexpr double kFirstStep = 1e5;

struct Continuation {
  double target;    // the wanted Gr
  double accepted;  // Gr of the last accepted state
  double step;      // distance of the next stage from `accepted`
  double gr;        // Gr of the next stage
};

// The first stage from a state solved at `from` (0: the initial state, the
// solution for Gr = 0).
Continuation startContinuation(double from, double target);

// The next stage after the one at c.gr either converged in `steps` Newton
// steps or failed. A quick stage (at most four steps) doubles the step, a
// failed one halves it; false when the step has been halved below a thousandth
// of the wanted Gr: continuation gives up. Not called once the wanted Gr is
// reached.
bool nextStage(Continuation& c, bool converged, int steps);

// The first Newton state of a stage at Gr = `next`, from the states solved at
// `before` and `accepted`: accepted + w (accepted - before), the secant
// through the two, in log|Gr| when all three Gr are of one sign and not zero
// (the fields change about evenly in log Gr there), else in Gr. 0 when the
// two states share a Gr.
double extrapolationWeight(double before, double accepted, double next);

}  // namespace plume::steady
