#include "output/checkpoint.h"

#include <zlib.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>

#include "output/results.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "solver/boundary.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "state/grid.h"

namespace plume {

namespace {

constexpr char kMagic[8] = {'P', 'L', 'U', 'M', 'E', 'C', 'K', 'P'};
constexpr std::size_t kHeaderSize = 120;
constexpr int kStoredRows = NX / 2 + 1;  // rows 0 .. 600: the computed half and the axis row
constexpr std::size_t kFieldBytes = std::size_t(kStoredRows) * kCols * 8;

// A checkpoint this process has read or written may be replaced; any other
// one is kept as "….bin.old" by the first write.
bool ownCheckpoint = false;

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

double parameterAt(const ParameterValues& v, int k) {
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

std::string encode(const CheckpointMeta& meta) {
  std::string bytes(checkpointSize(), '\0');
  auto* p = reinterpret_cast<unsigned char*>(bytes.data());
  std::memcpy(p, kMagic, 8);
  putU32(p + 8, kCheckpointVersion);
  putU32(p + 12, kRows);
  putU32(p + 16, kCols);
  putU32(p + 20, kStoredRows);
  for (int k = 0; k < 6; ++k) putF64(p + 24 + 8 * k, parameterAt(parameterValues, k));
  putU64(p + 72, static_cast<std::uint64_t>(meta.completedIterations));
  putF64(p + 80, meta.prevOmegaSqSum);
  putF64(p + 88, meta.lastResidual);
  putF64(p + 96, omegaSqSum);
  putF64(p + 104, meta.loopSeconds);
  putU32(p + 112, meta.converged ? 1u : 0u);
  unsigned char* out = p + kHeaderSize;
  for (const Field* f : {&T, &Omega, &Psi})
    for (int i = 0; i < kStoredRows; ++i)
      for (int j = 0; j < kCols; ++j, out += 8) putF64(out, (*f)[i][j]);
  putU32(out, crc(p, bytes.size() - 4));
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
                        const ParameterValues* expected, ParameterValues& stored) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  auto sizeText = [&](std::size_t n) {
    std::string s;
    appendInteger(s, static_cast<long long>(n));
    return s;
  };
  if (bytes.size() >= 8 && std::memcmp(p, kMagic, 8) != 0)
    return refused(path, ru("это не файл контрольной точки plume").str());
  if (bytes.size() < kHeaderSize)
    return refused(path, ru("файл обрезан: ").str() + sizeText(bytes.size()) +
                             ru(" байт вместо ").str() + sizeText(checkpointSize()));
  std::uint32_t version = getU32(p + 8);
  if (version != kCheckpointVersion)
    return refused(path, ru("формат версии ").str() + sizeText(version) +
                             ru(", эта программа читает версию ").str() +
                             sizeText(kCheckpointVersion));
  std::uint32_t rows = getU32(p + 12), cols = getU32(p + 16), storedRows = getU32(p + 20);
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
  if (crc(p, bytes.size() - 4) != getU32(p + bytes.size() - 4))
    return refused(path, ru("файл поврежден: контрольная сумма не совпадает").str());
  double values[6];
  for (int k = 0; k < 6; ++k) values[k] = getF64(p + 24 + 8 * k);
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
  r.meta.completedIterations = static_cast<std::int64_t>(getU64(p + 72));
  r.meta.prevOmegaSqSum = getF64(p + 80);
  r.meta.lastResidual = getF64(p + 88);
  r.meta.loopSeconds = getF64(p + 104);
  r.meta.converged = (getU32(p + 112) & 1u) != 0;
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

CheckpointRead readAndValidate(const std::string& path, const ParameterValues* expected,
                               std::string& bytes, ParameterValues& stored) {
  std::error_code ec;
  bool present = std::filesystem::exists(path, ec);
  if (!present) return {CheckpointStatus::Missing, fileText(path) + ru(": файла нет\n").str()};
  if (!readAll(path, bytes)) return refused(path, ru("файл не удалось прочитать").str());
  return validate(path, bytes, expected, stored);
}

// Sets the fields from the stored rows; the mirror half by the mirror rule,
// its walls as the initial state and the wall-vorticity rule leave them.
void load(const unsigned char* p, const ParameterValues& values) {
  setInitialState(values);
  const unsigned char* in = p + kHeaderSize;
  for (Field* f : {&T, &Omega, &Psi})
    for (int i = 0; i < kStoredRows; ++i)
      for (int j = 0; j < kCols; ++j, in += 8) (*f)[i][j] = getF64(in);
  mirrorHalf(T, Omega, Psi);
  mirrorWallVorticity(Omega);
  omegaSqSum = getF64(p + 96);
}

void warnNotWritten(const std::string& path, std::string_view why) {
  consoleWrite(ru("Предупреждение: не удалось записать контрольную точку '").str() + path + "' (" +
               std::string(why) + ")\n");
}

}  // namespace

std::size_t checkpointSize() { return kHeaderSize + 3 * kFieldBytes + 4; }

std::string checkpointPath() {
  return "Result/251_301_5_150/checkpoint_Gr_" + formatNumber(Gr) + ".bin";
}

bool writeCheckpoint(const CheckpointMeta& meta) {
  const std::string path = checkpointPath();
  const std::string temp = path + ".tmp";
  const std::string bytes = encode(meta);
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) {
    warnNotWritten(path, ru("файл не создается"));
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  if (ok) syncFile(f);
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::remove(temp.c_str());
    warnNotWritten(path, ru("ошибка записи"));
    return false;
  }
  std::error_code ec;
  if (!ownCheckpoint && std::filesystem::exists(path, ec)) {
    // Another run's checkpoint: keep it under a second name. A hard link
    // keeps the checkpoint's own name valid until the rename below.
    const std::string old = path + ".old";
    std::filesystem::remove(old, ec);
    std::filesystem::create_hard_link(path, old, ec);
    if (ec)
      std::filesystem::copy_file(path, old, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      std::remove(temp.c_str());
      warnNotWritten(path, ru("прежнюю не удалось сохранить как .old"));
      return false;
    }
  }
  if (!replaceFile(temp, path)) {
    std::remove(temp.c_str());
    warnNotWritten(path, ru("не удалось заменить прежнюю"));
    return false;
  }
  ownCheckpoint = true;
  return true;
}

CheckpointRead readCheckpoint(const std::string& path, const ParameterValues* expected) {
  std::string bytes;
  ParameterValues stored;
  CheckpointRead r = readAndValidate(path, expected, bytes, stored);
  if (r.status != CheckpointStatus::Loaded) return r;
  load(reinterpret_cast<const unsigned char*>(bytes.data()), stored);
  ownCheckpoint = true;
  return r;
}

CheckpointRead inspectCheckpoint(const std::string& path, const ParameterValues& expected) {
  std::string bytes;
  ParameterValues stored;
  return readAndValidate(path, &expected, bytes, stored);
}

}  // namespace plume
