#include "output/run_summary.h"

#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "state/state.h"

namespace plume {

namespace {

// Minutes and seconds are both taken from the whole elapsed time; there is
// no hours field, so minutes may exceed 59.
void appendDuration(std::string& s, double elapsedSeconds) {
  appendInteger(s, static_cast<int>(elapsedSeconds / 60.0));
  s += ru(" минут,   ");
  appendInteger(s, static_cast<int>(elapsedSeconds) % 60);
  s += ru(" секунд\n");
}

}  // namespace

std::string runSummary(const Case& c, double elapsedSeconds, double totalSeconds) {
  std::string s = ru("Размерность сетки = ").str();
  appendInteger(s, NY);
  s += '*';
  appendInteger(s, NX);
  s += "\nGr = ";
  appendNumber(s, c.Gr);
  s += "\tPr = ";
  appendNumber(s, c.Pr);
  s += '\n';
  s += ru("Понадобилось времени: ");
  appendDuration(s, elapsedSeconds);
  if (totalSeconds >= 0.0) {
    s += ru("Всего с начала расчета: ");
    appendDuration(s, totalSeconds);
  }
  s += '\n';
  return s;
}

void reportRun(const Case& c, double elapsedSeconds, double totalSeconds) {
  std::string summary = runSummary(c, elapsedSeconds, totalSeconds);
  consoleWrite(summary);
  if (!writeFileAtomically(reportFileName(), summary, FileKind::Text))
    consoleWrite(ru("Предупреждение: не удалось записать файл 'Отчет.txt'\n"));
}

}  // namespace plume
