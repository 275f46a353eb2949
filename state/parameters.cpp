#include "state/parameters.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "platform/number_format.h"
#include "platform/text.h"

namespace plume {

namespace {

constexpr const char* kNames[6] = {"Gr", "Pr", "tBottom", "tTop", "tLeft", "tRight"};

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The classic number syntax: optional sign, digits with an optional fraction
// after '.', optional exponent. Words, decimal commas, hexadecimal, "inf" and
// "nan" do not match.
bool isClassicNumber(std::string_view s) {
  std::size_t k = 0;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
  std::size_t digits = 0;
  while (k < s.size() && isDigit(s[k])) ++k, ++digits;
  if (k < s.size() && s[k] == '.') {
    ++k;
    while (k < s.size() && isDigit(s[k])) ++k, ++digits;
  }
  if (digits == 0) return false;
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    ++k;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    std::size_t expDigits = 0;
    while (k < s.size() && isDigit(s[k])) ++k, ++expDigits;
    if (expDigits == 0) return false;
  }
  return k == s.size();
}

std::string quoted(std::string_view token) {
  constexpr std::size_t kMax = 40;
  std::string s = "\"";
  s += token.substr(0, kMax);
  if (token.size() > kMax) s += "...";
  return s + "\"";
}

std::string fault(std::string_view what) {
  return ru("Ошибка в файле '").str() + kParameterFile + "': " + std::string(what) + "\n";
}

// Where the file was looked for, and where a working directory comes from.
std::string missingFileHint() {
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  bool ascii = !ec;
  for (char c : cwd) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  std::string where = ascii ? " '" + cwd + "'" : "";
  return ru("Он ищется как '").str() + kParameterFile + ru("' в рабочей папке").str() + where +
         ru(".\nГотовая рабочая папка - examples/ из поставки plume: скопируйте ее "
            "(cp -R examples ~/case) и запускайте plume в копии.\n").str();
}

}  // namespace

std::optional<std::string> parseParameters(std::string_view text, Case& values) {
  double read[6];
  std::size_t pos = 0;
  for (int n = 0; n < 6; ++n) {
    while (pos < text.size() && isSpace(text[pos])) ++pos;
    std::size_t end = pos;
    while (end < text.size() && !isSpace(text[end])) ++end;
    std::string_view token = text.substr(pos, end - pos);
    pos = end;
    std::string name = kNames[n];
    if (token.empty())
      return fault(ru("нет значения ").str() + name +
                   ru(" (нужны шесть чисел: Gr Pr tBottom tTop tLeft tRight)").str());
    if (!isClassicNumber(token))
      return fault(ru("значение ").str() + name + " " + quoted(token) +
                   ru(" не является числом (десятичный разделитель - точка)").str());
    std::string_view digits = token[0] == '+' ? token.substr(1) : token;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), read[n]);
    if (r.ec != std::errc())
      return fault(ru("значение ").str() + name + " " + quoted(token) +
                   ru(" вне диапазона чисел double").str());
  }
  if (read[1] < 0)
    return fault(ru("значение Pr = ").str() + formatNumber(read[1]) +
                 ru(" отрицательно; число Прандтля не может быть меньше 0").str());
  values = {read[0], read[1], read[2], read[3], read[4], read[5]};
  return std::nullopt;
}

std::optional<std::string> readParameterFile(Case& values) {
  std::FILE* f = std::fopen(kParameterFile, "rb");
  if (f == nullptr) return ru("Не найден файл 'parametrs'!!!\n").str() + missingFileHint();
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return parseParameters(text, values);
}

}  // namespace plume
