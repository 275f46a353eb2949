#include "steady/arguments.h"

#include <petscversion.h>

#include <charconv>
#include <cmath>
#include <string_view>

#include "platform/text.h"

namespace plume::steady {

namespace {

// A whole token as a finite number.
bool readNumber(std::string_view s, double& v) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool readCount(std::string_view s, int& n) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), n);
  return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// What is wrong with "--sweep a b c", or an empty string.
std::string sweepFault(const char* a, const char* b, const char* c, SweepRange& r) {
  if (!readNumber(a, r.from) || !readNumber(b, r.to))
    return ru("FROM и TO должны быть числами").str();
  if (!readCount(c, r.count) || r.count < 1)
    return ru("N должно быть целым числом не меньше 1").str();
  if (r.from == 0 || r.to == 0) return ru("FROM и TO не могут быть нулем").str();
  if ((r.from > 0) != (r.to > 0)) return ru("FROM и TO должны быть одного знака").str();
  if (r.count == 1 && r.from != r.to) return ru("при N = 1 FROM и TO должны совпадать").str();
  return "";
}

}  // namespace

Arguments parseArguments(int argc, char** argv) {
  Arguments a;
  a.petscArgs.push_back(argv[0]);
  for (int k = 1; k < argc; ++k) {
    std::string_view arg = argv[k];
    if (arg == "--help" || arg == "-help" || arg == "-h") {
      a.mode = Arguments::Mode::Help;
      return a;
    }
    if (arg == "--sweep") {
      if (a.mode == Arguments::Mode::Sweep) {
        a.fault = ru("--sweep задан дважды").str();
      } else if (k + 3 >= argc) {
        a.fault = ru("после --sweep нужны три значения: FROM TO N").str();
      } else {
        a.fault = sweepFault(argv[k + 1], argv[k + 2], argv[k + 3], a.sweep);
        k += 3;
      }
      if (!a.fault.empty()) {
        a.mode = Arguments::Mode::Bad;
        return a;
      }
      a.mode = Arguments::Mode::Sweep;
      continue;
    }
    a.petscArgs.push_back(argv[k]);
  }
  return a;
}

std::string usageText() {
  std::string s = ru(
      "Использование: plume-steady [--sweep FROM TO N] [параметры PETSc]\n"
      "  без аргументов        стационарное решение для Gr, Pr и температур стенок\n"
      "                        из файла Result/parametrs (в рабочей папке)\n"
      "  --sweep FROM TO N     серия из N значений Gr от FROM до TO, равномерно по log|Gr|\n"
      "                        (концы включены, FROM и TO одного знака, не ноль); Pr и\n"
      "                        температуры стенок из Result/parametrs, его Gr не используется.\n"
      "                        Каждая точка: пять файлов результатов, контрольная точка,\n"
      "                        summary_Gr_<Gr>.json и строка в Result/251_301_5_150/sweep.csv.\n"
      "                        Повторный запуск той же командой считает только недостающие точки.\n"
      "  --branch FROM TO [--at GR,...]  ветвь стационарных решений по Gr от FROM до TO\n"
      "                        (продолжение по длине дуги; docs/branch.md)\n"
      "  --stability           после решения: правые собственные числа обоих классов\n"
      "                        возмущений (симметричного и антисимметричного; docs/stability.md)\n"
      "                        (и в каждой точке серии или ветви; на ветви - критические точки)\n"
      "  -stability_nev N      собственных чисел на класс, по умолчанию 8\n"
      "  --evolve TIME [--mode sym|anti] [--perturb EPS]  интегрирование по времени от\n"
      "                        контрольной точки с возмущением (docs/stability.md)\n"
      "  -steady_max_steps N   шагов Ньютона на одно решение (точку серии), по умолчанию 100\n"
      "  -steady_lu_view       время и размер каждого разложения LU\n"
      "  -steady_lu_blr TOL    разложение LU с малоранговым сжатием блоков до точности TOL\n"
      "  --help, -help, -h     этот текст\n"
      "Параметры PETSc (-snes_..., -ksp_..., -pc_..., -log_view) можно задать и в PETSC_OPTIONS;\n"
      "их список - в руководстве PETSc ").str();
  s += std::to_string(PETSC_VERSION_MAJOR) + "." + std::to_string(PETSC_VERSION_MINOR);
  s += ru(" (https://petsc.org/release/manualpages/).\n"
          "Неизвестный параметр отклоняется до начала расчета (статус 64).\n"
          "Статус: 0 решено и проверено, 1 нет файла параметров или папки результатов,\n"
          "2 нет сходимости, 3 самопроверка не пройдена, 4 файл не записан, 64 неверные аргументы.\n").str();
  return s;
}

}  // namespace plume::steady
