#include "steady/evolve.h"

#include <petscmat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "output/checkpoint.h"
#include "output/derived.h"
#include "output/summary_files.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "state/state.h"
#include "steady/console.h"
#include "steady/finish.h"
#include "steady/growth_fit.h"
#include "steady/lu_preconditioner.h"
#include "steady/residual.h"
#include "steady/stability_report.h"
#include "steady/time_form.h"
#include "steady/time_integration.h"

namespace plume::steady {

namespace {

const char kFolder[] = "Result/251_301_5_150/";
constexpr std::size_t kUnknowns = std::size_t(kUnknownRows) * kUnknownCols * 3;

std::string exactText(double v) {
  std::string s;
  appendExactNumber(s, v);
  return s;
}

// The real part of the leading eigenvector of `parity`'s class, and its
// eigenvalue, from the modes file beside the checkpoint for `gr`; false when
// absent.
bool readMode(ModeClass parity, double gr, std::vector<double> &v, double *re,
              double *im) {
  std::ifstream in(modesPath(gr), std::ios::binary);
  char header[24];
  if (!in.read(header, sizeof header) ||
      std::memcmp(header, "PLUMEMOD", 8) != 0)
    return false;
  std::uint32_t count;
  std::memcpy(&count, header + 20, 4);
  for (std::uint32_t m = 0; m < count; ++m) {
    std::uint32_t cls, found;
    double values[2];
    if (!in.read(reinterpret_cast<char *>(&cls), 4) ||
        !in.read(reinterpret_cast<char *>(&found), 4) ||
        !in.read(reinterpret_cast<char *>(values), 16))
      return false;
    std::vector<double> vre(kUnknowns);
    if (!in.read(reinterpret_cast<char *>(vre.data()),
                 std::streamsize(kUnknowns * 8)))
      return false;
    in.seekg(std::streamoff(kUnknowns * 8), std::ios::cur);
    if (found == 1 && cls == (parity == ModeClass::Same ? 0u : 1u)) {
      v = std::move(vre);
      *re = values[0];
      *im = values[1];
      return true;
    }
  }
  return false;
}

double maxAbs(const std::vector<double> &v) {
  double m = 0;
  for (double x : v)
    m = std::fmax(m, std::fabs(x));
  return m;
}

// -S(u) r(u) at u = u0 + v, node by node, with `s` holding u.
struct NonlinearForm {
  State &s;
  const Case &c;
  const std::vector<double> &u0;
  std::vector<double> u;
  std::vector<const NodeValues *> rows;

