#include "output/progress.h"

#include <string>

#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace plume {

void printProgress(int k, double residual) {
  std::string line = ru("Итерация = ").str();
  appendInteger(line, k);
  line += ru("\tНевязка = ");
  appendNumber(line, residual);
  line += '\n';
  consoleWrite(line);
}

void printIterationMessage(std::string_view text, int k) {
  std::string line(text);
  appendInteger(line, k);
  line += '\n';
  consoleWrite(line);
}

void printConverged(int k) {
  consoleWrite(ru("Достигнут предел невязки!!\n"));
  printIterationMessage(ru("Количество итераций = "), k);
}

}  // namespace plume
