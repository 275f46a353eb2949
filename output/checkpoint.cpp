#include "output/checkpoint.h"

#include <zlib.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>

#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "solver/boundary.h"
#include "solver/mirror.h"
#include "state/initial_state.h"

namespace plume {

namespace {

constexpr char kMagic[8] = {'P', 'L', 'U', 'M', 'E', 'C', 'K', 'P'};
constexpr int kStoredRows = NX / 2 + 1;  // rows 0 .. 600: the computed half and the axis row
constexpr std::size_t kFieldBytes = std::size_t(kStoredRows) * kCols * 8;

// The file's layout (checkpoint.h), read and written only through this table.
struct Slot {
  std::size_t offset, size;
  constexpr std::size_t end() const { return offset + size; }
};
namespace at {
constexpr Slot magic{0, 8};
constexpr Slot version{magic.end(), 4};
constexpr Slot rows{version.end(), 4};
constexpr Slot cols{rows.end(), 4};
constexpr Slot storedRows{cols.end(), 4};
constexpr Slot parameters{storedRows.end(), 6 * 8};  // Gr, Pr, tBottom, tTop, tLeft, tRight
constexpr Slot completed{parameters.end(), 8};
constexpr Slot prevSum{completed.end(), 8};
constexpr Slot residual{prevSum.end(), 8};
constexpr Slot sum{residual.end(), 8};
constexpr Slot seconds{sum.end(), 8};
constexpr Slot flags{seconds.end(), 4};
constexpr Slot zero{flags.end(), 4};
constexpr Slot fields{zero.end(), 3 * kFieldBytes};  // T, Omega, Psi
constexpr Slot crc{fields.end(), 4};
}  // namespace at
constexpr std::size_t kHeaderSize = at::fields.offset;
constexpr std::size_t kFileSize = at::crc.end();
static_assert(kHeaderSize == 120 && at::flags.offset == 112 && at::parameters.offset == 24);
static_assert(kFileSize == 120 + 3 * std::size_t(601) * 921 * 8 + 4);
constexpr std::uint32_t kConvergedFlag = 1;

// ---- little-endian encoding, whatever the byte order of the machine ----

void putU32(unsigned char* p, std::uint32_t v) {
  for (int b = 0; b < 4; ++b) p[b] = static_cast<unsigned char>(v >> (8 * b));
}
void putU64(unsigned char* p, std::uint64_t v) {
  for (int b = 0; b < 8; ++b) p[b] = static_cast<unsigned char>(v >> (8 * b));
}
void putF64(unsigned char* p, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  putU64(p, bits);
}
std::uint32_t getU32(const unsigned char* p) {
  std::uint32_t v = 0;
  for (int b = 3; b >= 0; --b) v = (v << 8) | p[b];
  return v;
}
std::uint64_t getU64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int b = 7; b >= 0; --b) v = (v << 8) | p[b];
  return v;
}
double getF64(const unsigned char* p) {
  std::uint64_t bits = getU64(p);
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

std::uint32_t crc(const unsigned char* data, std::size_t size) {
  uLong c = crc32(0L, Z_NULL, 0);
  while (size > 0) {
    uInt n = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
    c = crc32(c, data, n);
    data += n;
    size -= n;
  }
  return static_cast<std::uint32_t>(c);
}

double parameterAt(const Case& v, int k) {
  const double all[6] = {v.Gr, v.Pr, v.tBottom, v.tTop, v.tLeft, v.tRight};
  return all[k];
}
constexpr const char* kParameterNames[6] = {"Gr", "Pr", "tBottom", "tTop", "tLeft", "tRight"};

// Shortest text that reads back as the same double, so differing values
// never print alike.
std::string exact(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string encode(const State& s, const Case& c, const CheckpointMeta& meta) {
  std::string bytes(kFileSize, '\0');
  auto* p = reinterpret_cast<unsigned char*>(bytes.data());
  std::memcpy(p + at::magic.offset, kMagic, at::magic.size);
  putU32(p + at::version.offset, kCheckpointVersion);
  putU32(p + at::rows.offset, kRows);
  putU32(p + at::cols.offset, kCols);
  putU32(p + at::storedRows.offset, kStoredRows);
  for (int k = 0; k < 6; ++k) putF64(p + at::parameters.offset + 8 * k, parameterAt(c, k));
  putU64(p + at::completed.offset, static_cast<std::uint64_t>(meta.completedIterations));
  putF64(p + at::prevSum.offset, meta.prevOmegaSqSum);
  putF64(p + at::residual.offset, meta.lastResidual);
  putF64(p + at::sum.offset, s.omegaSqSum);
  putF64(p + at::seconds.offset, meta.loopSeconds);
  putU32(p + at::flags.offset, meta.converged ? kConvergedFlag : 0u);
  unsigned char* out = p + at::fields.offset;
  for (const Field* f : {&s.T, &s.Omega, &s.Psi})
    for (int i = 0; i < kStoredRows; ++i)
      for (int j = 0; j < kCols; ++j, out += 8) putF64(out, (*f)[i][j]);
  putU32(p + at::crc.offset, crc(p, at::crc.offset));
  return bytes;
}

std::string fileText(const std::string& path) {
  return ru("Контрольная точка '").str() + path + "'";
}

CheckpointRead refused(const std::string& path, const std::string& reason) {
  return {CheckpointStatus::Refused, fileText(path) + ": " + reason + "\n"};
}

// Validates `bytes` read from `path`; on success fills `meta` and `stored`.
CheckpointRead validate(const std::string& path, const std::string& bytes,
                        const Case* expected, Case& stored) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto sizeText = [&](std::size_t n) {
    std::string s;
    appendInteger(s, static_cast<long long>(n));
    return s;
  };
  if (bytes.size() >= at::magic.end() && std::memcmp(p + at::magic.offset, kMagic, at::magic.size) != 0)
    return refused(path, ru("это не файл контрольной точки plume").str());
  if (bytes.size() < kHeaderSize)
    return refused(path, ru("файл обрезан: ").str() + sizeText(bytes.size()) +
                             ru(" байт вместо ").str() + sizeText(checkpointSize()));
  std::uint32_t version = getU32(p + at::version.offset);
  if (version != kCheckpointVersion)
    return refused(path, ru("формат версии ").str() + sizeText(version) +
                             ru(", эта программа читает версию ").str() +
                             sizeText(kCheckpointVersion));
  std::uint32_t rows = getU32(p + at::rows.offset), cols = getU32(p + at::cols.offset),
                storedRows = getU32(p + at::storedRows.offset);
  if (rows != kRows || cols != kCols || storedRows != kStoredRows)
    return refused(path, ru("сетка ").str() + sizeText(rows) + "x" + sizeText(cols) + " (" +
                             sizeText(storedRows) +
                             ru(" строк), эта программа считает на сетке ").str() +
                             sizeText(kRows) + "x" + sizeText(kCols) + " (" +
                             sizeText(kStoredRows) + ru(" строк)").str());
  if (bytes.size() != checkpointSize())
    return refused(path, (bytes.size() < checkpointSize() ? ru("файл обрезан: ").str()
                                                          : ru("файл длиннее формата: ").str()) +
                             sizeText(bytes.size()) + ru(" байт вместо ").str() +
                             sizeText(checkpointSize()));
  if (crc(p, at::crc.offset) != getU32(p + at::crc.offset))
    return refused(path, ru("файл поврежден: контрольная сумма не совпадает").str());
  double values[6];
  for (int k = 0; k < 6; ++k) values[k] = getF64(p + at::parameters.offset + 8 * k);
  stored = {values[0], values[1], values[2], values[3], values[4], values[5]};
  if (expected != nullptr)
    for (int k = 0; k < 6; ++k) {
      double want = parameterAt(*expected, k);
      if (std::memcmp(&values[k], &want, 8) != 0)
        return refused(path, ru("параметр ").str() + kParameterNames[k] +
                                 ru(" в ней равен ").str() + exact(values[k]) +
                                 ru(", а в файле '").str() + kParameterFile + ru("' равен ").str() +
                                 exact(want));
    }
  CheckpointRead r{CheckpointStatus::Loaded, ""};
  r.meta.completedIterations = static_cast<std::int64_t>(getU64(p + at::completed.offset));
  r.meta.prevOmegaSqSum = getF64(p + at::prevSum.offset);
  r.meta.lastResidual = getF64(p + at::residual.offset);
  r.meta.loopSeconds = getF64(p + at::seconds.offset);
  r.meta.converged = (getU32(p + at::flags.offset) & kConvergedFlag) != 0;
  if (r.meta.completedIterations < 0 ||
      r.meta.completedIterations > std::numeric_limits<int>::max())
    return refused(path, ru("неверный номер итерации").str());
  return r;
}

// The whole file, or false when it cannot be opened.
bool readAll(const std::string& path, std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[1 << 16];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  std::fclose(f);
  return true;
}

CheckpointRead readAndValidate(const std::string& path, const Case* expected,
                               std::string& bytes, Case& stored) {
  std::error_code ec;
  bool present = std::filesystem::exists(path, ec);
  if (!present) return {CheckpointStatus::Missing, fileText(path) + ru(": файла нет\n").str()};
  if (!readAll(path, bytes)) return refused(path, ru("файл не удалось прочитать").str());
  return validate(path, bytes, expected, stored);
}

// Sets the fields from the stored rows; the mirror half by the mirror rule,
// its walls as the initial state and the wall-vorticity rule leave them.
void load(const unsigned char* p, const Case& values, State& s) {
  setInitialState(s, values);
  const unsigned char* in = p + at::fields.offset;
  for (Field* f : {&s.T, &s.Omega, &s.Psi})
    for (int i = 0; i < kStoredRows; ++i)
      for (int j = 0; j < kCols; ++j, in += 8) (*f)[i][j] = getF64(in);
  mirrorHalf(s.T, s.Omega, s.Psi);
  mirrorWallVorticity(s.Omega);
  s.omegaSqSum = getF64(p + at::sum.offset);
}

void warnNotWritten(const std::string& path, std::string_view why) {
  consoleWrite(ru("Предупреждение: не удалось записать контрольную точку '").str() + path + "' (" +
               std::string(why) + ")\n");
}

}  // namespace

