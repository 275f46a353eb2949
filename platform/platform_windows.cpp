#include <io.h>
#include <windows.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/text.h"

namespace plume {

namespace {
volatile std::sig_atomic_t receivedSignal = 0;

extern "C" void onInterrupt(int sig) {
  if (receivedSignal != 0) std::_Exit(128 + sig);  // second signal: stop at once
  receivedSignal = sig;
  std::signal(sig, onInterrupt);  // the handler is reset on each delivery here
}
}  // namespace

void initConsole() {
  // The runtime's locale becomes the system's ANSI code page, so the console
  // shows the Windows-1251 texts as Russian. Numbers are formatted without
  // the locale, so the decimal point stays '.'.
  std::setlocale(LC_ALL, ".ACP");
}

void consoleWrite(std::string_view cp1251) {
  std::fwrite(cp1251.data(), 1, cp1251.size(), stdout);
  std::fflush(stdout);
}

void waitForKey() { std::system("pause"); }

std::string reportFileName() { return ru("Отчет.txt").str(); }

void syncFile(std::FILE* f) { _commit(_fileno(f)); }

bool replaceFile(const std::string& temp, const std::string& target) {
  return MoveFileExA(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void installInterruptHandlers() {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}

int interruptSignal() { return receivedSignal; }

}  // namespace plume