  PetscErrorCode apply(Vec vv, Vec fv) {
    PetscFunctionBeginUser;
    const PetscScalar *v;
    PetscCall(VecGetArrayRead(vv, &v));
    for (std::size_t k = 0; k < kUnknowns; ++k)
      u[k] = u0[k] + v[k];
    PetscCall(VecRestoreArrayRead(vv, &v));
    const NodeValues *nodes = reinterpret_cast<const NodeValues *>(u.data());
    rows.resize(kUnknownRows);
    for (int r = 0; r < kUnknownRows; ++r)
      rows[r] = nodes + std::size_t(r) * kUnknownCols;
    loadState(s, rows.data(), kAllUnknowns);
    const Evaluation at{s, c};
    PetscScalar *f;
    PetscCall(VecGetArray(fv, &f));
    for (int i = 1; i <= kUnknownRows; ++i)
      for (int j = 1; j <= kUnknownCols; ++j) {
        const std::size_t k = std::size_t(unknownIndex(i, j, 0, kAllUnknowns));
        NodeValues r = nodeResidual(at, i, j, nodes[k / 3]);
        NodeValues scale = rowScale(at, i, j);
        f[k] = -scale.t * r.t;
        f[k + 1] = -scale.omega * r.omega;
        f[k + 2] = -scale.psi * r.psi;
      }
    PetscCall(VecRestoreArray(fv, &f));
    PetscFunctionReturn(0);
  }
};

// Norms of v's T and Omega parts and the whole.
void norms(const PetscScalar *v, double *all, double *t, double *omega) {
  double st = 0, so = 0, sp = 0;
  for (std::size_t k = 0; k < kUnknowns; k += 3)
    st += v[k] * v[k], so += v[k + 1] * v[k + 1], sp += v[k + 2] * v[k + 2];
  *t = std::sqrt(st);
  *omega = std::sqrt(so);
  *all = std::sqrt(st + so + sp);
}

struct Record {
  std::FILE *table = nullptr;
  std::size_t probe = 0;
  std::vector<double> t, norm, probeValue;
  double lastPrinted = -1;
  double until = 0;
};

PetscErrorCode recordStep(Record &rec, double t, Vec vv) {
  PetscFunctionBeginUser;
  const PetscScalar *v;
  PetscCall(VecGetArrayRead(vv, &v));
  double all, nt, no;
  norms(v, &all, &nt, &no);
  const double probe = v[rec.probe];
  PetscCall(VecRestoreArrayRead(vv, &v));
  rec.t.push_back(t);
  rec.norm.push_back(all);
  rec.probeValue.push_back(probe);
  std::string line = exactText(t) + "," + exactText(all) + "," + exactText(nt) +
                     "," + exactText(no) + "," + exactText(probe) + "\n";
  if (rec.table) {
    std::fputs(line.c_str(), rec.table);
    std::fflush(rec.table);
  }
  if (t == 0 || t >= rec.lastPrinted + 0.05 * rec.until) {
    rec.lastPrinted = t;
    char text[96];
    std::snprintf(text, sizeof text, "t = %.6g, |v| = %.6g\n", t, all);
    say(ru("Эволюция: ").str() + text);
  }
  PetscFunctionReturn(0);
}

// The state u0 + v reached along the own symmetry, of case `c`, put into `s`:
// checkpoint and summary.
bool keepFinal(State &s, const Case &c, CheckpointHistory &checkpoints,
               const std::vector<double> &u0, Vec vv, double t, int steps) {
  const PetscScalar *v;
  if (VecGetArrayRead(vv, &v) != 0)
    return false;
  std::vector<double> u(kUnknowns);
  for (std::size_t k = 0; k < kUnknowns; ++k)
    u[k] = u0[k] + v[k];
  VecRestoreArrayRead(vv, &v);
  const NodeValues *nodes = reinterpret_cast<const NodeValues *>(u.data());
  std::vector<const NodeValues *> rows(kUnknownRows);
  for (int r = 0; r < kUnknownRows; ++r)
    rows[r] = nodes + std::size_t(r) * kUnknownCols;
  loadState(s, rows.data(), kAllUnknowns);
  completeFields(s);
  const std::string name = "evolve_Gr_" + formatNumber(c.Gr);
  const std::string path = std::string(kFolder) + "checkpoint_" + name + ".bin";
  bool ok =
      writeCheckpointAt(path, s, c, {0, 0.0, 0.0, false, NAN}, checkpoints);
  std::string json = summaryJson(c, {"time_steps", steps, false, NAN},
                                 computeDerived(s.T, s.Psi, c));
  json = "{\n  \"steady\": false,\n  \"time\": " + exactText(t) + "," +
         json.substr(1);
  ok = writeFileAtomically(std::string(kFolder) + "summary_" + name + ".json",
                           json, FileKind::Text) &&
       ok;
  say(ru("Состояние в конце (НЕ стационарное): ").str() + path + "\n");
  return ok;
}

PetscErrorCode evolve(const EvolveRequest &rq, State &state, const Case &c,
                      int *status) {
  PetscFunctionBeginUser;
  CheckpointHistory checkpoints;
  Case stored;
  CheckpointRead read =
      readCheckpoint(checkpointPath(c.Gr), &c, state, stored, checkpoints);
  if (read.status != CheckpointStatus::Loaded) {
    say(read.message);
    *status = kNoStart;
    PetscFunctionReturn(0);
  }
  const ModeClass parity = rq.parity;
  const bool own = parity == ModeClass::Same;
  std::vector<double> u0(kUnknowns);
  {
    NodeValues *nodes = reinterpret_cast<NodeValues *>(u0.data());
    std::vector<NodeValues *> rows(kUnknownRows);
    for (int r = 0; r < kUnknownRows; ++r)
      rows[r] = nodes + std::size_t(r) * kUnknownCols;
    storeState(state, rows.data(), kAllUnknowns);
  }
  // The perturbation at the start: max |v| = size max |u0|.
  std::vector<double> v0(kUnknowns, 0.0);
  double re = NAN, im = NAN;
  if (rq.alongMode) {
    if (!readMode(parity, c.Gr, v0, &re, &im)) {
      say(ru("Нет файла собственных векторов с этим классом рядом с "
             "контрольной точкой (plume-steady --stability).\n"));
      *status = kNoStart;
      PetscFunctionReturn(0);
    }
  } else {
    std::mt19937_64 random(20);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int i = 1; i <= kUnknownRows; ++i)
      for (int j = 1; j <= kUnknownCols; ++j) {
        NodeValues m = massRow(i, j, parity);
        const std::size_t k = std::size_t(unknownIndex(i, j, 0, kAllUnknowns));
        v0[k] = m.t * uniform(random);
        v0[k + 1] = m.omega * uniform(random);
      }
  }
  const double scale = rq.size * maxAbs(u0) / maxAbs(v0);
  for (double &x : v0)
    x *= scale;