std::size_t checkpointSize() { return kFileSize; }

std::string checkpointPath(double gr) {
  return "Result/251_301_5_150/checkpoint_Gr_" + formatNumber(gr) + ".bin";
}

bool writeCheckpoint(const State& s, const Case& c, const CheckpointMeta& meta,
                     CheckpointHistory& history) {
  return writeCheckpointAt(checkpointPath(c.Gr), s, c, meta, history);
}

bool writeCheckpointAt(const std::string& path, const State& s, const Case& c,
                       const CheckpointMeta& meta, CheckpointHistory& history) {
  std::error_code ec;
  if (!history.own && std::filesystem::exists(path, ec)) {
    // Another run's checkpoint: keep it under a second name. A hard link
    // keeps the checkpoint's own name valid until the new one replaces it.
    const std::string old = path + ".old";
    std::filesystem::remove(old, ec);
    std::filesystem::create_hard_link(path, old, ec);
    if (ec)
      std::filesystem::copy_file(path, old, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      warnNotWritten(path, ru("прежнюю не удалось сохранить как .old"));
      return false;
    }
  }
  std::string reason;
  if (!writeFileAtomically(path, encode(s, c, meta), FileKind::Binary, &reason)) {
    warnNotWritten(path, reason);
    return false;
  }
  history.own = true;
  return true;
}

CheckpointRead readCheckpoint(const std::string& path, const Case* expected, State& s, Case& c,
                              CheckpointHistory& history) {
  std::string bytes;
  Case stored;
  CheckpointRead r = readAndValidate(path, expected, bytes, stored);
  if (r.status != CheckpointStatus::Loaded) return r;
  load(reinterpret_cast<const unsigned char*>(bytes.data()), stored, s);
  c = stored;
  history.own = true;
  return r;
}

CheckpointRead inspectCheckpoint(const std::string& path, const Case& expected) {
  std::string bytes;
  Case stored;
  return readAndValidate(path, &expected, bytes, stored);
}

}  // namespace plume
