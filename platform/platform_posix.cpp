#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/platform.h"
#include "platform/text.h"

namespace plume {

namespace {
volatile sig_atomic_t receivedSignal = 0;

extern "C" void onInterrupt(int sig) {
  if (receivedSignal != 0) _exit(128 + sig);  // second signal: stop at once
  receivedSignal = sig;
}
}  // namespace

void initConsole() {
  // POSIX consoles take UTF-8; the texts are converted in consoleWrite, and
  // the C locale stays in force so numbers always use '.'.
}

void consoleWrite(std::string_view cp1251) {
  std::string utf8 = cp1251ToUtf8(cp1251);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

void waitForKey() {
  if (!isatty(STDIN_FILENO)) return;
  consoleWrite(ru("Для завершения нажмите любую клавишу . . .\n"));
  termios saved{};
  bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (raw) {
    termios t = saved;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &t);
  }
  char c;
  ssize_t ignored = read(STDIN_FILENO, &c, 1);
  (void)ignored;
  if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

std::string reportFileName() { return cp1251ToUtf8(ru("Отчет.txt")); }

void syncFile(std::FILE* f) { fsync(fileno(f)); }

bool replaceFile(const std::string& temp, const std::string& target) {
  if (std::rename(temp.c_str(), target.c_str()) != 0) return false;
  // The new name is on the disk only once its folder is.
  std::string folder = std::filesystem::path(target).parent_path().string();
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

void installInterruptHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // Ctrl+C also ends the reader of a console pipe (`plume | tee log`); the
  // writes to it must then fail quietly instead of ending the run before its
  // results are saved.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

int interruptSignal() { return receivedSignal; }

}  // namespace plume
