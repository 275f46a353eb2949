// plume-steady --evolve TIME: the time-dependent form of steady/time_form.h
// integrated from the working directory's checkpoint plus a small
// perturbation, to show a steady state's stability directly.
//
// The perturbation v = u - u0 is the unknown. Along the state's own symmetry
// (--mode sym, or a random one) the whole nonlinear form is integrated on the
// computed half: M dv/dt = -S(u0 + v) r(u0 + v). A perturbation of the
// opposite symmetry (--mode anti) leaves the half cavity's states, so it is
// integrated linearised about u0 in its class: M dv/dt = A v. Either way the
// implicit steps use A at u0 (steady/time_integration.h).
//
// Result/251_301_5_150/evolve.csv gets a row per accepted step: t, the
// 2-norm of v and of its T and Omega parts, and v at one unknown (the one
// largest at the start). Along the own symmetry the state reached is kept as
// checkpoint_evolve_Gr_<Gr>.bin with summary_evolve_Gr_<Gr>.json, which says
// it is not a steady state.
#pragma once

#include <petscsys.h>

#include <string>

#include "state/state.h"
#include "steady/mode_class.h"

namespace plume::steady {

struct EvolveRequest {
  double time = 0;                      // -evolve TIME
  ModeClass parity = ModeClass::Same;   // -mode sym|anti
  bool alongMode = false;  // -mode given: the class's leading eigenvector; else random in the own class
  double size = 1e-4;      // -perturb EPS: max |v| / max |u0| at the start
};

// The request from -evolve TIME [-mode sym|anti] [-perturb EPS] (and
// -evolve_rtol R, the local error allowed per step, 1e-4): along the
// class's leading eigenvector (the modes file beside the checkpoint) with
// -mode, random in the state's own class without; *given
// false without -evolve, *bad true (after a message) for a wrong value.
PetscErrorCode readEvolveRequest(EvolveRequest* request, bool* given, bool* bad);

std::string evolveTablePath();

// Runs it on `state` for the case `c` of the parameter file (the checkpoint
// read must hold that case); the exit status (steady/finish.h): 0 done, 1 no
// checkpoint or modes file to start from, 4 a file not written.
int runEvolve(const EvolveRequest& request, State& state, const Case& c);

}  // namespace plume::steady
