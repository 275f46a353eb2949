#include "steady/lu_preconditioner.h"

#include <mpi.h>
#include <dmumps_c.h>
#include <smumps_c.h>

#include <petscmat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/text.h"
#include "steady/console.h"
#include "steady/nested_dissection.h"

namespace plume::steady {

namespace {

// The two precisions of MUMPS.
struct Single {
  using Struc = SMUMPS_STRUC_C;
  using Real = float;
  static void call(Struc* id) { smumps_c(id); }
};
struct Double {
  using Struc = DMUMPS_STRUC_C;
  using Real = double;
  static void call(Struc* id) { dmumps_c(id); }
};

template <class Precision>
struct Factors {
  using Real = typename Precision::Real;
  int rows = 0, cols = 0;
  typename Precision::Struc id{};
  bool initialised = false, analysed = false, factored = false;
  bool released = false;  // releaseLuFactors(): factorise again at the next application
  bool report = false;  // -steady_lu_view: times and sizes of the factorisations
  double blrTolerance = 0;  // -steady_lu_blr TOL: low-rank compression to TOL
  bool determinant = false;  // the determinant's sign with every factorisation
  int determinantSign = 0;   // of the last factorisation; 0 unknown
  std::vector<MUMPS_INT> irn, jcn, order;
  std::vector<Real> values, rhs;