  TimeForm form;
  form.rtol = 1e-4;
  PetscCall(PetscOptionsGetReal(nullptr, nullptr, "-evolve_rtol", &form.rtol,
                                nullptr));
  form.atol = 1e-10 * rq.size * maxAbs(u0);
  const Evaluation start{state, c}; // u0: the state holds it
  PetscCall(createClassMatrix(start, parity, &form.A));
  PetscCall(assembleClassOperator(start, form.A, parity));
  Mat M;
  PetscCall(createMassMatrix(parity, &M));
  PetscCall(MatCreateVecs(M, nullptr, &form.mass));
  PetscCall(MatGetDiagonal(M, form.mass));
  PetscCall(MatDestroy(&M));
  NonlinearForm nonlinear{state, c, u0, std::vector<double>(kUnknowns), {}};
  if (own)
    form.rhs = [&nonlinear](Vec v, Vec f) { return nonlinear.apply(v, f); };
  else
    form.rhs = [A = form.A](Vec v, Vec f) { return MatMult(A, v, f); };
  form.linear = !own;
  if (own) {
    // f(0) = -S r(u0) is the rounding of the steady residual at u0; f's
    // rounding anywhere near u0 is of its size, and no implicit solve can go
    // below it.
    Vec zero, f0;
    PetscCall(MatCreateVecs(form.A, nullptr, &zero));
    PetscCall(VecDuplicate(zero, &f0));
    PetscCall(VecSet(zero, 0.0));
    PetscCall(form.rhs(zero, f0));
    PetscReal n;
    PetscCall(VecNorm(f0, NORM_2, &n));
    form.newtonFloor = 10 * n;
    PetscCall(VecDestroy(&zero));
    PetscCall(VecDestroy(&f0));
  }
  form.preconditioner = [parity](PC pc) {
    return setLuPreconditioner(pc, classRows(parity), kUnknownCols,
                               LuPrecision::Single);
  };
  Vec v;
  PetscCall(MatCreateVecs(form.A, nullptr, &v));
  {
    PetscScalar *a;
    PetscCall(VecGetArray(v, &a));
    for (std::size_t k = 0; k < kUnknowns; ++k)
      a[k] = v0[k];
    PetscCall(VecRestoreArray(v, &a));
  }
  Record rec;
  rec.until = rq.time;
  for (std::size_t k = 0; k < kUnknowns; ++k)
    if (std::fabs(v0[k]) > std::fabs(v0[rec.probe]))
      rec.probe = k;
  rec.table = std::fopen(evolveTablePath().c_str(), "w");
  if (rec.table)
    std::fputs("t,norm,norm_t,norm_omega,probe\n", rec.table);
  std::string line =
      ru("Эволюция от контрольной точки Gr = ").str() + exactText(c.Gr) +
      ru(" до t = ").str() + exactText(rq.time) + ru(": возмущение ").str() +
      (rq.alongMode ? ru("вдоль ведущего собственного вектора").str()
                    : ru("случайное").str()) +
      (own ? ru(" симметричного класса (полная нелинейная форма)").str()
           : ru(" антисимметричного класса (линеаризованная форма)").str()) +
      "\n";
  say(line);
  TimeOutcome outcome;
  const double t0 = MPI_Wtime();
  PetscCall(integrate(
      form, v, rq.time,
      [&rec](double t, Vec x) { return recordStep(rec, t, x); }, &outcome));
  bool written = rec.table != nullptr;
  if (rec.table)
    written = std::fclose(rec.table) == 0;
  GrowthFit fit = fitGrowth(rec.t, rec.norm, rec.probeValue);
  char text[320];
  std::snprintf(text, sizeof text,
                "t = %.6g: %d steps (%d rejected), %d factorisations, %.1f s; "
                "growth rate %.6g, "
                "frequency %.6g",
                outcome.reached, outcome.steps, outcome.rejected,
                outcome.factorisations, MPI_Wtime() - t0, fit.rate,
                fit.frequency);
  line = ru("Эволюция окончена, ").str() + text;
  if (rq.alongMode) {
    std::snprintf(text, sizeof text,
                  "; eigenvalue %.6g %c %.6g i (rate off by %.2g %%)", re,
                  im < 0 ? '-' : '+', std::fabs(im),
                  100 * std::fabs(fit.rate - re) / std::fabs(re));
    line += text;
  }
  say(line + "\n");
  if (own)
    written = keepFinal(state, c, checkpoints, u0, v, outcome.reached,
                        outcome.steps) &&
              written;
  else
    say(ru("Состояние с антисимметричным возмущением не симметрично: половина "
           "полости его не хранит, контрольная точка не пишется.\n"));
  if (!written)
    say(ru("Файл ").str() + evolveTablePath() +
        ru(" или состояние не записаны.\n").str());
  *status = written ? kSolved : kNotSaved;
  PetscCall(VecDestroy(&v));
  PetscCall(VecDestroy(&form.mass));
  PetscCall(MatDestroy(&form.A));
  PetscFunctionReturn(0);
}

} // namespace

