#include "steady/time_form.h"

#include <algorithm>
#include <vector>

#include "solver/bands.h"
#include "solver/weights.h"
#include "steady/jacobian.h"

namespace plume::steady {

static_assert(relaxWeight == 0.0, "-S r is the operator only without relaxation");

namespace {

PetscInt unknowns(ModeClass c) { return PetscInt(classRows(c)) * kUnknownCols * 3; }

PetscInt unknownIndex(int i, int j, int field) {
  return static_cast<PetscInt>(steady::unknownIndex(i, j, field, kAllUnknowns));
}

// Calls f(i, j, row, field) for every unknown of the class in order.
template <class F>
void forEachUnknown(ModeClass c, F f) {
  for (int i = 1; i <= classRows(c); ++i)
    for (int j = 1; j <= kUnknownCols; ++j)
      for (int field = 0; field < 3; ++field) f(i, j, unknownIndex(i, j, field), field);
}

double component(const NodeValues& v, int field) {
  return field == 0 ? v.t : (field == 1 ? v.omega : v.psi);
}

// A vector of the per-unknown values f(node values at (i, j)) for `field`.
template <class F>
PetscErrorCode fillDiagonal(Vec v, ModeClass c, F f) {
  PetscFunctionBeginUser;
  PetscScalar* a;
  PetscCall(VecGetArray(v, &a));
  forEachUnknown(c, [&](int i, int j, PetscInt k, int field) { a[k] = component(f(i, j), field); });
  PetscCall(VecRestoreArray(v, &a));
  PetscFunctionReturn(0);
}

}  // namespace

NodeValues rowScale(const Evaluation& at, int i, int j) {
  if (isSourceNode(i, j)) return {1.0, 1.0, 1.0};
  double ap = aP(at.s.Psi, i, j, at.c.Pr);
  return {ap, ap, fourOverHH};
}

NodeValues massRow(int i, int j, ModeClass parity) {
  if (isSourceNode(i, j)) return {0.0, 0.0, 0.0};
  bool heldT = parity == ModeClass::Opposite && i == axisI;
  return {heldT ? 0.0 : 1.0, 1.0, 0.0};
}

PetscErrorCode createClassMatrix(const Evaluation& at, ModeClass parity, Mat* A) {
  PetscFunctionBeginUser;
  std::vector<PetscInt> rowStart{0}, cols, row;
  std::vector<JacobianEntry> entries;
  forEachUnknown(parity, [&](int i, int j, PetscInt, int field) {
    entries.clear();
    jacobianRow(at, i, j, field, entries, parity);
    row.clear();
    for (const JacobianEntry& e : entries) row.push_back(unknownIndex(e.i, e.j, e.field));
    row.push_back(unknownIndex(i, j, field));  // the diagonal, for A - sigma M
    std::sort(row.begin(), row.end());
    cols.insert(cols.end(), row.begin(), std::unique(row.begin(), row.end()));
    rowStart.push_back(static_cast<PetscInt>(cols.size()));
  });
  PetscCall(MatCreate(PETSC_COMM_SELF, A));
  const PetscInt n = unknowns(parity);
  PetscCall(MatSetSizes(*A, n, n, n, n));
  PetscCall(MatSetType(*A, MATSEQAIJ));
  PetscCall(MatSeqAIJSetPreallocationCSR(*A, rowStart.data(), cols.data(), nullptr));
  PetscCall(MatSetOption(*A, MAT_NEW_NONZERO_LOCATION_ERR, PETSC_TRUE));
  PetscFunctionReturn(0);
}

PetscErrorCode assembleClassOperator(const Evaluation& at, Mat A, ModeClass parity) {
  PetscFunctionBeginUser;
  PetscCall(MatZeroEntries(A));
  const Block all{0, 0, classRows(parity), kUnknownCols};
  PetscCall(assembleJacobian(at, A, all, all, parity));
  Vec s;
  PetscCall(MatCreateVecs(A, nullptr, &s));
  PetscCall(fillDiagonal(s, parity, [&at](int i, int j) {
    NodeValues v = rowScale(at, i, j);
    return NodeValues{-v.t, -v.omega, -v.psi};
  }));
  PetscCall(MatDiagonalScale(A, s, nullptr));
  PetscCall(VecDestroy(&s));
  PetscFunctionReturn(0);
}

PetscErrorCode createMassMatrix(ModeClass parity, Mat* M) {
  PetscFunctionBeginUser;
  const PetscInt n = unknowns(parity);
  PetscCall(MatCreateSeqAIJ(PETSC_COMM_SELF, n, n, 1, nullptr, M));
  Vec d;
  PetscCall(MatCreateVecs(*M, nullptr, &d));
  PetscCall(fillDiagonal(d, parity, [parity](int i, int j) { return massRow(i, j, parity); }));
  for (PetscInt k = 0; k < n; ++k) PetscCall(MatSetValue(*M, k, k, 0.0, INSERT_VALUES));
  PetscCall(MatAssemblyBegin(*M, MAT_FINAL_ASSEMBLY));
  PetscCall(MatAssemblyEnd(*M, MAT_FINAL_ASSEMBLY));
  PetscCall(MatDiagonalSet(*M, d, INSERT_VALUES));
  PetscCall(VecDestroy(&d));
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
