// Nested dissection of the grid of unknowns: the elimination order that keeps
// the sparse LU factors of the Jacobian small. The 3 x 3 box stencil couples
// only neighbouring rows and columns, so one grid line separates the two
// halves of a rectangle; each half is ordered first, recursively, and the
// line last.
#pragma once

#include <vector>

namespace plume::steady {

// Position in the elimination order of each unknown of a rows x cols grid
// with `dof` unknowns per node, numbered ((r * cols) + c) * dof + f. A node's
// unknowns stay together.
std::vector<int> nestedDissection(int rows, int cols, int dof);

}  // namespace plume::steady
