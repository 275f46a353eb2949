#include "steady/jacobian.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "solver/bands.h"
#include "solver/weights.h"

namespace plume::steady {

namespace {

enum Fld { kT = 0, kOmega = 1, kPsi = 2 };

bool onWall(int i, int j) { return i == 0 || i == NX || j == 0 || j == NY; }

// Where a row's entries go, and the class whose mirror rule resolves row 601.
struct RowOut {
  std::vector<JacobianEntry>& entries;
  ModeClass modeClass;
};

// Adds `value` times the derivative of the value read at grid node (i, j) of
// `field` with respect to the unknowns it follows.
void add(RowOut& out, int i, int j, int field, double value) {
  if (field == kOmega && onWall(i, j)) {
    // Wall vorticity: F times Psi at the nearest interior node. The updates
    // read the walls only next to an unknown, never at a corner.
    int pi = i == 0 ? 1 : (i == NX ? NX - 1 : i), pj = j == 0 ? 1 : (j == NY ? NY - 1 : j);
    add(out, pi, pj, kPsi, value * wallVorticityFactor);
    return;
  }
  if (onWall(i, j) || isSourceNode(i, j)) return;  // held values
  if (i == NX - (srcI - 1) && out.modeClass != ModeClass::Whole) {  // row 601 mirrors row 599
    add(out, srcI - 1, j, field, classMirrorSign(out.modeClass, field) * value);
    return;
  }
  out.entries.push_back({i, j, field, value});
}

// Derivative of a neighbour weight with respect to its face velocity e.
double weightSlope(double e, double c, double divisor, bool plus) {
  double sign = e > 0 ? 1.0 : (e < 0 ? -1.0 : 0.0);
  double d = damping(e, c);
  double dd = -(d * d) * (sign * c * 0.5 * h);
  double ds = plus ? dd + h * c * 0.5 * (1 + sign) : dd - h * c * 0.5 * (1 - sign);
  return ds / divisor;
}

// The four neighbour weights: the neighbour they multiply, their face's
// four stream-function nodes (p1 .. p4 of the face velocity), divisor side.
struct WeightShape {
  int ni, nj;
  int p[4][2];
  bool plus;
  bool iDirection;  // divisor hx2, else hy2
};
constexpr WeightShape kWeights[4] = {
    {0, -1, {{-1, -1}, {1, -1}, {-1, 0}, {1, 0}}, true, false},   // aS
    {-1, 0, {{-1, 1}, {-1, -1}, {0, 1}, {0, -1}}, true, true},    // aW
    {1, 0, {{1, 1}, {1, -1}, {0, 1}, {0, -1}}, false, true},      // aE
    {0, 1, {{-1, 1}, {1, 1}, {-1, 0}, {1, 0}}, false, false},     // aN
};

double weightValue(const Field& psi, double pr, int k, int i, int j) {
  switch (k) {
    case 0: return aS(psi, i, j, pr);
    case 1: return aW(psi, i, j, pr);
    case 2: return aE(psi, i, j, pr);
    default: return aN(psi, i, j, pr);
  }
}

// Rows of the two convection-diffusion equations: r = u - (sum a_k u_k + b) / aP.
void convectionRow(const Evaluation& at, int i, int j, const Field& u, int field, RowOut& out) {
  const Field &Psi = at.s.Psi, &T = at.s.T;
  const double Gr = at.c.Gr, Pr = at.c.Pr;
  double a[4], s = 0, ap = aP(Psi, i, j, Pr);
  for (int k = 0; k < 4; ++k) a[k] = weightValue(Psi, Pr, k, i, j);
  s = ((a[0] * u[i][j - 1] + a[1] * u[i - 1][j]) + a[2] * u[i + 1][j]) + a[3] * u[i][j + 1];
  double buoyancy = 0;
  if (field == kOmega) {
    buoyancy = ((T[i + 1][j] - T[i - 1][j]) / twoH) * Gr;
    add(out, i + 1, j, kT, -(Gr / twoH) / ap);
    add(out, i - 1, j, kT, (Gr / twoH) / ap);
  }
  double g = (s + buoyancy) / ap;
  add(out, i, j, field, 1 - relaxWeight);
  for (int k = 0; k < 4; ++k) {
    const WeightShape& w = kWeights[k];
    double un = u[i + w.ni][j + w.nj];
    add(out, i + w.ni, j + w.nj, field, -a[k] / ap);
    const auto& p = w.p;
    double e = faceVelocity(Psi[i + p[0][0]][j + p[0][1]], Psi[i + p[1][0]][j + p[1][1]],
                            Psi[i + p[2][0]][j + p[2][1]], Psi[i + p[3][0]][j + p[3][1]]);
    double slope = weightSlope(e, Pr, w.iDirection ? hx2 : hy2, w.plus);
    // d(-G)/da_k = -(u_k - G) / aP; de/dp = +-0.25/h.
    double dr = -slope * (un - g) / ap * (0.25 / h);
    add(out, i + p[0][0], j + p[0][1], kPsi, dr);
    add(out, i + p[1][0], j + p[1][1], kPsi, -dr);
    add(out, i + p[2][0], j + p[2][1], kPsi, dr);
    add(out, i + p[3][0], j + p[3][1], kPsi, -dr);
  }
}

}  // namespace

void jacobianRow(const Evaluation& at, int i, int j, int field, std::vector<JacobianEntry>& entries,
                 ModeClass c) {
  // Held values: the source node, and T on the axis in the opposite class.
  if (isSourceNode(i, j) || (c == ModeClass::Opposite && field == kT && i == axisI)) {
    entries.push_back({i, j, field, 1.0});
    return;
  }
  RowOut out{entries, c};
  if (field == kPsi) {
    const double nb = -(1 / hh) / fourOverHH;
    add(out, i, j, kPsi, 1 - relaxWeight);
    add(out, i, j - 1, kPsi, nb);
    add(out, i, j + 1, kPsi, nb);
    add(out, i - 1, j, kPsi, nb);
    add(out, i + 1, j, kPsi, nb);
    add(out, i, j, kOmega, -1 / fourOverHH);
    return;
  }
  convectionRow(at, i, j, field == kT ? at.s.T : at.s.Omega, field, out);
}

namespace {

// The columns of `entries` as local indices of the ghosted block, sorted,
// each once.
void ghostedColumns(const std::vector<JacobianEntry>& entries, const Block& ghosted,
                    std::vector<PetscInt>& cols) {
  cols.clear();
  for (const JacobianEntry& e : entries)
    cols.push_back(static_cast<PetscInt>(unknownIndex(e.i, e.j, e.field, ghosted)));
}

// Calls visit(row, entries, cols) for each row of the nodes of `owned`: its
// index, its entries and their columns, numbered in the ghosted block.
template <class Visit>
PetscErrorCode forEachRow(const Evaluation& at, const Block& owned, const Block& ghosted,
                          ModeClass c, Visit visit) {
  PetscFunctionBeginUser;
  std::vector<JacobianEntry> entries;
  std::vector<PetscInt> cols;
  for (int r = owned.row0; r < owned.row0 + owned.rows; ++r)
    for (int col = owned.col0; col < owned.col0 + owned.cols; ++col)
      for (int field = 0; field < 3; ++field) {
        entries.clear();
        jacobianRow(at, r + 1, col + 1, field, entries, c);
        ghostedColumns(entries, ghosted, cols);
        PetscCall(visit(static_cast<PetscInt>(unknownIndex(r + 1, col + 1, field, ghosted)), entries,
                        cols));
      }
  PetscFunctionReturn(0);
}

// One process: the rows straight into the matrix's values, in threads. Each
// row's entries are added to its own values in the order jacobianRow() gives
// them, as MatSetValues() would add them: the same sums.
PetscErrorCode assembleWhole(const Evaluation& at, Mat P, ModeClass c) {
  PetscFunctionBeginUser;
  PetscInt n;
  const PetscInt *ia, *ja;
  PetscBool done;
  PetscCall(MatGetRowIJ(P, 0, PETSC_FALSE, PETSC_FALSE, &n, &ia, &ja, &done));
  PetscCheck(done, PETSC_COMM_SELF, PETSC_ERR_SUP, "matrix rows not available");
  PetscScalar* values;
  PetscCall(MatSeqAIJGetArray(P, &values));
  bool missing = false;
#pragma omp parallel reduction(|| : missing)
  {
    std::vector<JacobianEntry> entries;
#pragma omp for schedule(static)
    for (PetscInt row = 0; row < n; ++row) {
      const UnknownPlace place = unknownPlace(row);
      entries.clear();
      jacobianRow(at, place.i, place.j, place.field, entries, c);
      const PetscInt *begin = ja + ia[row], *end = ja + ia[row + 1];
      for (const JacobianEntry& e : entries) {
        PetscInt col = static_cast<PetscInt>(unknownIndex(e.i, e.j, e.field, kAllUnknowns));
        const PetscInt* at = std::lower_bound(begin, end, col);
        if (at == end || *at != col) {
          missing = true;
          continue;
        }
        values[at - ja] += e.value;
      }
    }
  }
  PetscCall(MatSeqAIJRestoreArray(P, &values));
  PetscCall(MatRestoreRowIJ(P, 0, PETSC_FALSE, PETSC_FALSE, &n, &ia, &ja, &done));
  PetscCheck(!missing, PETSC_COMM_SELF, PETSC_ERR_ARG_OUTOFRANGE,
             "Jacobian entry outside the structure");
  PetscCall(MatAssemblyBegin(P, MAT_FINAL_ASSEMBLY));
  PetscCall(MatAssemblyEnd(P, MAT_FINAL_ASSEMBLY));
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode createJacobianMatrix(const Evaluation& at, DM da, Mat* J) {
  PetscFunctionBeginUser;
  ISLocalToGlobalMapping ltog;
  PetscCall(DMGetLocalToGlobalMapping(da, &ltog));
  DMDALocalInfo info;
  PetscCall(DMDAGetLocalInfo(da, &info));
  const Block ghosted{info.gys, info.gxs, info.gym, info.gxm};
  std::vector<PetscInt> rowStart{0}, cols;
  PetscCall(forEachRow(at, {info.ys, info.xs, info.ym, info.xm}, ghosted, ModeClass::Same,
                       [&](PetscInt, const std::vector<JacobianEntry>&,
                           std::vector<PetscInt>& row) {
                         PetscFunctionBeginUser;
                         PetscCall(ISLocalToGlobalMappingApply(
                             ltog, static_cast<PetscInt>(row.size()), row.data(), row.data()));
                         std::sort(row.begin(), row.end());
                         cols.insert(cols.end(), row.begin(), std::unique(row.begin(), row.end()));
                         rowStart.push_back(static_cast<PetscInt>(cols.size()));
                         PetscFunctionReturn(0);
                       }));
  PetscInt n = info.xm * info.ym * 3, N = info.mx * info.my * 3;
  PetscCall(MatCreate(PETSC_COMM_WORLD, J));
  PetscCall(MatSetSizes(*J, n, n, N, N));
  PetscCall(MatSetType(*J, MATAIJ));
  PetscCall(MatSetLocalToGlobalMapping(*J, ltog, ltog));
  PetscCall(MatSeqAIJSetPreallocationCSR(*J, rowStart.data(), cols.data(), nullptr));
  PetscCall(MatMPIAIJSetPreallocationCSR(*J, rowStart.data(), cols.data(), nullptr));
  PetscCall(MatSetOption(*J, MAT_NEW_NONZERO_LOCATION_ERR, PETSC_TRUE));
  PetscFunctionReturn(0);
}

PetscErrorCode assembleJacobian(const Evaluation& at, Mat P, const Block& owned,
                                const Block& ghosted, ModeClass c) {
  PetscFunctionBeginUser;
  PetscBool seq = PETSC_FALSE;
  PetscCall(PetscObjectTypeCompare(reinterpret_cast<PetscObject>(P), MATSEQAIJ, &seq));
  if (seq && owned.rows == classRows(c) && owned.cols == kUnknownCols) {
    PetscCall(assembleWhole(at, P, c));
    PetscFunctionReturn(0);
  }
  std::vector<PetscScalar> values;
  PetscCall(forEachRow(at, owned, ghosted, c,
                       [&](PetscInt row, const std::vector<JacobianEntry>& entries,
                           std::vector<PetscInt>& cols) {
                         PetscFunctionBeginUser;
                         values.clear();
                         for (const JacobianEntry& e : entries) values.push_back(e.value);
                         PetscCall(MatSetValuesLocal(P, 1, &row, static_cast<PetscInt>(cols.size()),
                                                     cols.data(), values.data(), ADD_VALUES));
                         PetscFunctionReturn(0);
                       }));
  PetscCall(MatAssemblyBegin(P, MAT_FINAL_ASSEMBLY));
  PetscCall(MatAssemblyEnd(P, MAT_FINAL_ASSEMBLY));
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
