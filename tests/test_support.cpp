#include "tests/test_support.h"

#include <fcntl.h>
#include <locale.h>
#include <omp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <locale>
#include <random>
#include <sstream>
#include <stdexcept>

namespace plume::testing {

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "plume-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  if (made == nullptr) throw std::runtime_error("cannot create a scratch directory");
  path = made;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

WorkingDirectory::WorkingDirectory(const std::filesystem::path& dir)
    : saved_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ec;
  std::filesystem::current_path(saved_, ec);
}

StdinFromDevNull::StdinFromDevNull() {
  std::fflush(stdin);
  saved_ = dup(STDIN_FILENO);
  int null = open("/dev/null", O_RDONLY);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    close(null);
  }
}

StdinFromDevNull::~StdinFromDevNull() {
  if (saved_ >= 0) {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }
}

ThreadCount::ThreadCount(int n) : saved_(omp_get_max_threads()) { omp_set_num_threads(n); }

ThreadCount::~ThreadCount() { omp_set_num_threads(saved_); }

void makeWorkingDir(const std::filesystem::path& dir, const std::string& parameters,
                    bool withResultFolders) {
  std::filesystem::create_directories(dir / "Result");
  std::ofstream(dir / "Result" / "parametrs", std::ios::binary) << parameters;
  if (withResultFolders)
    for (const char* sub : kResultFolders)
      std::filesystem::create_directories(dir / "Result" / "251_301_5_150" / sub);
}

std::string resultPath(const std::string& folder, const std::string& grText) {
  return "Result/251_301_5_150/" + folder + "/" + folder + "_Pr_2700_Gr_" + grText + ".txt";
}

RunResult runIn(const std::filesystem::path& dir, const std::string& command) {
  std::string line = "cd '" + dir.string() + "' && " + command + " </dev/null";
  RunResult r;
  std::FILE* p = popen(line.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
  int st = pclose(p);
  if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  else if (WIFSIGNALED(st)) r.status = 128 + WTERMSIG(st);
  return r;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> filesBelow(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

void resetState() {
  std::memset(Psi, 0, sizeof Psi);
  std::memset(Omega, 0, sizeof Omega);
  std::memset(T, 0, sizeof T);
  Gr = 0.0;
  Pr = 0.0;
  omegaSqSum = 0.0;
}

FieldCopy copyOf(const Field& f) { return FieldCopy(&f[0][0], &f[0][0] + kRows * kCols); }

void restore(Field& f, const FieldCopy& copy) {
  std::copy(copy.begin(), copy.end(), &f[0][0]);
}

StateCopy saveState() { return {copyOf(Psi), copyOf(Omega), copyOf(T), omegaSqSum}; }

void restoreState(const StateCopy& s) {
  restore(Psi, s.psi);
  restore(Omega, s.omega);
  restore(T, s.t);
  omegaSqSum = s.omegaSqSum;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

long countDifferences(const Field& f, const FieldCopy& copy, std::string* where) {
  long n = 0;
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j) {
      double was = copy[std::size_t(i) * kCols + j];
      if (sameBits(f[i][j], was)) continue;
      if (n++ == 0 && where != nullptr) {
        std::ostringstream s;
        s.precision(17);
        s << "(" << i << ", " << j << "): " << f[i][j] << " vs " << was;
        *where = s.str();
      }
    }
  return n;
}

void fillRandom(Field& f, std::uint64_t seed, double lo, double hi) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j) f[i][j] = dist(gen);
}

std::string toCp1251(std::string_view utf8) {
  std::string out;
  for (std::size_t k = 0; k < utf8.size();) {
    auto b = static_cast<unsigned char>(utf8[k]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++k;
      continue;
    }
    if ((b & 0xE0) != 0xC0 || k + 1 >= utf8.size())
      throw std::invalid_argument("toCp1251: only ASCII and Russian letters");
    unsigned c = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[k + 1]) & 0x3Fu);
    k += 2;
    if (c >= 0x410 && c <= 0x44F) out += static_cast<char>(0xC0 + (c - 0x410));
    else if (c == 0x401) out += static_cast<char>(0xA8);
    else if (c == 0x451) out += static_cast<char>(0xB8);
    else throw std::invalid_argument("toCp1251: only ASCII and Russian letters");
  }
  return out;
}

namespace {

bool commaLocale(const std::string& name) {
  if (std::setlocale(LC_ALL, name.c_str()) == nullptr) return false;
  if (std::strcmp(std::localeconv()->decimal_point, ",") == 0) return true;
  std::setlocale(LC_ALL, "C");
  return false;
}

}  // namespace

CommaLocale::CommaLocale() {
  for (const char* candidate : {"de_DE.UTF-8", "de_DE.utf8", "ru_RU.UTF-8", "ru_RU.utf8",
                                "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "ru_RU"})
    if (commaLocale(candidate)) {
      name_ = candidate;
      break;
    }
  if (name_.empty() && std::filesystem::exists("/usr/share/i18n/locales/de_DE")) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "plume-locale-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) {
      compiled_ = tmpl;
      std::string command = "localedef -i de_DE -f UTF-8 '" + tmpl + "/de_DE.UTF-8' >/dev/null 2>&1";
      int status = std::system(command.c_str());
      if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) <= 1) {
        setenv("LOCPATH", tmpl.c_str(), 1);
        if (commaLocale("de_DE.UTF-8")) name_ = "de_DE.UTF-8";
      }
    }
  }
  if (!name_.empty()) {
    try {
      std::locale::global(std::locale(name_));
    } catch (const std::exception&) {
      // The C library's locale is set; the C++ one stays classic.
    }
  }
}

CommaLocale::~CommaLocale() {
  std::locale::global(std::locale::classic());
  std::setlocale(LC_ALL, "C");
  if (!compiled_.empty()) {
    unsetenv("LOCPATH");
    std::error_code ec;
    std::filesystem::remove_all(compiled_, ec);
  }
}

std::string CommaLocale::env() const {
  if (name_.empty()) return "";
  std::string e = "LC_ALL=" + name_ + " ";
  if (!compiled_.empty()) e += "LOCPATH='" + compiled_.string() + "' ";
  return e;
}

std::string cFormat(const char* format, double v) {
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  locale_t previous = uselocale(cLocale);
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  uselocale(previous);
  return buf;
}

}  // namespace plume::testing
