// The node updates of a wavefront step, eight lanes at once, with the
// operations and order of kernel_nodes.h.
#pragma once

#include "solver/simd.h"
#include "solver/wavefront_weights.h"

namespace plume {
namespace {

template <class W>
inline Vec centreWeights(const W& wt, int s) {
  return vadd(vadd(vadd(wt.get(s, 0), wt.get(s, 1)), wt.get(s, 2)), wt.get(s, 3));
}

// Weighted sum ((aS*south + aW*west) + aE*east) + aN*north.
template <class W>
inline Vec neighbourSum(const W& wt, int s, Vec south, Vec west, Vec east, Vec north) {
  Vec sum = vadd(vmul(wt.get(s, 1), south), vmul(wt.get(s, 0), west));
  sum = vadd(sum, vmul(wt.get(s, 2), east));
  return vadd(sum, vmul(wt.get(s, 3), north));
}

// s / ap, by the exact division by 4/(h*h) in the lanes where ap is that
// constant (all four weights 1/(h*h): no flow to speak of), by a divide
// instruction in the others.
inline Vec divideByCentre(Vec s, Vec ap) {
  const Mask constant = vequal(ap, vset(fourOverHH));
  if (constant == 0) return vdiv(s, ap);
  const Vec q = divByFourOverHH(s);
  if (constant == 0xFF) return q;
  return vdivWhere(~constant & kAllLanes, q, s, ap);
}

// sum / ap at step s; ap is 4/(h*h) bit for bit in a still block.
inline Vec divideByCentre(const Weights& wt, int s, Vec sum) {
  return divideByCentre(sum, centreWeights(wt, s));
}
inline Vec divideByCentre(const StillWeights&, int, Vec sum) { return divByFourOverHH(sum); }

inline Vec relaxed(Vec g, Vec old) { return vadd(g, vmul(vset(relaxWeight), old)); }

}  // namespace
}  // namespace plume
