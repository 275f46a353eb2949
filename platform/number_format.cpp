#include "platform/number_format.h"

#include <charconv>

namespace plume {

void appendNumber(std::string& out, double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  out.append(buf, r.ptr);
}

void appendExactNumber(std::string& out, double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void appendInteger(std::string& out, long long v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

std::string formatNumber(double v) {
  std::string s;
  appendNumber(s, v);
  return s;
}

}  // namespace plume
