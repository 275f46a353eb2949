#include "steady/step_stability.h"

#include "platform/platform.h"
#include "platform/text.h"
#include "steady/console.h"
#include "steady/lu_preconditioner.h"
#include "steady/stability_report.h"

namespace plume::steady {

PetscErrorCode releaseNewtonFactors(SNES snes) {
  PetscFunctionBeginUser;
  KSP ksp;
  PC pc;
  PetscCall(SNESGetKSP(snes, &ksp));
  PetscCall(KSPGetPC(ksp, &pc));
  PetscCall(releaseLuFactors(pc));
  PetscFunctionReturn(0);
}

PetscErrorCode stabilityOfState(SNES snes, const Evaluation& at, Stability* s) {
  PetscFunctionBeginUser;
  PetscCall(releaseNewtonFactors(snes));
  *s = Stability{};
  if (computeStability(at, s) != 0) {
    *s = Stability{};
    say(ru("Расчет устойчивости не удался.\n"));
    PetscFunctionReturn(0);
  }
  if (isFirstProcess()) consoleWrite(stabilityText(*s));
  PetscFunctionReturn(0);
}

PetscErrorCode leadingModeOfState(SNES snes, const Evaluation& at, ModeClass parity,
                                  LeadingMode* mode) {
  PetscFunctionBeginUser;
  PetscCall(releaseNewtonFactors(snes));
  *mode = LeadingMode{};
  if (leadingMode(at, parity, mode) != 0) {
    *mode = LeadingMode{};
    say(ru("Расчет устойчивости не удался.\n"));
  }
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