std::string evolveTablePath() { return std::string(kFolder) + "evolve.csv"; }

PetscErrorCode readEvolveRequest(EvolveRequest *rq, bool *given, bool *bad) {
  PetscFunctionBeginUser;
  PetscBool set = PETSC_FALSE;
  *bad = false;
  PetscCall(PetscOptionsGetReal(nullptr, nullptr, "-evolve", &rq->time, &set));
  *given = set;
  if (!set)
    PetscFunctionReturn(0);
  char mode[16] = "";
  PetscBool modeSet = PETSC_FALSE;
  PetscCall(PetscOptionsGetString(nullptr, nullptr, "-mode", mode, sizeof mode,
                                  &modeSet));
  PetscCall(
      PetscOptionsGetReal(nullptr, nullptr, "-perturb", &rq->size, nullptr));
  if (modeSet) {
    if (std::strcmp(mode, "sym") == 0)
      rq->parity = ModeClass::Same;
    else if (std::strcmp(mode, "anti") == 0)
      rq->parity = ModeClass::Opposite;
    else
      *bad = true;
  }
  rq->alongMode = modeSet;
  if (!(rq->time > 0) || !(rq->size > 0))
    *bad = true;
  if (*bad)
    say(ru(
        "--evolve TIME: TIME > 0; --mode sym или anti; --perturb EPS > 0.\n"));
  PetscFunctionReturn(0);
}

int runEvolve(const EvolveRequest &request, State &state, const Case &c) {
  int status = kNoStart;
  if (evolve(request, state, c, &status) != 0)
    return kNotConverged;
  return status;
}

} // namespace plume::steady
