// The two classes of perturbations of a state mirrored about the axis. A
// state of the computed half follows the mirror rule (solver/mirror.h: T
// even, Omega and Psi odd). Perturbations of the whole width split into
// those with the same symmetry and those with the opposite one (T odd, Omega
// and Psi even, T = 0 on the axis); each class lives on the computed half.
#pragma once

#include "solver/mirror.h"

namespace plume::steady {

// Whole: no class, the whole width without the mirror (rows 1 .. 1199 all
// unknowns), against which the classes are checked.
enum class ModeClass { Same, Opposite, Whole };

// Rows of unknowns of the class: 600 on the computed half, 1199 on the whole width.
inline int classRows(ModeClass c) { return c == ModeClass::Whole ? NX - 1 : NX / 2; }

// Factor by which the row beyond the axis (601) repeats row 599 for `field`
// (0 T, 1 Omega, 2 Psi) in the class.
inline double classMirrorSign(ModeClass c, int field) {
  const Parity own[3] = {kParityT, kParityOmega, kParityPsi};
  double sign = mirrored(own[field], 1.0);
  return c == ModeClass::Same ? sign : -sign;
}

}  // namespace plume::steady