  void call(int job) {
    id.job = job;
    Precision::call(&id);
  }
};

template <class Precision>
PetscErrorCode setUp(PC pc) {
  PetscFunctionBeginUser;
  Factors<Precision>* f;
  PetscCall(PCShellGetContext(pc, &f));
  f->released = false;
  Mat P;
  PetscCall(PCGetOperators(pc, nullptr, &P));
  PetscInt n;
  const PetscInt *ia, *ja;
  PetscBool done;
  PetscCall(MatGetRowIJ(P, 0, PETSC_FALSE, PETSC_FALSE, &n, &ia, &ja, &done));
  PetscCheck(done, PETSC_COMM_SELF, PETSC_ERR_SUP, "matrix rows not available");
  const PetscScalar* a;
  PetscCall(MatSeqAIJGetArrayRead(P, &a));
  std::size_t nnz = static_cast<std::size_t>(ia[n]);
  f->values.resize(nnz);
  for (std::size_t k = 0; k < nnz; ++k) f->values[k] = static_cast<typename Factors<Precision>::Real>(a[k]);
  if (!f->analysed) {
    f->irn.resize(nnz);
    f->jcn.resize(nnz);
    for (PetscInt r = 0; r < n; ++r)
      for (PetscInt k = ia[r]; k < ia[r + 1]; ++k) {
        f->irn[k] = static_cast<MUMPS_INT>(r + 1);
        f->jcn[k] = static_cast<MUMPS_INT>(ja[k] + 1);
      }
    std::vector<int> position = nestedDissection(f->rows, f->cols, 3);
    f->order.resize(position.size());
    for (std::size_t k = 0; k < position.size(); ++k) f->order[k] = position[k] + 1;
  }
  PetscCall(MatSeqAIJRestoreArrayRead(P, &a));
  const PetscInt unknowns = n;
  PetscCall(MatRestoreRowIJ(P, 0, PETSC_FALSE, PETSC_FALSE, &n, &ia, &ja, &done));

  auto& id = f->id;
  if (!f->initialised) {
    id.par = 1;
    id.sym = 0;
    id.comm_fortran = static_cast<MUMPS_INT>(MPI_Comm_c2f(MPI_COMM_SELF));
    f->call(-1);
    id.icntl[0] = id.icntl[1] = id.icntl[2] = -1;  // no messages
    id.icntl[3] = 0;
    id.icntl[6] = 1;  // ICNTL(7): the given order
    if (f->blrTolerance > 0) {
      id.icntl[34] = 2;  // ICNTL(35): block low-rank factors
      id.cntl[6] = static_cast<typename Factors<Precision>::Real>(f->blrTolerance);
    }
    f->initialised = true;
  }
  id.n = static_cast<MUMPS_INT>(unknowns);
  id.nnz = static_cast<MUMPS_INT8>(nnz);
  id.irn = f->irn.data();
  id.jcn = f->jcn.data();
  id.a = f->values.data();
  if (!f->analysed) {
    id.perm_in = f->order.data();
    double t0 = MPI_Wtime();
    f->call(1);
    if (f->report)
      std::printf("LU: analysis %.1f s, %.3g entries in the factors\n", MPI_Wtime() - t0,
                  static_cast<double>(id.infog[2]));
    PetscCheck(id.infog[0] >= 0, PETSC_COMM_SELF, PETSC_ERR_LIB, "LU analysis failed: INFOG(1) = %d, INFOG(2) = %d, n = %d",
               static_cast<int>(id.infog[0]), static_cast<int>(id.infog[1]), static_cast<int>(id.n));
    f->analysed = true;
  }
  say(ru("Разложение матрицы Якоби...\n"));
  double t1 = MPI_Wtime();
  std::clock_t c1 = std::clock();
  id.icntl[32] = f->determinant ? 1 : 0;  // ICNTL(33): the determinant
  f->call(2);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f ", MPI_Wtime() - t1);
  say(ru("Разложение матрицы Якоби готово за ").str() + seconds + ru("с\n").str());
  if (f->report)
    std::printf("LU: factorisation %.1f s (processor %.1f s), %d MB, %.3g operations\n",
                MPI_Wtime() - t1, static_cast<double>(std::clock() - c1) / CLOCKS_PER_SEC,
                static_cast<int>(id.infog[21]), static_cast<double>(id.rinfog[2]));
  f->factored = id.infog[0] >= 0;
  // RINFOG(12) is the determinant's mantissa; a zero pivot makes it 0.
  f->determinantSign = 0;
  if (f->factored && f->determinant)
    f->determinantSign = id.rinfog[11] > 0 ? 1 : (id.rinfog[11] < 0 ? -1 : 0);
  if (!f->factored) PetscCall(PCSetFailedReason(pc, PC_FACTOR_OTHER));
  PetscFunctionReturn(0);
}

template <class Precision>
PetscErrorCode apply(PC pc, Vec x, Vec y) {
  PetscFunctionBeginUser;
  Factors<Precision>* f;
  PetscCall(PCShellGetContext(pc, &f));
  if (f->released) PetscCall(setUp<Precision>(pc));
  PetscInt n;
  PetscCall(VecGetLocalSize(x, &n));
  const PetscScalar* xa;
  PetscCall(VecGetArrayRead(x, &xa));
  f->rhs.assign(xa, xa + n);
  PetscCall(VecRestoreArrayRead(x, &xa));
  if (f->factored) {
    f->id.rhs = f->rhs.data();
    f->id.nrhs = 1;
    f->id.lrhs = static_cast<MUMPS_INT>(n);
    f->call(3);
  }
  PetscScalar* ya;
  PetscCall(VecGetArray(y, &ya));
  for (PetscInt k = 0; k < n; ++k) ya[k] = f->rhs[k];
  PetscCall(VecRestoreArray(y, &ya));
  PetscFunctionReturn(0);
}

template <class Precision>
PetscErrorCode destroy(PC pc) {
  PetscFunctionBeginUser;
  Factors<Precision>* f;
  PetscCall(PCShellGetContext(pc, &f));
  if (f->initialised) f->call(-2);
  delete f;
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode requestLuDeterminant(PC pc, bool* available) {
  PetscFunctionBeginUser;
  PetscBool shell;
  PetscCall(PetscObjectTypeCompare(reinterpret_cast<PetscObject>(pc), PCSHELL, &shell));
  *available = shell;
  if (shell) {
    Factors<Single>* f;
    PetscCall(PCShellGetContext(pc, &f));
    f->determinant = true;
  }
  PetscFunctionReturn(0);
}

PetscErrorCode luDeterminantSign(PC pc, int* sign) {
  PetscFunctionBeginUser;
  Factors<Single>* f;
  PetscCall(PCShellGetContext(pc, &f));
  *sign = f->determinantSign;
  PetscFunctionReturn(0);
}

namespace {

template <class Precision>
PetscErrorCode releaseFactors(PC pc) {
  PetscFunctionBeginUser;
  Factors<Precision>* f;
  PetscCall(PCShellGetContext(pc, &f));
  if (f->initialised) f->call(-2);
  f->initialised = f->analysed = f->factored = false;
  f->released = true;
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode releaseLuFactors(PC pc) {
  PetscFunctionBeginUser;
  PetscBool shell;
  PetscCall(PetscObjectTypeCompare(reinterpret_cast<PetscObject>(pc), PCSHELL, &shell));
  if (!shell) PetscFunctionReturn(0);
  const char* name = nullptr;
  PetscCall(PCShellGetName(pc, &name));
  if (name != nullptr && std::strncmp(name, "double", 6) == 0)
    PetscCall(releaseFactors<Double>(pc));
  else if (name != nullptr && std::strncmp(name, "single", 6) == 0)
    PetscCall(releaseFactors<Single>(pc));
  PetscFunctionReturn(0);
}

namespace {

template <class Precision>
PetscErrorCode setFactors(PC pc, int rows, int cols, const char* name) {
  PetscFunctionBeginUser;
  auto* f = new Factors<Precision>;
  f->rows = rows;
  f->cols = cols;
  PetscBool view = PETSC_FALSE;
  PetscCall(PetscOptionsHasName(nullptr, nullptr, "-steady_lu_view", &view));
  f->report = view;
  PetscReal blr = 0;
  PetscCall(PetscOptionsGetReal(nullptr, nullptr, "-steady_lu_blr", &blr, nullptr));
  f->blrTolerance = blr;
  PetscCall(PCSetType(pc, PCSHELL));
  PetscCall(PCShellSetContext(pc, f));
  PetscCall(PCShellSetSetUp(pc, setUp<Precision>));
  PetscCall(PCShellSetApply(pc, apply<Precision>));
  PetscCall(PCShellSetDestroy(pc, destroy<Precision>));
  PetscCall(PCShellSetName(pc, name));
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode setLuPreconditioner(PC pc, int rows, int cols, LuPrecision precision) {
  PetscFunctionBeginUser;
  if (precision == LuPrecision::Double)
    PetscCall(setFactors<Double>(pc, rows, cols, "double-precision LU (MUMPS, nested dissection)"));
  else
    PetscCall(setFactors<Single>(pc, rows, cols, "single-precision LU (MUMPS, nested dissection)"));
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
