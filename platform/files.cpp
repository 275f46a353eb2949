#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/platform.h"

namespace plume {

namespace {

std::string systemReason(int error) { return std::strerror(error); }

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, FileKind kind,
                         std::string* reason) {
  const std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), kind == FileKind::Binary ? "wb" : "w");
  if (f == nullptr) {
    if (reason != nullptr) *reason = systemReason(errno);
    return false;
  }
  errno = 0;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  if (ok) syncFile(f);
  int error = errno;
  ok = std::fclose(f) == 0 && ok;
  if (error == 0) error = errno;
  if (ok && !replaceFile(temp, path)) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    std::remove(temp.c_str());
    if (reason != nullptr) *reason = systemReason(error != 0 ? error : EIO);
  }
  return ok;
}

std::optional<std::string> prepareFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return ec.message();
  if (!std::filesystem::is_directory(folder, ec))
    return ec ? ec.message() : std::make_error_code(std::errc::not_a_directory).message();
  // Permissions do not tell a read-only mount or a full quota: a file is made
  // and removed.
  const std::string probe = folder + "/.plume-write-test";
  std::FILE* f = std::fopen(probe.c_str(), "wb");
  if (f == nullptr) return systemReason(errno);
  std::fclose(f);
  std::remove(probe.c_str());
  return std::nullopt;
}

}  // namespace plume
