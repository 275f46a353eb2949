#include "run/summary.h"

#include "output/number_format.h"
#include "output/results.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "state/grid.h"

namespace plume {

std::string runSummary(double elapsedSeconds) {
  // Minutes and seconds are both taken from the whole elapsed time; there is
  // no hours field, so minutes may exceed 59.
  int minutes = static_cast<int>(elapsedSeconds / 60.0);
  int seconds = static_cast<int>(elapsedSeconds) % 60;
  std::string s = ru("Размерность сетки = ").str();
  appendInteger(s, NY);
  s += '*';
  appendInteger(s, NX);
  s += "\nGr = ";
  appendNumber(s, Gr);
  s += "\tPr = ";
  appendNumber(s, Pr);
  s += '\n';
  s += ru("Понадобилось времени: ");
  appendInteger(s, minutes);
  s += ru(" минут,   ");
  appendInteger(s, seconds);
  s += ru(" секунд\n\n");
  return s;
}

void reportRun(double elapsedSeconds) {
  std::string summary = runSummary(elapsedSeconds);
  consoleWrite(summary);
  writeFileAtomically(reportFileName(), summary);
}

}  // namespace plume
