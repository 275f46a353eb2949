#include "steady/sweep_plan.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <set>

#include "platform/number_format.h"

namespace plume::steady {

namespace {

double caseValue(const Case& c, int k) {
  const double all[6] = {c.Gr, c.Pr, c.tBottom, c.tTop, c.tLeft, c.tRight};
  return all[k];
}

}  // namespace

std::vector<double> sweepPoints(const SweepRange& r) {
  std::vector<double> points;
  const double a = std::log10(std::fabs(r.from)), b = std::log10(std::fabs(r.to));
  std::set<std::string> names;
  for (int k = 0; k < r.count; ++k) {
    double v;
    if (k == 0) {
      v = r.from;
    } else if (k == r.count - 1) {
      v = r.to;
    } else {
      const double exact = std::copysign(std::pow(10.0, a + (b - a) * k / (r.count - 1)), r.from);
      const std::string text = formatNumber(exact);
      std::from_chars(text.data(), text.data() + text.size(), v);
    }
    if (!names.insert(formatNumber(v)).second) return {};
    points.push_back(v);
  }
  return points;
}

int nearestFinished(const std::vector<bool>& finished, int next) {
  const int n = static_cast<int>(finished.size());
  for (int d = 1; d < n; ++d) {
    if (next - d >= 0 && finished[next - d]) return next - d;
    if (next + d < n && finished[next + d]) return next + d;
  }
  return -1;
}

std::string sweepCsvLine(const SweepRow& row) {
  std::string s;
  for (int k = 0; k < 6; ++k) {
    appendExactNumber(s, caseValue(row.c, k));
    s += ',';
  }
  s += row.status + ',';
  appendInteger(s, row.newtonSteps);
  s += ',';
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", row.seconds);
  s += seconds;
  for (const std::optional<double>& q : row.quantities) {
    s += ',';
    if (q && std::isfinite(*q)) appendExactNumber(s, *q);
  }
  if (!row.stability) return s + ",,,,,";
  const StabilityFacts& f = *row.stability;
  s += f.stable ? ",1" : ",0";
  for (double v : {f.symRe, f.symIm, f.antiRe, f.antiIm}) {
    s += ',';
    if (std::isfinite(v)) appendExactNumber(s, v);
  }
  return s;
}

namespace {

std::size_t commas(const std::string& line) {
  std::size_t n = 0;
  for (char ch : line) n += ch == ',';
  return n;
}

}  // namespace

bool rowHasStability(const std::string& line) {
  // `stable` is the 22nd column: after the 21st comma.
  std::size_t pos = 0;
  for (int k = 0; k < 21; ++k) {
    pos = line.find(',', pos);
    if (pos == std::string::npos) return false;
    ++pos;
  }
  return pos < line.size() && line[pos] != ',';
}

std::string paddedRow(const std::string& line) {
  const std::size_t want = commas(kSweepHeader), have = commas(line);
  return have >= want ? line : line + std::string(want - have, ',');
}

std::optional<RowKey> readRowKey(const std::string& line) {
  double v[6];
  std::size_t pos = 0;
  for (int k = 0; k < 6; ++k) {
    std::size_t comma = line.find(',', pos);
    if (comma == std::string::npos) return std::nullopt;
    auto r = std::from_chars(line.data() + pos, line.data() + comma, v[k]);
    if (r.ec != std::errc() || r.ptr != line.data() + comma) return std::nullopt;
    pos = comma + 1;
  }
  std::size_t comma = line.find(',', pos);
  if (comma == std::string::npos) return std::nullopt;
  return RowKey{{v[0], v[1], v[2], v[3], v[4], v[5]}, line.substr(pos, comma - pos)};
}

bool sameCase(const Case& a, const Case& b) {
  for (int k = 0; k < 6; ++k) {
    double x = caseValue(a, k), y = caseValue(b, k);
    if (std::memcmp(&x, &y, sizeof x) != 0) return false;
  }
  return true;
}

}  // namespace plume::steady
